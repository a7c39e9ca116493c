#include "engine/paired_verify.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "engine/search_pattern.h"
#include "report/fatal_message.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "transfer/file_verify.h"

namespace {

// Larger files are left to verifyFile, whose count of bytes moves while
// they are read.
constexpr uint64_t kLargestShared = 16u << 20;
// The pairs compared before the walk reports them, at most.
constexpr uint64_t kShareBytes = 64u << 20;
constexpr size_t kSharePairs = 256;
// How long a thread looks for the other before it sleeps: waking a sleeping
// processor costs tens of microseconds, more than a small pair's compare.
constexpr auto kLookBeforeSleep = std::chrono::microseconds(100);
constexpr DWORD kBlockSize = 131072;
constexpr size_t kNotShared = ~size_t{0};

// Waits until `value` no longer holds `old`.
template <typename T>
void awaitChange(const std::atomic<T>& value, T old) {
    const auto sleepAt = std::chrono::steady_clock::now() + kLookBeforeSleep;
    while (value.load(std::memory_order_acquire) == old) {
        if (std::chrono::steady_clock::now() > sleepAt) {
            value.wait(old, std::memory_order_acquire);
            return;
        }
        std::this_thread::yield();
    }
}

// A run of one folder's pairs that both threads take from, one at a time.
struct Share {
    std::string sourcePrefix, targetPrefix;
    std::vector<const FileToVerify*> pairs;
    std::vector<uint8_t> matched;
    std::vector<uint64_t> sizes;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> helperDone{false};
};

std::atomic<uint64_t> comparedBeside{0};

// Returns how many pairs this thread compared.
size_t compareClaimed(Share& share, PairBlocks blocks, const std::function<bool()>& stop) {
    std::string source, target;
    size_t compared = 0;
    for (size_t i; (i = share.next.fetch_add(1)) < share.pairs.size(); ++compared) {
        if (stop()) return compared;
        source.assign(share.sourcePrefix).append(share.pairs[i]->name);
        target.assign(share.targetPrefix).append(share.pairs[i]->name);
        share.matched[i] =
            pairMatches(source.c_str(), target.c_str(), blocks, stop, share.sizes[i]);
    }
    return compared;
}

// The second thread. It touches nothing of the run's state: its results
// go into the share it took.
class Helper {
public:
    Helper() : thread_([this] { run(); }) {}

    void offer(Share* share) {
        pending_.store(share, std::memory_order_release);
        generation_.fetch_add(1, std::memory_order_release);
        generation_.notify_one();
    }
    // True when the helper never took the share: nothing to wait for.
    bool withdraw(Share* share) {
        Share* expected = share;
        return pending_.compare_exchange_strong(expected, nullptr);
    }

private:
    void run() {
        std::vector<char> blocks(2 * kBlockSize);
        uint32_t seen = 0;
        for (;;) {
            awaitChange(generation_, seen);
            seen = generation_.load(std::memory_order_acquire);
            Share* share = pending_.exchange(nullptr, std::memory_order_acq_rel);
            if (share == nullptr) continue;
            comparedBeside += compareClaimed(
                *share, {blocks.data(), blocks.data() + kBlockSize},
                [share] { return share->stop.load(std::memory_order_relaxed); });
            share->helperDone.store(true, std::memory_order_release);
            share->helperDone.notify_one();
        }
    }

    std::atomic<uint32_t> generation_{0};
    std::atomic<Share*> pending_{nullptr};
    std::thread thread_;
};

// Started at the first share and never ended: a run stopped by Cancel or a
// fatal message exits while the thread waits. Null when none could start.
Helper* helper() {
    static Helper* const started = []() -> Helper* {
        try {
            return new Helper;
        } catch (const std::exception&) {
            return nullptr;
        }
    }();
    return started;
}

// Throttling delays and trial runs keep to verifyFile's own way.
bool mayShare() {
    return !runState.trialRun && runState.delayOpen <= 0 && runState.delaySource <= 0 &&
           runState.delayTarget <= 0 && helper() != nullptr;
}

// The end of the run of files that starts at `from` and is reported at once.
size_t runEnd(const std::vector<FileToVerify>& files, size_t from) {
    uint64_t bytes = 0;
    size_t end = from;
    while (end < files.size() && end - from < kSharePairs && bytes < kShareBytes)
        bytes += files[end++].listedSize;
    return end;
}

void compareShared(Share& share) {
    Helper& second = *helper();
    // Largest first, so that neither thread is left with a large pair at the
    // end while the other waits.
    std::stable_sort(share.pairs.begin(), share.pairs.end(),
                     [](const FileToVerify* a, const FileToVerify* b) {
                         return a->listedSize > b->listedSize;
                     });
    share.matched.assign(share.pairs.size(), 0);
    share.sizes.assign(share.pairs.size(), 0);
    second.offer(&share);
    bool cancelled = false;
    compareClaimed(share, {runState.transferBuffer1, runState.transferBuffer2}, [&] {
        refreshProgressDisplay();
        if (checkCancel()) {
            cancelled = true;
            share.stop.store(true, std::memory_order_relaxed);
        }
        return cancelled;
    });
    if (!second.withdraw(&share)) awaitChange(share.helperDone, false);
    if (cancelled) fatalMessage(1, "Program terminated due to Cancel");
}

}  // namespace

void verifyFolderFiles(SearchPattern& source, SearchPattern& target,
                       const std::vector<FileToVerify>& files) {
    std::vector<size_t> slot;
    for (size_t from = 0; from < files.size();) {
        const size_t end = runEnd(files, from);
        Share share;
        if (mayShare()) {
            for (size_t i = from; i < end; ++i)
                if (files[i].listedSize <= kLargestShared) share.pairs.push_back(&files[i]);
        }
        if (share.pairs.size() >= 2) {
            share.sourcePrefix = source.prefix();
            share.targetPrefix = target.prefix();
            compareShared(share);
        } else {
            share.pairs.clear();
        }
        slot.assign(end - from, kNotShared);
        for (size_t k = 0; k < share.pairs.size(); ++k) slot[share.pairs[k] - &files[from]] = k;
        // Pairs found equal are counted; any other is compared again by
        // verifyFile, which tells what it finds.
        for (size_t i = from; i < end; ++i) {
            const char* name = files[i].name;
            const size_t k = slot[i - from];
            if (k != kNotShared && share.matched[k]) {
                setShownSource(source.withName(name));
                setShownTarget(target.withName(name));
                countMatchedPair(source.withName(name), target.withName(name), share.sizes[k]);
                refreshProgressDisplay();
            } else {
                verifyFile(source.withName(name), target.withName(name));
            }
        }
        from = end;
    }
}

uint64_t pairsComparedBeside() { return comparedBeside.load(); }
