#include "engine/paired_verify.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "engine/search_pattern.h"
#include "engine/shared_runs.h"
#include "platform/listed_open.h"
#include "platform/tree_prefetch.h"
#include "report/fatal_message.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "transfer/file_verify.h"

namespace {

constexpr size_t kNotShared = ~size_t{0};

// Pairs longer than this are compared in parts of this length, which the two
// threads take like whole pairs: a folder with one large file among small
// ones would otherwise keep one thread on it while the other waits.
constexpr uint64_t kPartBytes = 1u << 20;

// A run of one folder's pairs, cut into parts that both threads take from,
// one at a time, largest first.
struct Share {
    struct Part {
        size_t pair;
        PairPart bytes;
        uint64_t expected;  // by the listed size
    };
    std::string sourcePrefix, targetPrefix;
    // The target folder's plain files, by its entries' types.
    const std::vector<std::string>* targetFiles = nullptr;
    std::vector<const FileToVerify*> pairs;
    std::vector<Part> parts;
    std::vector<uint8_t> partMatched;
    std::vector<uint64_t> partSizes;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};

    void cutIntoParts() {
        for (size_t k = 0; k < pairs.size(); ++k) {
            const uint64_t size = pairs[k]->listedSize;
            for (uint64_t from = 0;; from += kPartBytes) {
                const bool last = size - from <= kPartBytes;
                parts.push_back({k, {from, last ? UINT64_MAX : kPartBytes},
                                 last ? size - from : kPartBytes});
                if (last) break;
            }
        }
        std::stable_sort(parts.begin(), parts.end(),
                         [](const Part& a, const Part& b) { return a.expected > b.expected; });
        partMatched.assign(parts.size(), 0);
        partSizes.assign(parts.size(), 0);
    }
    // A pair matched when every part did, all with the same size.
    void gather(std::vector<uint8_t>& matched, std::vector<uint64_t>& sizes) const {
        matched.assign(pairs.size(), 1);
        sizes.assign(pairs.size(), UINT64_MAX);
        for (size_t i = 0; i < parts.size(); ++i) {
            const size_t k = parts[i].pair;
            if (sizes[k] == UINT64_MAX) sizes[k] = partSizes[i];
            if (!partMatched[i] || partSizes[i] != sizes[k]) matched[k] = 0;
        }
    }
};

std::atomic<uint64_t> comparedBeside{0};

// Returns how many parts this thread compared.
size_t compareClaimed(Share& share, PairBlocks blocks, const std::function<bool()>& stop) {
    std::string source, target;
    size_t compared = 0;
    for (size_t i; (i = share.next.fetch_add(1)) < share.parts.size(); ++compared) {
        if (stop()) return compared;
        const Share::Part& part = share.parts[i];
        const FileToVerify& file = *share.pairs[part.pair];
        source.assign(share.sourcePrefix).append(file.name);
        target.assign(share.targetPrefix).append(file.name);
        const bool targetListed = std::binary_search(
            share.targetFiles->begin(), share.targetFiles->end(), std::string_view(file.name));
        const ListedPair pair{source.c_str(), target.c_str(), file.listedAttributes,
                              targetListed ? platform::listedPlainFile() : 0};
        share.partMatched[i] = pairMatches(pair, blocks, stop, part.bytes, share.partSizes[i]);
    }
    return compared;
}

// Where the trees' caches are cold, the first blocks of every pair of the
// run are asked for at once on both sides, so that the disks work on them
// together; the opens that follow ask for nothing more (on a warm cache this
// is one question a folder, where a hint at each open cost one a file).
void announceReads(const Share& share) {
    std::vector<const char*> names;
    names.reserve(share.pairs.size());
    for (const FileToVerify* pair : share.pairs) names.push_back(pair->name);
    platform::expectReads(share.sourcePrefix.c_str(), names);
    platform::expectReads(share.targetPrefix.c_str(), names);
}

void compareShared(Share& share) {
    announceReads(share);
    share.cutIntoParts();
    const bool done = workOnBothThreads(share.stop, [&share](bool beside, const auto& stopped) {
        if (beside) {
            comparedBeside +=
                compareClaimed(share, {sideThreadBuffer(0), sideThreadBuffer(1)}, stopped);
        } else {
            compareClaimed(share, {runState.transferBuffer1, runState.transferBuffer2}, stopped);
        }
    });
    if (!done) fatalMessage(1, "Program terminated due to Cancel");
}

}  // namespace

void verifyFolderFiles(SearchPattern& source, SearchPattern& target,
                       const std::vector<FileToVerify>& files) {
    std::vector<size_t> slot;
    std::vector<uint8_t> matched;
    std::vector<uint64_t> sizes;
    std::vector<std::string> targetFiles;
    bool targetListed = false;
    for (size_t from = 0; from < files.size();) {
        const size_t end = sharedRunEnd(files, from);
        Share share;
        if (mayShareWithSideThread()) {
            for (size_t i = from; i < end; ++i)
                if (files[i].listedSize <= kLargestShared) share.pairs.push_back(&files[i]);
        }
        if (share.pairs.size() >= 2) {
            share.sourcePrefix = source.prefix();
            share.targetPrefix = target.prefix();
            // The target is never listed by the walk: its entries' types let
            // its opens trust them, as the source's opens trust its listing.
            if (!targetListed) targetFiles = platform::plainFilesIn(share.targetPrefix.c_str());
            targetListed = true;
            share.targetFiles = &targetFiles;
            compareShared(share);
        } else {
            share.pairs.clear();
        }
        share.gather(matched, sizes);
        slot.assign(end - from, kNotShared);
        for (size_t k = 0; k < share.pairs.size(); ++k) slot[share.pairs[k] - &files[from]] = k;
        // Pairs found equal are counted; any other is compared again by
        // verifyFile, which tells what it finds.
        for (size_t i = from; i < end; ++i) {
            const char* name = files[i].name;
            const size_t k = slot[i - from];
            if (k != kNotShared && matched[k]) {
                setShownSource(source.withName(name));
                setShownTarget(target.withName(name));
                countMatchedPair(source.withName(name), target.withName(name), sizes[k]);
                refreshProgressDisplay();
            } else {
                verifyFile(source.withName(name), target.withName(name));
            }
        }
        from = end;
    }
}

uint64_t pairsComparedBeside() { return comparedBeside.load(); }
