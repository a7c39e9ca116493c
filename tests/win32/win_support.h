// Helpers for the Windows tests: temporary trees with backslash paths,
// files with their attributes and times, kaz.exe as a second process, and
// the windows that process shows (message boxes, the progress dialog).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/window_text.h"

namespace wintest {

// A fresh folder under the temporary folder, removed with everything in it
// at the end (read-only entries included).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Creates a fresh, empty folder under the temporary folder and returns its
// path; the caller removes it.
std::string makeTempFolder();
// Removes a file or a whole folder; true when nothing is left of it.
bool removeTree(const std::string& path);

// Writes `content` to `path`, replacing the file; creates missing folders.
void writeFile(const std::string& path, const std::string& content);
// The whole file, or an empty text when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
// Creates a folder and any missing parents.
void makeFolders(const std::string& path);

// The attribute word, or INVALID_FILE_ATTRIBUTES.
DWORD attributes(const std::string& path);
void setAttributes(const std::string& path, DWORD attributes);

// A last-write time given as seconds since 2000-01-01 UTC, as a file time.
FILETIME fileTimeFromSeconds(long long secondsSince2000);
FILETIME lastWriteTime(const std::string& path);
void setLastWriteTime(const std::string& path, const FILETIME& time);
void setLastWriteTime(const std::string& path, long long secondsSince2000);

// kaz.exe beside the running test program.
std::string kazPath();
// An argument written so that KAZ's command splitter gives it back as it is:
// in double quotes when it is empty or holds a blank, tab or comma. (The
// splitter has no escape character, so an argument cannot hold a quote.)
std::string quoteArgument(const std::string& argument);
// The program path and the arguments, each quoted where needed.
std::string commandLineOf(const std::vector<std::string>& arguments);

// kaz.exe running as a second process. The process is killed at the latest
// by the destructor.
class KazProcess {
public:
    explicit KazProcess(const std::vector<std::string>& arguments);
    // The text after the program name, exactly as given.
    explicit KazProcess(const std::string& argumentText);
    ~KazProcess();
    KazProcess(const KazProcess&) = delete;
    KazProcess& operator=(const KazProcess&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD id() const { return processId_; }
    // Waits at most `limitMs`; true when the process has ended.
    bool wait(DWORD limitMs);
    bool running() const;
    void kill();
    // The exit code after the end; -1 while running or when never started.
    int exitCode() const;

private:
    void start(const std::string& commandLine);
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// The default wait for a whole run of kaz.exe in the tests.
inline constexpr DWORD kRunLimitMs = 60000;

// Runs kaz.exe to its end and returns its exit code; a run that is still
// going after `limitMs` is killed and gives -1.
int runKaz(const std::vector<std::string>& arguments, DWORD limitMs = kRunLimitMs);
int runKazText(const std::string& argumentText, DWORD limitMs = kRunLimitMs);

// A message box on screen: the dialog-class window with its caption and the
// text of its message control.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::string caption;
    std::string text;
};

// The top-level windows of a process with the dialog class "#32770".
std::vector<HWND> dialogWindowsOf(DWORD processId);
// Whether a dialog-class window is a message box (it has nothing but
// buttons and static texts, the message being the static with id 0xFFFF).
bool isMessageBox(HWND window);
using platform::windowText;
// The text a control holds, asked of the control itself (WM_GETTEXT): an
// edit box of another process keeps its text where windowText cannot see it.
std::string controlText(HWND control);
// A message box of the process now on screen, if any.
bool findMessageBox(DWORD processId, MessageBoxSeen& seen);
// Waits at most `limitMs` for a message box of the process; false when none
// came, or when the process ended first.
bool waitForMessageBox(const KazProcess& process, DWORD limitMs, MessageBoxSeen& seen);
// Presses the button `answer` (IDOK, IDYES, IDNO, IDCANCEL) of a message box.
bool answerMessageBox(HWND box, int answer);
// Waits for the window to close, at most `limitMs`.
bool waitForWindowGone(HWND window, DWORD limitMs);

// The progress dialog of the process: a dialog-class top-level window that
// is no message box; null when none is shown.
HWND findProgressDialog(DWORD processId);
HWND waitForProgressDialog(const KazProcess& process, DWORD limitMs);

// A run of kaz.exe whose message boxes are answered as they come: each box
// seen is recorded and pressed with `answer`. Returns the exit code, -1
// when the run did not end within `limitMs` (it is then killed).
int runKazAnswering(const std::vector<std::string>& arguments, int answer,
                    std::vector<MessageBoxSeen>& boxes, DWORD limitMs = kRunLimitMs);

}  // namespace wintest
