#include "transfer/hole_skip.h"

#include "platform/sparse_files.h"

HoleSkip::HoleSkip(HANDLE source, HANDLE target) : source_(source), target_(target) {
    looking_ = platform::hasHoles(source) && platform::allowHoles(target);
}

bool HoleSkip::passHole(uint64_t& position) {
    if (!looking_ || position < dataEnd_) return true;
    uint64_t start = 0, end = 0;
    // A system that cannot tell where the data is gets the rest copied whole.
    if (!platform::findData(source_, position, &start, &end)) {
        looking_ = false;
        return true;
    }
    dataEnd_ = end;
    if (start <= position) return true;
    if (!platform::skipTo(source_, target_, start)) return false;
    position = start;
    skipped_ = true;
    return true;
}

DWORD HoleSkip::cut(uint64_t position, DWORD wanted) const {
    if (!looking_ || position >= dataEnd_ || dataEnd_ - position >= wanted) return wanted;
    return static_cast<DWORD>(dataEnd_ - position);
}

bool HoleSkip::finish(uint64_t size) {
    return !skipped_ || platform::setFileSize(target_, size);
}
