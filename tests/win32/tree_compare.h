// Two trees compared entry by entry over FindFirstFileA: names, kinds,
// sizes, contents, last-write times and the read-only and hidden attributes.
#pragma once

#include <string>

namespace wintest {

// Every difference, one line each; empty when the trees are identical.
std::string treeDifferences(const std::string& left, const std::string& right);

}  // namespace wintest
