// What the verify and the copy of a folder's files share when they work on
// two processors: runs of files that both threads take from before the walk
// reports them, and the running of the work on both threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Larger files are left to the walk's own thread, whose count of bytes moves
// while they are read.
inline constexpr uint64_t kLargestShared = 16u << 20;

// The end of the run of files that starts at `from` and is reported at once:
// at most 256 files or 64 MiB.
template <typename File>
size_t sharedRunEnd(const std::vector<File>& files, size_t from) {
    constexpr size_t kShareFiles = 256;
    constexpr uint64_t kShareBytes = 64u << 20;
    uint64_t bytes = 0;
    size_t end = from;
    while (end < files.size() && end - from < kShareFiles && bytes < kShareBytes)
        bytes += files[end++].listedSize;
    return end;
}

// The side thread's two blocks of the transfer buffers' size (0 or 1), kept
// for the process: its work touches nothing of the run's state.
char* sideThreadBuffer(int which);

// Throttling delays and trial runs keep to the walk's own way, one file at a
// time, as does a process without a side thread.
bool mayShareWithSideThread();

// The work of one thread: `beside` is set on the side thread; `stopped` says
// when to stop taking more.
using SharedWork = std::function<void(bool beside, const std::function<bool()>& stopped)>;

// Runs `work` on the walk's thread and, at once, on the side thread, and
// returns when both are done. The walk's thread keeps the progress display
// and answers Cancel between its parts of the work, which then stops both
// (the set `stop` tells the side thread); false when Cancel came.
bool workOnBothThreads(std::atomic<bool>& stop, const SharedWork& work);
