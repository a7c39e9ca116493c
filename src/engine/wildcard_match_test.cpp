#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/exclude_filters.h"
#include "report/run_state.h"
#include "test_support.h"

namespace {

// The matcher as defined, transcribed step by step: every star is tried as
// 0, 1, 2, ... question marks, each trial a recursive match. Exponential in
// the number of stars, so only for short names and patterns.
class ReferenceMatcher {
public:
    explicit ReferenceMatcher(bool extensionRule) : extensionRuleEnabled_(extensionRule) {}

    int match(const char* name, const char* pattern) {
        size_t plen = std::strlen(pattern);
        if (plen == 0) return 0;
        size_t nlen = std::strlen(name);
        if (pattern[plen - 1] == '.') {
            return nlen == plen && std::strchr(name, '.') == nullptr ? 1 : 0;
        }
        if (extensionRuleEnabled_ && pattern[plen - 1] != '*' && plen >= 4 && plen < 260 &&
            pattern[plen - 4] == '.' && pattern[plen - 3] != '.' && pattern[plen - 2] != '.') {
            std::string extended = std::string(pattern) + "*";
            extensionRuleEnabled_ = false;
            int result = match(name, extended.c_str());
            extensionRuleEnabled_ = true;
            return result;
        }
        const char* star = std::strchr(pattern, '*');
        if (star != nullptr) {
            size_t k = static_cast<size_t>(star - pattern);
            const char* t = star + 1;
            size_t tlen = std::strlen(t);
            for (size_t i = 0; i < k; ++i) {
                if (pattern[i] == '?') break;
                if (up(name[i]) != up(pattern[i])) return 0;
            }
            size_t bound = nlen + (pattern[plen - 1] == '*' ? 1 : 0);
            for (size_t j = 0; k + j + tlen <= bound; ++j) {
                std::string candidate = std::string(pattern, k) + std::string(j, '?') + t;
                if (match(name, candidate.c_str())) return 1;
            }
            return 0;
        }
        if (nlen != plen) return 0;
        for (size_t i = 0; i < plen; ++i) {
            if (pattern[i] != '?' && up(name[i]) != up(pattern[i])) return 0;
        }
        return 1;
    }

private:
    static int up(char c) { return std::toupper(static_cast<unsigned char>(c)); }
    bool extensionRuleEnabled_;
};

class WildcardMatchTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override { resetRunState(); }

    // Compares the product with the transcription on one pair, with the
    // extension rule on and off.
    static void expectSame(const std::string& name, const std::string& pattern) {
        for (int rule = 0; rule < 2; ++rule) {
            runState.extensionRuleEnabled = rule;
            ReferenceMatcher reference(rule != 0);
            int expected = reference.match(name.c_str(), pattern.c_str());
            ASSERT_EQ(wildcardMatch(name.c_str(), pattern.c_str()), expected)
                << "name \"" << name << "\" pattern \"" << pattern << "\" extension rule "
                << rule;
        }
        runState.extensionRuleEnabled = 1;
    }

    static bool both(const char* name, const char* pattern, int expected) {
        ReferenceMatcher reference(runState.extensionRuleEnabled != 0);
        return reference.match(name, pattern) == expected &&
               wildcardMatch(name, pattern) == expected;
    }
};

// A fixed-seed generator, the same sequence on every platform.
class Generator {
public:
    explicit Generator(uint64_t seed) : state_(seed) {}
    uint32_t below(uint32_t bound) {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33) % bound;
    }
    std::string word(const char* alphabet, uint32_t longest) {
        uint32_t length = below(longest + 1);
        std::string text;
        size_t letters = std::strlen(alphabet);
        for (uint32_t i = 0; i < length; ++i) {
            text += alphabet[below(static_cast<uint32_t>(letters))];
        }
        return text;
    }

private:
    uint64_t state_;
};

void allWords(const std::string& alphabet, size_t longest, std::vector<std::string>& out,
              std::string prefix = "") {
    out.push_back(prefix);
    if (prefix.size() == longest) return;
    for (char c : alphabet) allWords(alphabet, longest, out, prefix + c);
}

TEST_F(WildcardMatchTest, QuestionMarkStandsForExactlyOneCharacter) {
    EXPECT_EQ(wildcardMatch("ABC", "a?c"), 1);
    EXPECT_EQ(wildcardMatch("a.c", "a?c"), 1);
    EXPECT_EQ(wildcardMatch("ac", "a?c"), 0);
    EXPECT_EQ(wildcardMatch("abcd", "a?c"), 0);
}

TEST_F(WildcardMatchTest, StarStandsForAnyRunButNeedsANonEmptyName) {
    EXPECT_EQ(wildcardMatch("a", "a*"), 1);
    EXPECT_EQ(wildcardMatch("abc", "a*"), 1);
    EXPECT_EQ(wildcardMatch("bac", "a*"), 0);
    EXPECT_EQ(wildcardMatch("abc", "*b*"), 1);
    EXPECT_EQ(wildcardMatch("acc", "*b*"), 0);
    EXPECT_EQ(wildcardMatch("x", "*"), 1);
    EXPECT_EQ(wildcardMatch(std::string(255, 'n').c_str(), "*"), 1);
    EXPECT_EQ(wildcardMatch("", "*"), 0);
}

TEST_F(WildcardMatchTest, EmptyPatternMatchesNothing) {
    EXPECT_EQ(wildcardMatch("", ""), 0);
    EXPECT_EQ(wildcardMatch("a", ""), 0);
}

TEST_F(WildcardMatchTest, LetterCaseIsIgnoredButHighBytesCompareExactly) {
    EXPECT_EQ(wildcardMatch("a.TMP", "*.tmp"), 1);
    EXPECT_EQ(wildcardMatch("README", "readme"), 1);
    // No case pairs outside ASCII: 0xE9 and 0xC9 stay different.
    EXPECT_EQ(wildcardMatch("caf\xE9", "CAF\xC9"), 0);
    EXPECT_EQ(wildcardMatch("caf\xE9", "CAF\xE9"), 1);
    EXPECT_EQ(wildcardMatch("\xE9t\xE9", "*T\xE9"), 1);
}

TEST_F(WildcardMatchTest, ThreeLetterExtensionAlsoMatchesLongerExtensions) {
    EXPECT_EQ(wildcardMatch("page.htm", "*.htm"), 1);
    EXPECT_EQ(wildcardMatch("page.html", "*.htm"), 1);
    EXPECT_EQ(wildcardMatch("page.ht", "*.ht"), 1);
    EXPECT_EQ(wildcardMatch("page.htm", "*.ht"), 0);
    EXPECT_EQ(wildcardMatch("page.html", "*.ht"), 0);
    EXPECT_EQ(wildcardMatch("a.txt", "a.txt"), 1);
    EXPECT_EQ(wildcardMatch("a.txtold", "a.txt"), 1);
    EXPECT_EQ(wildcardMatch("a.tx", "a.txt"), 0);
}

TEST_F(WildcardMatchTest, ExtensionRuleFollowsItsFlag) {
    runState.extensionRuleEnabled = 0;
    EXPECT_EQ(wildcardMatch("page.html", "*.htm"), 0);
    EXPECT_EQ(wildcardMatch("page.htm", "*.htm"), 1);
    runState.extensionRuleEnabled = 1;
    EXPECT_EQ(wildcardMatch("page.html", "*.htm"), 1);
    EXPECT_EQ(runState.extensionRuleEnabled, 1);
}

TEST_F(WildcardMatchTest, TrailingDotDecidesByLengthAndAbsentDots) {
    EXPECT_EQ(wildcardMatch("ab", "*."), 1);
    EXPECT_EQ(wildcardMatch("abc", "*."), 0);
    EXPECT_EQ(wildcardMatch("a.", "*."), 0);
    EXPECT_EQ(wildcardMatch("wxyz", "abc."), 1);
    EXPECT_EQ(wildcardMatch("abc", "abc."), 0);
    EXPECT_EQ(wildcardMatch("ab.c", "abc."), 0);
}

// Consequences of the definition that a plain glob would not share; the
// transcription must agree with the product on each.
TEST_F(WildcardMatchTest, ExpansionQuirksAgreeWithTheDefinition) {
    // A star before other text counts the later stars as characters.
    EXPECT_TRUE(both("ab", "*a*b", 0));
    EXPECT_TRUE(both("axb", "*a*b", 1));
    EXPECT_TRUE(both("abc", "a*b*c", 0));
    // The trailing-dot test inside an expansion: "ab?." is a trial of "ab?.*".
    EXPECT_TRUE(both("abxy", "ab?.*", 1));
    EXPECT_TRUE(both("abxyz", "ab?.*", 0));
    // "*.*" reaches "???." for names without a dot.
    EXPECT_TRUE(both("abc", "*.*", 1));
    // The extension rule applies to a trial: ".abx" is a trial of ".ab*x".
    EXPECT_TRUE(both(".abxyz", ".ab*x", 1));
    runState.extensionRuleEnabled = 0;
    EXPECT_TRUE(both(".abxyz", ".ab*x", 0));
}

TEST_F(WildcardMatchTest, AgreesWithDefinitionOnEveryShortPair) {
    std::vector<std::string> patterns;
    std::vector<std::string> names;
    allWords("aB.?*", 4, patterns);
    allWords("Ab.", 4, names);
    for (const auto& pattern : patterns) {
        for (const auto& name : names) {
            expectSame(name, pattern);
            if (HasFatalFailure()) return;
        }
    }
}

TEST_F(WildcardMatchTest, AgreesWithDefinitionOnGeneratedPairs) {
    Generator generator(20240611);
    for (int i = 0; i < 60000; ++i) {
        std::string pattern = generator.word("aAbB..??***", 9);
        std::string name = generator.word("aAbB..x?*", 8);
        expectSame(name, pattern);
        if (HasFatalFailure()) return;
    }
}

TEST_F(WildcardMatchTest, AgreesWithDefinitionAroundExtensionsAndTrailingDots) {
    Generator generator(77);
    for (int i = 0; i < 40000; ++i) {
        // Shapes that put a dot fourth from the end of the pattern or of a
        // trial, or end a trial in a dot.
        std::string pattern;
        switch (generator.below(4)) {
            case 0:
                pattern = generator.word("a?*.", 4) + "." + generator.word("ab?*", 3);
                break;
            case 1:
                pattern = generator.word("ab?*.", 3) + ".*" + generator.word("?b*", 2);
                break;
            case 2:
                pattern = generator.word("a?*", 3) + "." + generator.word("?*a", 2) + "*";
                break;
            default:
                pattern = generator.word("a.?*", 6) + ".";
                break;
        }
        std::string name = generator.word("aAbB.", 8);
        expectSame(name, pattern);
        if (HasFatalFailure()) return;
    }
}

TEST_F(WildcardMatchTest, AgreesWithDefinitionOnLongerNamesAndSegments) {
    // Names past the four characters a tail keeps, and segments as long as
    // one, so that tails are carried across segments and long '?' runs;
    // few stars keep the transcription quick.
    Generator generator(5150);
    for (int i = 0; i < 20000; ++i) {
        std::string pattern = generator.word("ab.?.aB", 6);
        for (uint32_t stars = generator.below(4); stars > 0; --stars) {
            pattern += "*" + generator.word("ab.?.aB", 6);
        }
        std::string name = generator.word(i % 2 == 0 ? "aAbB." : "ab.c", 11);
        name += generator.word("aAb.", 9);
        expectSame(name, pattern);
        if (HasFatalFailure()) return;
    }
}

TEST_F(WildcardMatchTest, ExtensionRuleLengthLimitHoldsForTrials) {
    // The pattern is 260 characters long, too long for the rule, but its
    // trial without the star is 259 long and gets it.
    std::string body = std::string(255, 'k') + ".abc";
    std::string pattern = "*" + body;
    ASSERT_EQ(pattern.size(), 260u);
    for (const std::string& name : {body, body + "z", "z" + body, body + "zz", body.substr(1)}) {
        expectSame(name, pattern);
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(wildcardMatch((body + "z").c_str(), pattern.c_str()), 1);
    // Without the star, the 260-character pattern matches only itself.
    std::string plain = "k" + body;
    EXPECT_EQ(wildcardMatch((plain + "z").c_str(), plain.c_str()), 0);
    EXPECT_EQ(wildcardMatch(plain.c_str(), plain.c_str()), 1);
}

TEST_F(WildcardMatchTest, ManyStarsOnTheLongestNameFinishAtOnce) {
    // Trying trial after trial would take about 255^12 steps here.
    std::string name(254, 'a');
    std::string pattern;
    for (int i = 0; i < 12; ++i) pattern += "*a";
    pattern += "*b";
    EXPECT_EQ(wildcardMatch((name + "c").c_str(), pattern.c_str()), 0);
    EXPECT_EQ(wildcardMatch((name + "b").c_str(), pattern.c_str()), 1);
    // Dots bring in the extension rule and the trailing-dot test; every
    // trial still ends in the letter z, which the name lacks.
    std::string dotted = "*.*a*.*a*.*a*.*z";
    EXPECT_EQ(wildcardMatch((name + ".b").c_str(), dotted.c_str()), 0);
}

TEST_F(WildcardMatchTest, NamesLongerThanAnyFileNameAreHandled) {
    std::string name = std::string(600, 'q') + ".txt";
    EXPECT_EQ(wildcardMatch(name.c_str(), "*.txt"), 1);
    EXPECT_EQ(wildcardMatch(name.c_str(), "q*q?txt"), 1);
    EXPECT_EQ(wildcardMatch(name.c_str(), "*.doc"), 0);
}

}  // namespace
