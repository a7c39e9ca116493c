// The wildcard matcher of the exclude filters.
//
// Its meaning is defined by expansion: a star is tried as 0, 1, 2, ...
// question marks, each trial a full match of its own, so that the check of
// the text before the first star, the bounds on a trial's length, the
// trailing-dot test and the three-letter-extension rule apply to every
// trial. Trying the trials one by one costs a product of loops, one per
// star. The same trials are decided here by dynamic programming over what a
// trial's outcome can depend on, in time proportional to the number of
// stars times the name's length.
//
// A trial at depth d (d stars expanded) reads F + R: F is the expanded part
// (literals and question marks, no star), R the unexpanded rest of the
// pattern from segment d on. Its outcome depends on F only through
//   - its length L;
//   - whether F holds a question mark (hasQ). Without one, F is exactly the
//     name's first L characters (every earlier check has compared them), and
//     the check before the first star still has to look at segment d;
//   - whether F's characters agree with the name's (okF), for the final
//     character-by-character comparison;
//   - which of F's last four characters are dots (tail), for the
//     trailing-dot test and the extension rule, which look at a trial's last
//     four characters.
// The extension rule turns a trial into the same trial with a star appended,
// matched with the rule switched off; those trials form a second layer
// (ext) of the same states over the pattern followed by a star.

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/exclude_filters.h"
#include "report/run_state.h"

namespace {

// A pattern of this length or more never gets the extension rule.
constexpr size_t kExtensionRuleLimit = 260;
// Names up to this length are matched without a heap block.
constexpr size_t kShortName = 262;

unsigned char upper(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// The states of one depth: for each length L, one bit per state of F.
// Bit 0: F without a question mark. Bit 1 + okF + 2 * tail: F with one,
// where tail keeps only the `tailBits` last characters that can still
// matter further on.
struct Layer {
    uint64_t* value[2];
    uint64_t* suffix[2];  // OR of value over L..longest, for long runs of '?'
    int tailBits[2];
    long longest[2];  // the largest L a trial of this depth may have
};

uint64_t stateBit(bool hasQ, bool okF, unsigned tail, int tailBits) {
    if (!hasQ) return 1;
    unsigned kept = tail & ((1u << tailBits) - 1u);
    return uint64_t{1} << (1u + (okF ? 1u : 0u) + 2u * kept);
}

class Expansion {
public:
    Expansion(const char* name, size_t nameLength, const char* pattern, size_t patternLength,
              bool extensionRule)
        : name_(name),
          n_(nameLength),
          pattern_(pattern),
          plen_(patternLength),
          nameHasDot_(std::memchr(name, '.', nameLength) != nullptr),
          firstQuestionMark_(SIZE_MAX) {
        bool patternHasDot = false;
        for (size_t i = 0; i < plen_; ++i) {
            if (pattern_[i] == '*') ++stars_;
            if (pattern_[i] == '.') patternHasDot = true;
            if (pattern_[i] == '?' && i < firstQuestionMark_) firstQuestionMark_ = i;
            if (pattern_[i] == '.' && i + 1 < plen_ && pattern_[i + 1] == '*') {
                dotBeforeStar_ = true;
            }
        }
        // The extension rule needs a dot fourth from a trial's end.
        useExtension_ = extensionRule && patternHasDot;
    }

    bool matches();

private:
    // The pattern, with the star the extension rule appends when ext is 1.
    size_t length(int ext) const { return plen_ + static_cast<size_t>(ext); }
    char at(size_t i) const { return i < plen_ ? pattern_[i] : '*'; }
    char lastChar(int ext) const { return length(ext) == 0 ? '\0' : at(length(ext) - 1); }

    unsigned nameTail(size_t L) const {
        unsigned tail = 0;
        for (unsigned k = 0; k < 4 && k < L; ++k) {
            if (name_[L - 1 - k] == '.') tail |= 1u << k;
        }
        return tail;
    }

    void computeLayer(size_t depth, size_t start, size_t end, const Layer& next, Layer& current);

    const char* name_;
    size_t n_;
    const char* pattern_;
    size_t plen_;
    bool nameHasDot_;
    size_t firstQuestionMark_;  // SIZE_MAX when there is none
    // Only a segment ending in a dot before a star lets a trial end in a dot
    // (a pattern ending in one is decided at once). Without one, the
    // trailing-dot test is never reached, and a trial whose F disagrees
    // with the name can no longer match.
    bool dotBeforeStar_ = false;
    bool useExtension_ = false;
    size_t stars_ = 0;
};

// Decides every state of one depth, given the decided states of the next.
// The segment of this depth is pattern[start, end); end is followed by a
// star in the pattern, or by the appended one, or by nothing.
void Expansion::computeLayer(size_t depth, size_t start, size_t end, const Layer& next,
                             Layer& current) {
    const size_t segLength = end - start;
    bool segHasQ = false;
    for (size_t i = start; i < end; ++i) segHasQ = segHasQ || at(i) == '?';
    // Every trial of this depth has at least the segments before it in F;
    // when none of them holds a question mark, F without one has exactly
    // that length.
    const size_t shortest = start - depth;
    const bool prefixHasQ = firstQuestionMark_ < start;
    const size_t lastL = depth == 0 ? 0 : n_ + 1;

    struct Shape {
        bool active;
        size_t elen, rest, limit;
        bool starAfter;
        unsigned tails;  // number of tail values worth telling apart
        unsigned char nextTail[4][16];
    } shape[2];

    for (int ext = 1; ext >= 0; --ext) {
        Shape& sh = shape[ext];
        sh.active = ext == 1 ? useExtension_ : depth <= stars_;
        if (!sh.active) continue;
        sh.elen = length(ext);
        sh.rest = sh.elen - start;
        sh.starAfter = depth < stars_ + static_cast<size_t>(ext);
        sh.limit = n_ + (lastChar(ext) == '*' ? 1 : 0);

        // How many of F's last characters this depth or a deeper one looks at.
        int bits = 0;
        if (sh.rest == 0) {
            bits = (ext == 0 && useExtension_) ? 4 : (dotBeforeStar_ ? 1 : 0);
        } else if (lastChar(ext) != '*' && ext == 0 && useExtension_ && sh.rest < 4) {
            bits = 4 - static_cast<int>(sh.rest);
        }
        if (ext == 0 && useExtension_ && current.tailBits[1] > bits) bits = current.tailBits[1];
        if (sh.starAfter) {
            int deeper = next.tailBits[ext] - static_cast<int>(segLength);
            if (deeper > bits) bits = deeper;
        }
        current.tailBits[ext] = bits;
        sh.tails = 1u << bits;
        // A trial of this depth is bounded by its parent's length bound,
        // and the parent ends as the pattern does.
        current.longest[ext] =
            depth == 0 ? 0 : static_cast<long>(sh.limit) - static_cast<long>(sh.rest);

        // F's tail after this segment and j question marks.
        for (size_t j = 0; j < 4; ++j) {
            for (unsigned tail = 0; tail < 16; ++tail) {
                unsigned result = 0;
                for (size_t b = 0; b < 4; ++b) {
                    size_t fromEnd = b + 1;
                    bool dot;
                    if (fromEnd <= j) {
                        dot = false;
                    } else if (fromEnd - j <= segLength) {
                        dot = at(end - (fromEnd - j)) == '.';
                    } else {
                        dot = ((tail >> (fromEnd - j - segLength - 1)) & 1u) != 0;
                    }
                    if (dot) result |= 1u << b;
                }
                sh.nextTail[j][tail] = static_cast<unsigned char>(result);
            }
        }
    }

    for (size_t L = 0; L <= lastL; ++L) {
        // The segment against the name at L: whether its characters inside
        // the name agree, and the check before a star (stopping at the first
        // question mark, failing past the name's end).
        bool segAgrees = true;
        bool early = true;
        bool stopped = false;
        for (size_t i = 0; i < segLength && L >= shortest; ++i) {
            char p = at(start + i);
            bool inside = L + i < n_;
            bool same = inside && upper(name_[L + i]) == upper(p);
            if (p == '?') stopped = true;
            if (!stopped && !same) early = false;
            if (inside && p != '?' && !same) segAgrees = false;
        }

        for (int ext = 1; ext >= 0; --ext) {
            const Shape& sh = shape[ext];
            if (!sh.active) continue;
            uint64_t result = 0;
            auto decide = [&](bool hasQ, bool okF, unsigned tail) {
                const size_t clen = L + sh.rest;
                if (clen == 0) return false;
                if (sh.rest > 0 ? at(sh.elen - 1) == '.' : (tail & 1u) != 0) {
                    // Trailing-dot test: length and the absence of dots only.
                    return n_ == clen && !nameHasDot_;
                }
                if (ext == 0 && useExtension_ && (sh.rest == 0 || lastChar(ext) != '*') &&
                    clen >= 4 && clen < kExtensionRuleLimit) {
                    auto dotAt = [&](size_t k) {  // k-th character from the end of F + R
                        return k <= sh.rest ? at(sh.elen - k) == '.'
                                            : ((tail >> (k - sh.rest - 1)) & 1u) != 0;
                    };
                    if (dotAt(4) && !dotAt(3) && !dotAt(2)) {
                        return (current.value[1][L] &
                                stateBit(hasQ, okF, tail, current.tailBits[1])) != 0;
                    }
                }
                if (!sh.starAfter) return n_ == clen && okF && segAgrees;
                if (!hasQ && !early) return false;
                const size_t k = L + segLength;
                const bool okNext = okF && segAgrees;
                const bool hasQNext = hasQ || segHasQ;
                const long childLongest = next.longest[ext];
                const uint64_t* childValue = next.value[ext];
                const int childBits = next.tailBits[ext];
                for (size_t j = 0; j < 4; ++j) {
                    if (static_cast<long>(k + j) > childLongest) return false;
                    uint64_t bit = stateBit(hasQNext || j > 0, okNext, sh.nextTail[j][tail],
                                            childBits);
                    if ((childValue[k + j] & bit) != 0) return true;
                }
                // Four or more question marks: no dot among F's last four.
                if (static_cast<long>(k + 4) > childLongest) return false;
                return (next.suffix[ext][k + 4] & stateBit(true, okNext, 0, childBits)) != 0;
            };
            if (L >= shortest) {
                if (!prefixHasQ && L == shortest && L <= n_ && decide(false, true, nameTail(L))) {
                    result |= 1;
                }
                if (depth > 0) {
                    for (int okF = dotBeforeStar_ ? 0 : 1; okF <= 1; ++okF) {
                        for (unsigned tail = 0; tail < sh.tails; ++tail) {
                            if (decide(true, okF != 0, tail)) {
                                result |= stateBit(true, okF != 0, tail, current.tailBits[ext]);
                            }
                        }
                    }
                }
            }
            current.value[ext][L] = result;
        }
    }

    for (int ext = 0; ext < 2; ++ext) {
        if (!shape[ext].active) continue;
        uint64_t* suffix = current.suffix[ext];
        suffix[n_ + 2] = 0;
        for (size_t a = n_ + 2; a-- > 0;) {
            bool inRange = a <= lastL && static_cast<long>(a) <= current.longest[ext];
            suffix[a] = (inRange ? current.value[ext][a] : 0) | suffix[a + 1];
        }
    }
}

bool Expansion::matches() {
    const size_t width = n_ + 3;
    uint64_t local[8 * (kShortName + 3)];
    std::vector<uint64_t> heap;
    uint64_t* memory = local;
    if (n_ > kShortName) {
        heap.assign(8 * width, 0);
        memory = heap.data();
    } else {
        std::memset(local, 0, 8 * width * sizeof(uint64_t));
    }
    Layer layers[2];
    for (int i = 0; i < 2; ++i) {
        for (int ext = 0; ext < 2; ++ext) {
            layers[i].value[ext] = memory + (4 * i + 2 * ext) * width;
            layers[i].suffix[ext] = memory + (4 * i + 2 * ext + 1) * width;
            layers[i].tailBits[ext] = 0;
            layers[i].longest[ext] = -1;
        }
    }

    // Depths from the deepest up. Depth stars + 1 exists only after the
    // appended star; its segment is empty.
    Layer* next = &layers[0];
    Layer* current = &layers[1];
    if (useExtension_) {
        computeLayer(stars_ + 1, plen_ + 1, plen_ + 1, *next, *current);
        std::swap(next, current);
    }
    size_t end = plen_;
    size_t start = plen_;
    while (start > 0 && pattern_[start - 1] != '*') --start;
    for (size_t depth = stars_;; --depth) {
        computeLayer(depth, start, end, *next, *current);
        if (depth == 0) break;
        std::swap(next, current);
        end = start - 1;
        start = end;
        while (start > 0 && pattern_[start - 1] != '*') --start;
    }
    return (current->value[0][0] & 1u) != 0;
}

}  // namespace

int wildcardMatch(const char* name, const char* pattern) {
    size_t plen = std::strlen(pattern);
    if (plen == 0) return 0;
    Expansion expansion(name, std::strlen(name), pattern, plen,
                        runState.extensionRuleEnabled != 0);
    return expansion.matches() ? 1 : 0;
}
