// Cancel by signal: SIGINT asks first when there is a terminal to ask on,
// SIGTERM and SIGHUP stop without a question. The handlers only store, as
// long as a thread is there to see the request; when the worker could not
// be started there is none, and the signal ends the process at once.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/cancel_signals.h"
#include "platform/posix/threads.h"

namespace {

std::atomic<int32_t>* cancelFlag = nullptr;
int32_t interruptValue = platform::kCancelConfirmed;

// The exit code of a stopped run.
constexpr int kStopped = 1;

void endWhenNobodyNotices() {
    if (posix::noThreadLeftToNotice()) _exit(kStopped);
}

void onInterrupt(int) {
    // A second Ctrl-C before the check makes no second question, and never
    // turns a confirmed request back into a question.
    int32_t none = 0;
    cancelFlag->compare_exchange_strong(none, interruptValue);
    endWhenNobodyNotices();
}

void onTerminate(int) {
    cancelFlag->store(platform::kCancelConfirmed);
    endWhenNobodyNotices();
}

void install(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Reads and writes of the run go on where they were; the flag is seen at
    // the next check.
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

bool controllingTerminalExists() {
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) return false;
    close(tty);
    return true;
}

}  // namespace

namespace platform {

static_assert(std::atomic<int32_t>::is_always_lock_free,
              "signal handlers may only touch lock-free atomics");

bool stopConfirmedBySignal() {
    return cancelFlag != nullptr && cancelFlag->load() == kCancelConfirmed;
}

void installCancelSignals(std::atomic<int32_t>* flag) {
    if (flag == nullptr) return;
    interruptValue = controllingTerminalExists() ? kCancelAsk : kCancelConfirmed;
    cancelFlag = flag;
    install(SIGINT, onInterrupt);
    install(SIGTERM, onTerminate);
    install(SIGHUP, onTerminate);
}

}  // namespace platform
