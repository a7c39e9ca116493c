// Ctrl-C in the console that started KAZ is the Cancel button; closing that
// console, logging off or shutting down is a confirmed Cancel.
#include "platform/cancel_signals.h"
#include "platform/windows_api.h"

namespace {

std::atomic<int32_t>* cancelFlag = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (cancelFlag == nullptr) return FALSE;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        int32_t none = 0;
        cancelFlag->compare_exchange_strong(none, platform::kCancelAsk);
    } else {
        cancelFlag->store(platform::kCancelConfirmed);
    }
    return TRUE;
}

}  // namespace

namespace platform {

void installCancelSignals(std::atomic<int32_t>* flag) {
    cancelFlag = flag;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace platform
