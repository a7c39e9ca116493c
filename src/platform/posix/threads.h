// What the signal handlers need to know of the threads started here.
#pragma once

namespace posix {

// True when a thread could not be started and no thread started by
// CreateThread runs: a Cancel request stored for it would never be seen.
// Async-signal-safe.
bool noThreadLeftToNotice();

}  // namespace posix
