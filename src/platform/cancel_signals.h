// Cancel requests from outside the program (signals, console events), and
// the values a cancel request is stored as.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// Makes SIGINT a Cancel request (one that asks first when there is a
// terminal to ask on) and SIGTERM and SIGHUP a confirmed Cancel, by storing
// kCancelAsk or kCancelConfirmed into *flag. The handlers only store, while
// a thread is there to see the request.
inline constexpr int32_t kCancelAsk = 1;
inline constexpr int32_t kCancelConfirmed = 2;
void installCancelSignals(std::atomic<int32_t>* flag);
// Whether a SIGTERM or SIGHUP (or a Ctrl-C without a terminal) has asked the
// run to stop: a question that waits for an answer gives up then.
bool stopConfirmedBySignal();

}  // namespace platform
