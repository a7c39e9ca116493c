// The exclude filters: given on the command line one at a time or read from
// a list file of white-space separated words.
#pragma once

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
