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
//   - its length;
//   - whether F holds a question mark. Without one, F is exactly the name's
//     first characters (every earlier check has compared them), and the
//     check before the first star still has to look at segment d;
//   - whether F's characters agree with the name's (agrees), for the final
//     character-by-character comparison;
//   - which of F's last four characters are dots (tailDots), for the
//     trailing-dot test and the extension rule, which look at a trial's last
//     four characters.
// The extension rule turns a trial into the same trial with a star appended,
// matched with the rule switched off; those trials form a second layer
// (extended = 1) of the same states over the pattern followed by a star.

#include <algorithm>
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
// The trailing-dot test and the extension rule look no further back than
// this many characters from a trial's end.
constexpr size_t kTailLength = 4;
constexpr unsigned kTailValues = 1u << kTailLength;

unsigned char upper(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// The states of one depth: for each length of F, one bit per state of F.
// Bit 0: F without a question mark. Bit 1 + agrees + 2 * tailDots: F with
// one, where tailDots keeps only the `tailBits` last characters that can
// still matter further on. Index 1 of each pair is the extended layer.
struct Layer {
    uint64_t* states[2];
    uint64_t* statesFrom[2];  // OR of states over length..longest, for long runs of '?'
    int tailBits[2];
    long longest[2];  // the largest length of F a trial of this depth may have
};

uint64_t stateBit(bool hasQuestionMark, bool agrees, unsigned tailDots, int tailBits) {
    if (!hasQuestionMark) return 1;
    unsigned kept = tailDots & ((1u << tailBits) - 1u);
    return uint64_t{1} << (1u + (agrees ? 1u : 0u) + 2u * kept);
}

// The segment of one depth, pattern[start, end): end is followed by a star
// in the pattern, or by the appended one, or by nothing.
struct Segment {
    size_t depth;
    size_t start;
    size_t end;
    size_t length;
    bool hasQuestionMark;
    // Every trial of this depth has at least the segments before it in F;
    // when none of them holds a question mark, F without one has exactly
    // that length.
    size_t shortest;
    bool questionMarkBefore;  // in a segment before this one
    size_t lastLength;  // the longest F the states are kept for
    // F's tail dots after this segment and `marks` question marks, for each
    // tail before it.
    unsigned char tailAfter[kTailLength][kTailValues];
};

// What one layer's trials of a depth share.
struct LayerShape {
    bool active;
    size_t patternLength;  // the appended star included
    size_t restLength;     // of R, the pattern from the segment on
    size_t lengthBound;    // of a trial: the name's, one more after a final star
    bool starAfter;        // a star follows the segment
    unsigned tailValues;   // number of tail values worth telling apart
};

// The trials of one layer whose F has one length, with what deciding them
// reads: the segment laid over the name there, and the states already known.
struct TrialsAtLength {
    int extended;
    size_t length;
    // The segment's characters inside the name agree with it.
    bool segmentAgrees;
    // The check before a star: it stops at the first question mark and
    // fails past the name's end.
    bool passesStarCheck;
    const Segment& segment;
    const LayerShape& shape;
    const Layer& next;
    const Layer& current;
};

class Expansion {
public:
    Expansion(const char* name, size_t nameLength, const char* pattern, size_t patternLength,
              bool extensionRule)
        : name_(name),
          nameLength_(nameLength),
          pattern_(pattern),
          patternLength_(patternLength),
          nameHasDot_(std::memchr(name, '.', nameLength) != nullptr),
          firstQuestionMark_(SIZE_MAX) {
        bool patternHasDot = false;
        for (size_t i = 0; i < patternLength_; ++i) {
            if (pattern_[i] == '*') ++starCount_;
            if (pattern_[i] == '.') patternHasDot = true;
            if (pattern_[i] == '?' && i < firstQuestionMark_) firstQuestionMark_ = i;
            if (pattern_[i] == '.' && i + 1 < patternLength_ && pattern_[i + 1] == '*') {
                dotBeforeStar_ = true;
            }
        }
        // The extension rule needs a dot fourth from a trial's end.
        useExtension_ = extensionRule && patternHasDot;
    }

    bool matches();

private:
    // The pattern, with the star the extension rule appends when extended is 1.
    size_t patternLength(int extended) const {
        return patternLength_ + static_cast<size_t>(extended);
    }
    char patternAt(size_t i) const { return i < patternLength_ ? pattern_[i] : '*'; }
    char lastPatternChar(int extended) const {
        return patternLength(extended) == 0 ? '\0' : patternAt(patternLength(extended) - 1);
    }

    unsigned nameTailDots(size_t length) const {
        unsigned tailDots = 0;
        for (unsigned k = 0; k < kTailLength && k < length; ++k) {
            if (name_[length - 1 - k] == '.') tailDots |= 1u << k;
        }
        return tailDots;
    }

    void computeLayer(size_t depth, size_t start, size_t end, const Layer& next, Layer& current);
    Segment describeSegment(size_t depth, size_t start, size_t end) const;
    void fillTailAfter(Segment& segment) const;
    LayerShape shapeLayer(int extended, const Segment& segment, const Layer& next,
                          Layer& current) const;
    int tailBitsNeeded(int extended, const Segment& segment, const LayerShape& shape,
                       const Layer& next, const Layer& current) const;
    void laySegmentOver(const Segment& segment, size_t length, bool& agrees,
                        bool& passesStarCheck) const;
    uint64_t decideStates(const TrialsAtLength& trials) const;
    bool decideState(const TrialsAtLength& trials, bool hasQuestionMark, bool agrees,
                     unsigned tailDots) const;
    bool extensionRuleApplies(const TrialsAtLength& trials, unsigned tailDots,
                              size_t trialLength) const;
    bool deeperTrialMatches(const TrialsAtLength& trials, bool hasQuestionMark, bool agrees,
                            unsigned tailDots) const;
    void fillStatesFrom(int extended, const Segment& segment, Layer& current) const;

    const char* name_;
    size_t nameLength_;
    const char* pattern_;
    size_t patternLength_;
    bool nameHasDot_;
    size_t firstQuestionMark_;  // SIZE_MAX when there is none
    // Only a segment ending in a dot before a star lets a trial end in a dot
    // (a pattern ending in one is decided at once). Without one, the
    // trailing-dot test is never reached, and a trial whose F disagrees
    // with the name can no longer match.
    bool dotBeforeStar_ = false;
    bool useExtension_ = false;
    size_t starCount_ = 0;
};

// Decides every state of one depth, given the decided states of the next.
void Expansion::computeLayer(size_t depth, size_t start, size_t end, const Layer& next,
                             Layer& current) {
    const Segment segment = describeSegment(depth, start, end);
    // The extended layer first: the other one reads its tail bits and states.
    LayerShape shapes[2];
    for (int extended = 1; extended >= 0; --extended) {
        shapes[extended] = shapeLayer(extended, segment, next, current);
    }
    for (size_t length = 0; length <= segment.lastLength; ++length) {
        bool segmentAgrees = true;
        bool passesStarCheck = true;
        laySegmentOver(segment, length, segmentAgrees, passesStarCheck);
        for (int extended = 1; extended >= 0; --extended) {
            if (!shapes[extended].active) continue;
            const TrialsAtLength trials{extended, length, segmentAgrees, passesStarCheck,
                                        segment,  shapes[extended], next, current};
            current.states[extended][length] = decideStates(trials);
        }
    }
    for (int extended = 0; extended < 2; ++extended) {
        if (shapes[extended].active) fillStatesFrom(extended, segment, current);
    }
}

Segment Expansion::describeSegment(size_t depth, size_t start, size_t end) const {
    Segment segment{};
    segment.depth = depth;
    segment.start = start;
    segment.end = end;
    segment.length = end - start;
    for (size_t i = start; i < end; ++i) {
        segment.hasQuestionMark = segment.hasQuestionMark || patternAt(i) == '?';
    }
    segment.shortest = start - depth;
    segment.questionMarkBefore = firstQuestionMark_ < start;
    // At depth 0, F is empty.
    segment.lastLength = depth == 0 ? 0 : nameLength_ + 1;
    fillTailAfter(segment);
    return segment;
}

void Expansion::fillTailAfter(Segment& segment) const {
    for (size_t marks = 0; marks < kTailLength; ++marks) {
        for (unsigned tailDots = 0; tailDots < kTailValues; ++tailDots) {
            unsigned after = 0;
            for (size_t fromEnd = 1; fromEnd <= kTailLength; ++fromEnd) {
                bool dot;
                if (fromEnd <= marks) {
                    dot = false;  // one of the question marks
                } else if (fromEnd - marks <= segment.length) {
                    dot = patternAt(segment.end - (fromEnd - marks)) == '.';
                } else {  // before the segment: F's tail so far
                    dot = ((tailDots >> (fromEnd - marks - segment.length - 1)) & 1u) != 0;
                }
                if (dot) after |= 1u << (fromEnd - 1);
            }
            segment.tailAfter[marks][tailDots] = static_cast<unsigned char>(after);
        }
    }
}

// Sets the layer's tail bits and longest F in `current` as well.
LayerShape Expansion::shapeLayer(int extended, const Segment& segment, const Layer& next,
                                 Layer& current) const {
    LayerShape shape{};
    shape.active = extended == 1 ? useExtension_ : segment.depth <= starCount_;
    if (!shape.active) return shape;
    shape.patternLength = patternLength(extended);
    shape.restLength = shape.patternLength - segment.start;
    shape.starAfter = segment.depth < starCount_ + static_cast<size_t>(extended);
    shape.lengthBound = nameLength_ + (lastPatternChar(extended) == '*' ? 1 : 0);
    const int bits = tailBitsNeeded(extended, segment, shape, next, current);
    current.tailBits[extended] = bits;
    shape.tailValues = 1u << bits;
    // A trial of this depth is bounded by its parent's length bound, and the
    // parent ends as the pattern does.
    current.longest[extended] = segment.depth == 0 ? 0
                                                   : static_cast<long>(shape.lengthBound) -
                                                         static_cast<long>(shape.restLength);
    return shape;
}

// How many of F's last characters this depth or a deeper one looks at.
int Expansion::tailBitsNeeded(int extended, const Segment& segment, const LayerShape& shape,
                              const Layer& next, const Layer& current) const {
    const bool ruleMayApply = extended == 0 && useExtension_;
    int bits = 0;
    if (shape.restLength == 0) {
        bits = ruleMayApply ? static_cast<int>(kTailLength) : (dotBeforeStar_ ? 1 : 0);
    } else if (lastPatternChar(extended) != '*' && ruleMayApply &&
               shape.restLength < kTailLength) {
        bits = static_cast<int>(kTailLength - shape.restLength);
    }
    if (ruleMayApply) bits = std::max(bits, current.tailBits[1]);
    if (shape.starAfter) {
        bits = std::max(bits, next.tailBits[extended] - static_cast<int>(segment.length));
    }
    return bits;
}

// The segment against the name with F of the given length before it.
void Expansion::laySegmentOver(const Segment& segment, size_t length, bool& agrees,
                               bool& passesStarCheck) const {
    if (length < segment.shortest) return;  // no trial of this depth has so short an F
    bool stopped = false;
    for (size_t i = 0; i < segment.length; ++i) {
        const char p = patternAt(segment.start + i);
        const bool inside = length + i < nameLength_;
        const bool same = inside && upper(name_[length + i]) == upper(p);
        if (p == '?') stopped = true;
        if (!stopped && !same) passesStarCheck = false;
        if (inside && p != '?' && !same) agrees = false;
    }
}

uint64_t Expansion::decideStates(const TrialsAtLength& trials) const {
    const Segment& segment = trials.segment;
    const size_t length = trials.length;
    if (length < segment.shortest) return 0;
    uint64_t states = 0;
    // F without a question mark is the name's first characters.
    if (!segment.questionMarkBefore && length == segment.shortest && length <= nameLength_ &&
        decideState(trials, false, true, nameTailDots(length))) {
        states |= 1;
    }
    if (segment.depth == 0) return states;
    const int tailBits = trials.current.tailBits[trials.extended];
    for (int agrees = dotBeforeStar_ ? 0 : 1; agrees <= 1; ++agrees) {
        for (unsigned tailDots = 0; tailDots < trials.shape.tailValues; ++tailDots) {
            if (decideState(trials, true, agrees != 0, tailDots)) {
                states |= stateBit(true, agrees != 0, tailDots, tailBits);
            }
        }
    }
    return states;
}

bool Expansion::decideState(const TrialsAtLength& trials, bool hasQuestionMark, bool agrees,
                            unsigned tailDots) const {
    const LayerShape& shape = trials.shape;
    const size_t trialLength = trials.length + shape.restLength;
    if (trialLength == 0) return false;
    const bool endsInDot = shape.restLength > 0 ? patternAt(shape.patternLength - 1) == '.'
                                                : (tailDots & 1u) != 0;
    if (endsInDot) {
        // Trailing-dot test: length and the absence of dots only.
        return nameLength_ == trialLength && !nameHasDot_;
    }
    if (extensionRuleApplies(trials, tailDots, trialLength)) {
        const Layer& current = trials.current;
        return (current.states[1][trials.length] &
                stateBit(hasQuestionMark, agrees, tailDots, current.tailBits[1])) != 0;
    }
    if (!shape.starAfter) {
        return nameLength_ == trialLength && agrees && trials.segmentAgrees;
    }
    if (!hasQuestionMark && !trials.passesStarCheck) return false;
    return deeperTrialMatches(trials, hasQuestionMark, agrees, tailDots);
}

bool Expansion::extensionRuleApplies(const TrialsAtLength& trials, unsigned tailDots,
                                     size_t trialLength) const {
    const LayerShape& shape = trials.shape;
    if (trials.extended != 0 || !useExtension_) return false;
    // A trial still ending in the pattern's final star has no extension.
    if (shape.restLength != 0 && lastPatternChar(0) == '*') return false;
    if (trialLength < kTailLength || trialLength >= kExtensionRuleLimit) return false;
    auto dotAt = [&](size_t k) {  // k-th character from the end of F + R
        return k <= shape.restLength ? patternAt(shape.patternLength - k) == '.'
                                     : ((tailDots >> (k - shape.restLength - 1)) & 1u) != 0;
    };
    // A three-letter extension: a dot fourth from the end, none after it
    // but maybe the last character.
    return dotAt(4) && !dotAt(3) && !dotAt(2);
}

// With a star after the segment, the trial matches when one of its trials
// one depth down does: the star as 0, 1, 2, 3 question marks, or as four or
// more at once.
bool Expansion::deeperTrialMatches(const TrialsAtLength& trials, bool hasQuestionMark,
                                   bool agrees, unsigned tailDots) const {
    const Segment& segment = trials.segment;
    const int extended = trials.extended;
    const size_t childLength = trials.length + segment.length;  // F after the segment
    const bool childAgrees = agrees && trials.segmentAgrees;
    const bool childHasQuestionMark = hasQuestionMark || segment.hasQuestionMark;
    const long childLongest = trials.next.longest[extended];
    const uint64_t* childStates = trials.next.states[extended];
    const int childBits = trials.next.tailBits[extended];
    for (size_t marks = 0; marks < kTailLength; ++marks) {
        if (static_cast<long>(childLength + marks) > childLongest) return false;
        uint64_t bit = stateBit(childHasQuestionMark || marks > 0, childAgrees,
                                segment.tailAfter[marks][tailDots], childBits);
        if ((childStates[childLength + marks] & bit) != 0) return true;
    }
    // Four or more question marks: no dot among F's last four.
    if (static_cast<long>(childLength + kTailLength) > childLongest) return false;
    return (trials.next.statesFrom[extended][childLength + kTailLength] &
            stateBit(true, childAgrees, 0, childBits)) != 0;
}

void Expansion::fillStatesFrom(int extended, const Segment& segment, Layer& current) const {
    uint64_t* statesFrom = current.statesFrom[extended];
    statesFrom[nameLength_ + 2] = 0;
    for (size_t length = nameLength_ + 2; length-- > 0;) {
        const bool inRange = length <= segment.lastLength &&
                             static_cast<long>(length) <= current.longest[extended];
        const uint64_t here = inRange ? current.states[extended][length] : 0;
        statesFrom[length] = here | statesFrom[length + 1];
    }
}

bool Expansion::matches() {
    const size_t width = nameLength_ + 3;
    uint64_t local[8 * (kShortName + 3)];
    std::vector<uint64_t> heap;
    uint64_t* memory = local;
    if (nameLength_ > kShortName) {
        heap.assign(8 * width, 0);
        memory = heap.data();
    } else {
        std::memset(local, 0, 8 * width * sizeof(uint64_t));
    }
    Layer layers[2];
    for (int i = 0; i < 2; ++i) {
        for (int extended = 0; extended < 2; ++extended) {
            layers[i].states[extended] = memory + (4 * i + 2 * extended) * width;
            layers[i].statesFrom[extended] = memory + (4 * i + 2 * extended + 1) * width;
            layers[i].tailBits[extended] = 0;
            layers[i].longest[extended] = -1;
        }
    }

    // Depths from the deepest up. Depth starCount_ + 1 exists only after the
    // appended star; its segment is empty.
    Layer* next = &layers[0];
    Layer* current = &layers[1];
    if (useExtension_) {
        computeLayer(starCount_ + 1, patternLength_ + 1, patternLength_ + 1, *next, *current);
        std::swap(next, current);
    }
    size_t end = patternLength_;
    size_t start = patternLength_;
    while (start > 0 && pattern_[start - 1] != '*') --start;
    for (size_t depth = starCount_;; --depth) {
        computeLayer(depth, start, end, *next, *current);
        if (depth == 0) break;
        std::swap(next, current);
        end = start - 1;
        start = end;
        while (start > 0 && pattern_[start - 1] != '*') --start;
    }
    return (current->states[0][0] & 1u) != 0;
}

}  // namespace

int wildcardMatch(const char* name, const char* pattern) {
    size_t patternLength = std::strlen(pattern);
    if (patternLength == 0) return 0;
    Expansion expansion(name, std::strlen(name), pattern, patternLength,
                        runState.extensionRuleEnabled != 0);
    return expansion.matches() ? 1 : 0;
}
