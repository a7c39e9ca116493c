// The exclude filters: given on the command line one at a time or read from
// a list file of white-space separated words.
#pragma once

#include <string>
#include <string_view>

#include "platform/windows_api.h"

// Takes the text after "=" of an exclude switch: a filter, or "@" and the
// name of a list file.
void loadExcludeArgument(const char* text);
void addExcludeFilter(const char* text);

// 1 when a filter keeps the entry out of the run (and counts it), else 0.
// folderPath is the listed folder up to and including its final separator.
int isExcluded(const char* folderPath, const WIN32_FIND_DATAA& entry);
// 1 when the name matches the wildcard pattern, letter case ignored.
int wildcardMatch(const char* name, const char* pattern);

// A text holding a control character (below 0x20, or 0x7F) would break the
// line it is written on in the log, where a replay could read a line of its
// own making; such filters, sources and targets are refused.
bool holdsControlCharacter(const char* text);
// The text with each control character shown in caret form (^M, ^J, ^?), for
// a message that must not carry the character itself to the terminal.
std::string controlCharactersShown(std::string_view text);
