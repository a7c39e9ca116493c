// The terminal on standard error as the progress panel uses it: whether
// there is one, drawing on it, and reading keys from it.
#pragma once

#include <cstddef>

namespace platform {

// Whether standard error is an interactive terminal.
bool standardErrorIsTerminal();

// The terminal on standard error, as the progress panel uses it. Opening
// fails when standard error is no terminal. While the process is in the
// terminal's foreground the terminal reads key by key without echo (Ctrl-C
// still raises SIGINT); the modes are put back by closePanelTerminal, at
// exit, before a fatal signal takes its course and while the process is
// stopped (Ctrl-Z).
bool openPanelTerminal();
void closePanelTerminal();
void writePanelTerminal(const char* bytes, size_t count);
// Columns and rows of the terminal; 80 by 24 when it does not say.
int panelTerminalColumns();
int panelTerminalRows();

enum class PanelKey {
    None,      // the wait ended without a key
    Resized,   // the terminal changed size or the process was continued
    Character, // a printable character, in `character`
    Enter,
    Escape,
    Tab,
    BackTab,
    Up,
    Down,
    Left,
    Right,
    Backspace,
    Other  // any other key or control character
};
struct KeyPress {
    PanelKey key = PanelKey::None;
    char character = 0;
};

// Waits up to timeoutMs for a key, a wake-up or a size change. No key is
// read while the process is in the background.
KeyPress readPanelKey(int timeoutMs);
// Ends a readPanelKey wait early; any thread may call it.
void wakePanelTerminal();
// Decodes the key at the start of `bytes`: returns how many bytes it takes,
// or 0 when they may be the start of a longer sequence still coming.
size_t decodePanelKey(const char* bytes, size_t count, KeyPress& key);

}  // namespace platform
