// The count of entries the backend's listings have handed out, by which the
// read-ahead keeps its distance.
#pragma once

#include <atomic>
#include <cstdint>

namespace posix {

extern std::atomic<uint64_t> entriesListed;

}  // namespace posix
