// Micro-benchmark of the exclude-filter wildcard matcher on a 255-byte name
// with the most demanding patterns we could construct: many stars, question
// marks and dots, failing only at the very end.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/exclude_filters.h"
#include "report/run_state.h"

namespace {

// 255 bytes: "a.a.a. ... a.b" style, dots everywhere the extension rule looks.
std::string dottedName() {
    std::string name;
    while (name.size() < 253) name += "a.";
    name += "ab";
    return name.substr(0, 255);
}

std::string repeat(const std::string& piece, size_t length) {
    std::string s;
    while (s.size() + piece.size() <= length) s += piece;
    return s;
}

void run(benchmark::State& state, const std::string& name, const std::string& pattern,
         bool extensionRule) {
    runState.extensionRuleEnabled = extensionRule ? 1 : 0;
    int matched = 0;
    for (auto _ : state) {
        matched += wildcardMatch(name.c_str(), pattern.c_str());
        benchmark::DoNotOptimize(matched);
    }
    state.SetLabel(matched ? "match" : "no match");
}

// Stars and question marks alternating, ending in a letter the name lacks.
void StarsAndQuestionMarks(benchmark::State& state) {
    run(state, std::string(255, 'a'), repeat("*?", 250) + "*b", true);
}
// Stars around dots over a dotted name, failing on the last letter.
void StarsDotsDottedName(benchmark::State& state) {
    run(state, dottedName(), repeat("*.", 250) + "*z", true);
}
// Every kind mixed, pattern as long as the name, extension rule on.
void MixedLongPattern(benchmark::State& state) {
    run(state, dottedName(), repeat("*?.*a?*.", 248) + "*.zzz", true);
}
// The same without the extension rule.
void MixedLongPatternNoExtensionRule(benchmark::State& state) {
    run(state, dottedName(), repeat("*?.*a?*.", 248) + "*.zzz", false);
}
// A typical filter, for scale.
void TypicalFilter(benchmark::State& state) {
    run(state, dottedName(), "*.tmp", true);
}

}  // namespace

BENCHMARK(StarsAndQuestionMarks);
BENCHMARK(StarsDotsDottedName);
BENCHMARK(MixedLongPattern);
BENCHMARK(MixedLongPatternNoExtensionRule);
BENCHMARK(TypicalFilter);
BENCHMARK_MAIN();
