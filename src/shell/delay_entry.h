// What a delay box of the progress dialog accepts: the characters that may be
// typed into it, and the check that Enter makes before the values are taken.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t kDelayMinimum = -1;
inline constexpr int32_t kDelayMaximum = 10000;

inline constexpr const char* kDelayNotAnInteger = "Please enter an integer.";
inline constexpr const char* kDelayOutOfRange = "Please enter an integer between -1 and 10000.";

// Whether a character typed into a box that holds `text` is taken: digits,
// control characters (backspace) and one minus sign, anywhere.
bool delayCharacterTaken(const std::string& text, char c);

// Reads a whole number with an optional leading minus and nothing around it;
// numbers far outside the range come out as some value far outside it.
bool readWholeNumber(const std::string& text, long long& value);

// Reads a box's text as a delay. Returns null and sets `value` when it is a
// whole number within the range; otherwise the complaint to show.
const char* checkDelayText(const std::string& text, int32_t& value);
