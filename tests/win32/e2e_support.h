// What the Windows end-to-end tests share: a source tree with what real
// trees hold, and reading the log of a run.
#pragma once

#include <string>
#include <vector>

#include "win32/win_support.h"

namespace wintest {

// Nesting, an empty folder, sizes around the copy block, read-only and
// hidden files, names with blanks, commas and brackets, old times.
void buildSourceTree(const std::string& root);

// The part of `text` from `from` up to (not including) `to`; empty when
// `from` is missing.
std::string between(const std::string& text, const std::string& from, const std::string& to);
int countOf(const std::string& text, const std::string& what);
// The log's statistics line for `label` (": Total files copied:" ...),
// including its value and line end; empty when missing.
std::string statLine(const std::string& log, const std::string& label);

// Runs kaz.exe to its end; any message box it shows fails the test (with
// its text) and is answered OK, so that no run waits for its time limit.
int runWithoutBoxes(const std::vector<std::string>& arguments);

// A folder listing with sizes, times and attributes, to see that a run
// changed nothing.
std::string snapshot(const std::string& root);

// A run of kaz.exe on source, target and log with /nowarn.
class KazRun {
    TempFolder folder_;  // first: the paths below are made from it

public:
    KazRun();
    const std::string& folder() const { return folder_.path(); }
    std::string source, target, log;
    int mirror(const std::vector<std::string>& extra = {});
    std::string logText() const { return readFile(log); }
};

}  // namespace wintest
