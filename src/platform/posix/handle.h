// Every HANDLE that the POSIX backend gives out points to one of these.
// CloseHandle and FindClose delete it; the destructor of each kind releases
// what it holds (descriptor, locks, listing, thread reference).
#pragma once

#include "platform/windows_api.h"

namespace posix {

struct Handle {
    enum class Kind { File, Find, Thread, Pseudo };
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    const Kind kind;
};

// The handle behind a HANDLE value, or null for null and INVALID_HANDLE_VALUE.
inline Handle* fromHandle(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<Handle*>(h);
}

}  // namespace posix
