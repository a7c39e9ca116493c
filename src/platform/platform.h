// What the rest of KAZ needs to know about the platform besides the
// Windows-shaped calls: its path and switch conventions, its limits, and
// the few services that have no Win32 counterpart.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/windows_api.h"

namespace platform {

// The character that separates folder names in a path.
extern const char kPathSeparator;
// The character that introduces a switch on the command line.
extern const char kSwitchPrefix;
// The longest path the platform accepts, in bytes, terminator excluded.
extern const int kMaxPath;
// Whether drive-letter rules ("C:") apply to paths.
extern const bool kDriveLetters;

// Whether two file names or paths name the same thing on this platform
// (exact on POSIX, letter case ignored on Windows).
bool sameName(const char* a, const char* b);

// Keeps the process's argument vector, as main received it.
void setProcessArguments(int argc, char** argv);
// The argument vector when the platform hands one over already split (POSIX),
// with the arguments after the program name as one text (each quoted where
// it would not read back as one word); null where the command line has to
// be split by the program (Windows).
char** processArgumentVector(int* argc, const char** argumentText);

// Whether standard error is an interactive terminal.
bool standardErrorIsTerminal();

// Message boxes normally go to the terminal. A progress display that owns
// the terminal installs its own presenter so that boxes appear inside it;
// null restores the plain one.
using MessageBoxPresenter = int (*)(const char* text, const char* caption, UINT type);
void setMessageBoxPresenter(MessageBoxPresenter presenter);

}  // namespace platform

namespace platform {

// When the process runs as root, gives `target` (never following a final
// symbolic link) the owner and group of `source`; elsewhere does nothing.
// Returns FALSE with the last error set when a needed change failed.
BOOL copyOwner(const char* source, const char* target);
// The same between two open files: the one being read and its copy being
// written, so that no name is looked up again.
BOOL copyOwnerOfOpen(HANDLE source, HANDLE target);

}  // namespace platform

namespace platform {

// The closing report of a run without a log: a message box on Windows, the
// caption and the text on standard output elsewhere.
void showReport(const char* text, const char* caption);

}  // namespace platform

namespace platform {

// Whether the first n bytes of two paths are the same on this platform.
bool sameNamePrefix(const char* a, const char* b, size_t n);
// Whether the first n bytes of two texts are the same with the letter case of
// ASCII letters ignored, on every platform (switch names, unlike file names).
bool sameTextIgnoringCase(const char* a, const char* b, size_t n);
// A hash that agrees with sameName: names that are the same hash alike.
size_t nameHash(const char* name);

// The real path of `path` with every link, "." and ".." resolved; a path
// whose last parts do not exist yet keeps them, appended to the real path of
// the longest part that exists. False when nothing of it can be resolved.
bool resolvePath(const char* path, std::string& resolved);

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

namespace platform {

// When `path` is a shortcut to a folder (on POSIX a symbolic link whose
// target is a folder), sets `folder` to that folder as an absolute local
// path, without a separator at the end unless it is the root, and returns
// true. Anything else (a plain file or folder, a link to a file, a dangling
// link) gives false.
bool readFolderShortcut(const char* path, std::string& folder);

}  // namespace platform

namespace platform {

// Copies up to `count` bytes from the current position of `source` to the
// current position of `target` inside the kernel (copy offload), advancing
// both. TRUE: *copied bytes were copied, fewer than `count` only at the end of
// the source. FALSE: the offload is not available for this pair or stopped
// part way; *copied still tells what was copied (both positions are past it),
// and the caller goes on with plain reads and writes, which report any real
// failure.
BOOL copyFileRange(HANDLE source, HANDLE target, DWORD count, DWORD* copied);

}  // namespace platform

namespace platform {

// A plain message box on the terminal, whatever presenter is installed: the
// presenter falls back to it while it has nothing on the screen yet.
int plainMessageBox(const char* text, const char* caption, UINT type);
// Called before the closing report is written to standard output, so that a
// display on the same terminal can step aside first; null for none.
using ReportHook = void (*)();
void setReportHook(ReportHook hook);

}  // namespace platform

namespace platform {

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

namespace platform {

// Reads the metadata of the tree under `folder` ahead of a walk, on a
// background thread, and changes nothing; stopping it waits for that thread.
// Null where the platform gains nothing from it (or cannot start a thread).
class TreePrefetch;
TreePrefetch* startTreePrefetch(const char* folder);
void stopTreePrefetch(TreePrefetch* prefetch);

}  // namespace platform
