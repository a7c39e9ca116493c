#include "support/run_stop.h"

#include <atomic>

#include "platform/windows_api.h"

namespace {

std::atomic<RunStop> installedStop{nullptr};

}  // namespace

void installRunStop(RunStop stop) { installedStop = stop; }

void stopRun(int exitCode, const char* message) {
    if (RunStop stop = installedStop.load()) {
        stop(exitCode, message);
    } else if (message != nullptr) {
        MessageBoxA(nullptr, message, "KAZ - message", MB_OK);
    }
    ExitThread(static_cast<DWORD>(exitCode));
}
