// How the backend's calls consult the test faults (platform/fault_injection.h).
#pragma once

#include <atomic>

#include "platform/fault_injection.h"
#include "platform/windows_api.h"

namespace posix {

using platform::faults::Call;

// What an armed fault asks of the current call.
struct Injection {
    bool fired = false;
    DWORD code = 0;  // fail with this error; 0 for none
    DWORD limit = platform::faults::kNoLimit;

    bool fails() const { return code != 0; }
    // The bytes the call may move of `wanted`.
    DWORD allowed(DWORD wanted) const {
        if (fired && code != 0 && limit == platform::faults::kNoLimit) return 0;
        return limit < wanted ? limit : wanted;
    }
};

extern std::atomic<bool> faultsArmed;
Injection consultFaults(Call call, const char* path, const char* otherPath);

// Called at the top of each faultable call with the name(s) it is about.
inline Injection injectedFault(Call call, const char* path = nullptr,
                               const char* otherPath = nullptr) {
    if (!faultsArmed.load(std::memory_order_relaxed)) return Injection{};
    return consultFaults(call, path, otherPath);
}

}  // namespace posix
