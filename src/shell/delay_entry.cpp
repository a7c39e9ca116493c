#include "shell/delay_entry.h"

bool readWholeNumber(const std::string& text, long long& value) {
    size_t at = text.empty() || text[0] != '-' ? 0 : 1;
    if (at == text.size()) return false;
    value = 0;
    for (size_t i = at; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        // Far outside the range already; stops the growth.
        if (value < 1000000000LL) value = value * 10 + (text[i] - '0');
    }
    if (at == 1) value = -value;
    return true;
}

bool delayCharacterTaken(const std::string& text, char c) {
    if (c == '-') return text.find('-') == std::string::npos;
    return (c >= '0' && c <= '9') || static_cast<unsigned char>(c) < 32;
}

const char* checkDelayText(const std::string& text, int32_t& value) {
    long long read = 0;
    if (!readWholeNumber(text, read)) return kDelayNotAnInteger;
    if (read < kDelayMinimum || read > kDelayMaximum) return kDelayOutOfRange;
    value = static_cast<int32_t>(read);
    return nullptr;
}
