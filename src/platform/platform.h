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

}  // namespace platform

namespace platform {

// The closing report of a run without a log: a message box on Windows, the
// caption and the text on standard output elsewhere.
void showReport(const char* text, const char* caption);

}  // namespace platform

namespace platform {

// Whether the first n bytes of two paths are the same on this platform.
bool sameNamePrefix(const char* a, const char* b, size_t n);
// A hash that agrees with sameName: names that are the same hash alike.
size_t nameHash(const char* name);

// The real path of `path` with every link, "." and ".." resolved; a path
// whose last parts do not exist yet keeps them, appended to the real path of
// the longest part that exists. False when nothing of it can be resolved.
bool resolvePath(const char* path, std::string& resolved);

// Makes SIGINT a Cancel request (one that asks first when there is a
// terminal to ask on) and SIGTERM and SIGHUP a confirmed Cancel, by storing
// kCancelAsk or kCancelConfirmed into *flag. The handlers only store.
inline constexpr int32_t kCancelAsk = 1;
inline constexpr int32_t kCancelConfirmed = 2;
void installCancelSignals(std::atomic<int32_t>* flag);

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
