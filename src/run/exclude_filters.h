// The exclude filters: given on the command line one at a time or read from
// a list file of white-space separated words.
#pragma once

// Takes the text after "=" of an exclude switch: a filter, or "@" and the
// name of a list file.
void loadExcludeArgument(const char* text);
void addExcludeFilter(const char* text);
