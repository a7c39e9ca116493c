#include "engine/paired_copy.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>

#include "engine/link_groups.h"
#include "engine/search_pattern.h"
#include "engine/shared_runs.h"
#include "report/fatal_message.h"
#include "report/run_state.h"
#include "transfer/file_copy.h"

namespace {

constexpr size_t kNotShared = ~size_t{0};

// One run of a folder's files, taken by both threads one at a time, largest
// first. A file copied beside the walk is in place but not yet told.
struct Share {
    std::string sourcePrefix, targetPrefix;
    std::vector<const FileToCopy*> files;  // largest first
    std::vector<uint8_t> placed;
    std::vector<CopiedBeside> copied;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
};

std::atomic<uint64_t> copiedBeside{0};

// Returns how many files this thread copied.
size_t copyClaimed(Share& share, char* buffer, const std::function<bool()>& stop) {
    std::string source, target;
    size_t count = 0;
    for (size_t i; (i = share.next.fetch_add(1)) < share.files.size();) {
        if (stop()) break;
        source.assign(share.sourcePrefix).append(share.files[i]->name);
        target.assign(share.targetPrefix).append(share.files[i]->name);
        share.placed[i] =
            copyNewFileBeside(source.c_str(), target.c_str(), buffer, share.stop, share.copied[i]);
        count += share.placed[i];
    }
    return count;
}

bool shareable(const FileToCopy& file) {
    return file.linkedTo == nullptr && !file.replacing && file.listedSize <= kLargestShared;
}

// Returns false when Cancel stopped the copies.
bool copyShared(Share& share) {
    std::stable_sort(share.files.begin(), share.files.end(),
                     [](const FileToCopy* a, const FileToCopy* b) {
                         return a->listedSize > b->listedSize;
                     });
    share.placed.assign(share.files.size(), 0);
    share.copied.assign(share.files.size(), CopiedBeside{});
    return workOnBothThreads(share.stop, [&share](bool beside, const auto& stopped) {
        if (beside) {
            copiedBeside += copyClaimed(share, sideThreadBuffer(0), stopped);
        } else {
            copyClaimed(share, runState.transferBuffer1, stopped);
        }
    });
}

void copyOne(SearchPattern& source, SearchPattern& target, const FileToCopy& file) {
    if (file.linkedTo != nullptr) {
        copyLinkedFile(*file.linkedTo, source.withName(file.name), target.withName(file.name));
    } else {
        copyFile(source.withName(file.name), target.withName(file.name));
    }
}

// Tells the files of a run in listing order; any not placed beside the walk
// is copied now by copyFile, unless Cancel came first.
void reportRun(SearchPattern& source, SearchPattern& target, const FileToCopy* from,
               const FileToCopy* end, const Share& share, bool cancelled) {
    std::vector<size_t> slot(end - from, kNotShared);
    for (size_t k = 0; k < share.files.size(); ++k) slot[share.files[k] - from] = k;
    for (const FileToCopy* file = from; file != end; ++file) {
        const size_t k = slot[file - from];
        if (k != kNotShared && share.placed[k]) {
            reportCopiedBeside(source.withName(file->name), target.withName(file->name),
                               share.copied[k]);
        } else if (!cancelled) {
            copyOne(source, target, *file);
        }
    }
}

}  // namespace

void copyFolderFiles(SearchPattern& source, SearchPattern& target,
                     const std::vector<FileToCopy>& files) {
    for (size_t from = 0; from < files.size();) {
        const size_t end = sharedRunEnd(files, from);
        Share share;
        // A verify's copies (of busy files) keep to copyFile's own way.
        if (mayShareWithSideThread() && !runState.verify) {
            for (size_t i = from; i < end; ++i)
                if (shareable(files[i])) share.files.push_back(&files[i]);
        }
        bool cancelled = false;
        if (share.files.size() >= 2) {
            share.sourcePrefix = source.prefix();
            share.targetPrefix = target.prefix();
            cancelled = !copyShared(share);
        } else {
            share.files.clear();
        }
        reportRun(source, target, &files[from], &files[end], share, cancelled);
        // Copies already in place were told first, so that the log names
        // every file the run left in the target.
        if (cancelled) fatalMessage(1, "Program terminated due to Cancel");
        from = end;
    }
}

uint64_t filesCopiedBeside() { return copiedBeside.load(); }
