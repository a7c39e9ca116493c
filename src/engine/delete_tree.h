#pragma once

#include <string>

#include "platform/windows_api.h"

// What removeTargetEntry and deleteTree give when the delete limit
// (-limitDelete) kept the entry, or part of the folder and with it the
// folder itself.
constexpr int kKeptByLimit = 2;

// Removes one target file, or a target folder with everything in it, as far
// as the delete limit allows: entries go one by one, files and folders alike
// counted, until the limit is reached. 1 when the entry is gone (or would
// be, in a trial run), 0 on a failure, kKeptByLimit.
int removeTargetEntry(const char* path, const WIN32_FIND_DATAA& entry);
// 1 when the folder is gone (or would be, in a trial run), 0 on a failure,
// kKeptByLimit.
int deleteTree(const char* folder);
// "Delete limit of N reached: M entries not removed" when the limit kept
// anything, else empty.
std::string deleteLimitReport();
