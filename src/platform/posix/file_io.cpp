// Reading, writing and closing open files.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/copy_offload.h"
#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_handle.h"
#include "platform/windows_api.h"

namespace posix {

FileHandle::~FileHandle() {
    release();
}

int FileHandle::release() {
    if (fd < 0) return 0;
    int result = close(fd) == 0 ? 0 : errno;
    fd = -1;
    // The descriptor is gone even when close reports an error.
    return result == EINTR ? 0 : result;
}

FileHandle* fileHandle(HANDLE handle) {
    Handle* base = fromHandle(handle);
    if (base == nullptr || base->kind != Handle::Kind::File) return nullptr;
    return static_cast<FileHandle*>(base);
}

namespace {

DWORD readLinkText(FileHandle& file, char* buffer, DWORD wanted) {
    size_t left = file.linkText.size() - file.linkOffset;
    size_t count = std::min<size_t>(left, wanted);
    std::memcpy(buffer, file.linkText.data() + file.linkOffset, count);
    file.linkOffset += count;
    return static_cast<DWORD>(count);
}

// Reads until `wanted` bytes are there or the file ends. Returns the error
// number, 0 on success; `done` holds what was read either way.
int readFully(int fd, char* buffer, DWORD wanted, DWORD& done) {
    done = 0;
    while (done < wanted) {
        ssize_t count = read(fd, buffer + done, wanted - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        if (count == 0) break;
        done += static_cast<DWORD>(count);
    }
    return 0;
}

int writeFully(int fd, const char* buffer, DWORD wanted, DWORD& done) {
    done = 0;
    while (done < wanted) {
        ssize_t count = write(fd, buffer + done, wanted - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return errno;
        // No progress and no error: the device is full.
        if (count == 0) return ENOSPC;
        done += static_cast<DWORD>(count);
    }
    return 0;
}

void store(DWORD* target, DWORD value) {
    if (target != nullptr) *target = value;
}

}  // namespace
}  // namespace posix

using namespace posix;

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, DWORD* read, LPVOID) {
    store(read, 0);
    FileHandle* file = fileHandle(handle);
    if (file == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    if (!file->readable) return failWithCode(ERROR_ACCESS_DENIED);
    if (buffer == nullptr && toRead > 0) return failWithCode(ERROR_INVALID_PARAMETER);
    file->seenCurrent = false;
    Injection fault = injectedFault(Call::ReadFile, file->path.c_str());
    toRead = fault.allowed(toRead);
    char* bytes = static_cast<char*>(buffer);
    DWORD done = 0;
    int err = 0;
    if (file->isLink) {
        done = readLinkText(*file, bytes, toRead);
    } else {
        err = readFully(file->fd, bytes, toRead, done);
    }
    store(read, done);
    if (err != 0) return failWithErrno(err);
    return fault.fails() ? failWithCode(fault.code) : TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) {
    FileHandle* file = fileHandle(handle);
    if (file == nullptr || file->isLink) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    const int64_t high = distanceHigh != nullptr ? *distanceHigh : (distanceLow < 0 ? -1 : 0);
    const int64_t distance =
        static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | static_cast<uint32_t>(distanceLow));
    if (moveMethod != FILE_BEGIN || distance < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const off_t position = lseek(file->fd, static_cast<off_t>(distance), SEEK_SET);
    if (position < 0) {
        SetLastError(windowsError(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(position >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written, LPVOID) {
    store(written, 0);
    FileHandle* file = fileHandle(handle);
    if (file == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    if (!file->writable || file->isLink) return failWithCode(ERROR_ACCESS_DENIED);
    if (buffer == nullptr && toWrite > 0) return failWithCode(ERROR_INVALID_PARAMETER);
    file->seenCurrent = false;
    Injection fault = injectedFault(Call::WriteFile, file->path.c_str());
    toWrite = fault.allowed(toWrite);
    DWORD done = 0;
    int err = writeFully(file->fd, static_cast<const char*>(buffer), toWrite, done);
    store(written, done);
    if (err != 0) return failWithErrno(err);
    return fault.fails() ? failWithCode(fault.code) : TRUE;
}

// A close can be the first place a network or full file system reports that
// written data did not arrive; that failure is passed on.
BOOL CloseHandle(HANDLE handle) {
    Handle* base = fromHandle(handle);
    if (base == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    if (base->kind == Handle::Kind::Pseudo) return TRUE;
    FileHandle* file = base->kind == Handle::Kind::File ? static_cast<FileHandle*>(base) : nullptr;
    // An injected failure still closes, as a failing close does.
    Injection fault = injectedFault(Call::CloseHandle, file ? file->path.c_str() : nullptr);
    int err = file != nullptr ? file->release() : 0;
    delete base;
    if (err != 0) return failWithErrno(err);
    return fault.fails() ? failWithCode(fault.code) : TRUE;
}

namespace platform {

BOOL copyFileRange(HANDLE source, HANDLE target, DWORD count, DWORD* copied) {
    store(copied, 0);
    FileHandle* from = fileHandle(source);
    FileHandle* to = fileHandle(target);
    if (from == nullptr || to == nullptr || from->isLink || to->isLink || !from->readable ||
        !to->writable)
        return failWithCode(ERROR_NOT_SUPPORTED);
    from->seenCurrent = to->seenCurrent = false;
    Injection fault = injectedFault(Call::CopyFileRange, from->path.c_str(), to->path.c_str());
    count = fault.allowed(count);
    DWORD done = 0;
    while (done < count) {
        ssize_t moved = copy_file_range(from->fd, nullptr, to->fd, nullptr, count - done, 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0) {
            store(copied, done);
            return failWithErrno(errno);
        }
        if (moved == 0) {
            // Some file systems (procfs, sysfs, some FUSE) report an end at once
            // where there is data; only a plain read can tell a true end there.
            store(copied, done);
            return done > 0 ? TRUE : failWithCode(ERROR_NOT_SUPPORTED);
        }
        done += static_cast<DWORD>(moved);
    }
    store(copied, done);
    return fault.fails() ? failWithCode(fault.code) : TRUE;
}

}  // namespace platform
