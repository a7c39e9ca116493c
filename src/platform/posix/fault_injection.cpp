#include "platform/posix/fault_injection.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/fault_injection.h"

namespace posix {

std::atomic<bool> faultsArmed{false};

namespace {

using platform::faults::Fault;

struct ArmedFault {
    Fault fault;
    int id = 0;
    int seen = 0;
    int fired = 0;
};

std::mutex registryLock;
int nextId = 1;

// Never destroyed: a call made while the process exits still finds it.
std::vector<ArmedFault>& registry() {
    static auto* faults = new std::vector<ArmedFault>;
    return *faults;
}

bool nameMatches(const Fault& fault, const char* name) {
    if (name == nullptr) return false;
    return fault.exactPath ? fault.path == name : std::strstr(name, fault.path.c_str()) != nullptr;
}

bool matches(const Fault& fault, Call call, const char* path, const char* otherPath) {
    if (fault.call != call) return false;
    return fault.path.empty() || nameMatches(fault, path) || nameMatches(fault, otherPath);
}

bool spent(const ArmedFault& armed) {
    return armed.fault.times != platform::faults::kForever && armed.fired >= armed.fault.times;
}

}  // namespace

// Every matching fault counts the call; the first one due fires.
Injection consultFaults(Call call, const char* path, const char* otherPath) {
    Injection result;
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> lock(registryLock);
        for (ArmedFault& armed : registry()) {
            if (!matches(armed.fault, call, path, otherPath)) continue;
            int earlier = armed.seen++;
            if (result.fired || earlier < armed.fault.after || spent(armed)) continue;
            ++armed.fired;
            result.fired = true;
            result.code = armed.fault.code;
            result.limit = armed.fault.limit;
            action = armed.fault.action;
        }
    }
    if (action) action();
    return result;
}

}  // namespace posix

namespace platform::faults {

int arm(Fault fault) {
    std::lock_guard<std::mutex> lock(posix::registryLock);
    int id = posix::nextId++;
    posix::registry().push_back(posix::ArmedFault{std::move(fault), id, 0, 0});
    posix::faultsArmed.store(true, std::memory_order_relaxed);
    return id;
}

int firings(int id) {
    std::lock_guard<std::mutex> lock(posix::registryLock);
    for (const posix::ArmedFault& armed : posix::registry()) {
        if (armed.id == id) return armed.fired;
    }
    return 0;
}

void disarmAll() {
    std::lock_guard<std::mutex> lock(posix::registryLock);
    posix::faultsArmed.store(false, std::memory_order_relaxed);
    posix::registry().clear();
}

}  // namespace platform::faults
