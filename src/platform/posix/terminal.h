// The panel terminal on a given descriptor, for the tests of the backend.
#pragma once

namespace posix {

// Opens the panel terminal on `fd` (a terminal the caller keeps open);
// `foregroundOnly` false takes keys even when it is not the controlling
// terminal of the process.
bool openPanelTerminalOn(int fd, bool foregroundOnly);

}  // namespace posix
