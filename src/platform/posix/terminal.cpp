// The terminal the progress panel draws on and reads keys from: standard
// error's terminal, reopened for reading, in non-canonical mode without echo
// while the process is in the foreground.
#include "platform/posix/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/panel_terminal.h"

namespace {

// Cursor shown, line wrap on: the state a shell expects back.
constexpr char kResetSequence[] = "\x1b[?25h\x1b[?7h";
constexpr int kEscapeWaitMs = 40;
constexpr int kFatalSignals[] = {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kFatalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

// The one terminal the panel is drawn on, with what the process changed of
// it. The signal handlers read it, so it is a plain process-wide record;
// closing the panel puts it back to these values, except the handlers'
// and the exit hook's registration.
struct PanelTerminal {
    int terminalFd = -1;
    bool ownFd = false;
    bool foregroundOnly = true;
    int wakePipe[2] = {-1, -1};
    struct termios savedModes {};
    std::atomic<bool> modesSaved{false};
    std::atomic<bool> rawNow{false};
    std::atomic<bool> resized{false};
    struct sigaction previousFatal[kFatalCount];
    struct sigaction previousStop, previousContinue, previousResize;
    bool handlersInstalled = false;
    bool exitHookRegistered = false;
    // Key bytes read but not yet decoded.
    char pending[64];
    size_t pendingCount = 0;
};

PanelTerminal tty;

void writeRaw(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

bool inForeground() {
    if (tty.terminalFd < 0) return false;
    if (!tty.foregroundOnly) return true;
    pid_t group = tcgetpgrp(tty.terminalFd);
    return group != -1 && group == getpgrp();
}

// Only async-signal-safe calls below: the signal handlers use them.
void applyRaw() {
    if (!tty.modesSaved.load() || !inForeground()) return;
    struct termios raw = tty.savedModes;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(tty.terminalFd, TCSANOW, &raw) == 0) tty.rawNow.store(true);
}

void restoreModes() {
    if (tty.terminalFd < 0) return;
    if (tty.rawNow.exchange(false)) tcsetattr(tty.terminalFd, TCSANOW, &tty.savedModes);
    writeRaw(tty.terminalFd, kResetSequence, sizeof kResetSequence - 1);
}

void wake() {
    if (tty.wakePipe[1] >= 0) {
        char byte = 1;
        ssize_t ignored = write(tty.wakePipe[1], &byte, 1);
        (void)ignored;
    }
}

void onFatal(int signalNumber) {
    restoreModes();
    for (int i = 0; i < kFatalCount; ++i) {
        if (kFatalSignals[i] == signalNumber)
            sigaction(signalNumber, &tty.previousFatal[i], nullptr);
    }
    // Delivered with the previous action once this handler returns; a fault
    // also simply happens again.
    raise(signalNumber);
}

void onStop(int) {
    int savedErrno = errno;
    restoreModes();
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    struct sigaction mine;
    sigaction(SIGTSTP, &plain, &mine);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    raise(SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    // Continued: the continue handler has taken the terminal back.
    sigaction(SIGTSTP, &mine, nullptr);
    errno = savedErrno;
}

void onContinue(int) {
    int savedErrno = errno;
    applyRaw();
    tty.resized.store(true);
    wake();
    errno = savedErrno;
}

void onResize(int) {
    int savedErrno = errno;
    tty.resized.store(true);
    wake();
    errno = savedErrno;
}

void installHandlers() {
    if (tty.handlersInstalled) return;
    tty.handlersInstalled = true;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onFatal;
    for (int i = 0; i < kFatalCount; ++i)
        sigaction(kFatalSignals[i], &action, &tty.previousFatal[i]);
    action.sa_handler = onStop;
    sigaction(SIGTSTP, &action, &tty.previousStop);
    action.sa_handler = onContinue;
    sigaction(SIGCONT, &action, &tty.previousContinue);
    action.sa_handler = onResize;
    sigaction(SIGWINCH, &action, &tty.previousResize);
}

void removeHandlers() {
    if (!tty.handlersInstalled) return;
    tty.handlersInstalled = false;
    for (int i = 0; i < kFatalCount; ++i)
        sigaction(kFatalSignals[i], &tty.previousFatal[i], nullptr);
    sigaction(SIGTSTP, &tty.previousStop, nullptr);
    sigaction(SIGCONT, &tty.previousContinue, nullptr);
    sigaction(SIGWINCH, &tty.previousResize, nullptr);
}

void closeAtExit() { platform::closePanelTerminal(); }

void drainWake() {
    char bytes[64];
    while (read(tty.wakePipe[0], bytes, sizeof bytes) > 0) {
    }
}

// Waits for the terminal or the wake pipe; true when the terminal has bytes.
bool waitReadable(int timeoutMs, bool withTerminal, bool& woken) {
    struct pollfd fds[2] = {{tty.wakePipe[0], POLLIN, 0}, {tty.terminalFd, POLLIN, 0}};
    int n = poll(fds, withTerminal ? 2 : 1, timeoutMs);
    woken = n > 0 && (fds[0].revents & POLLIN) != 0;
    if (woken) drainWake();
    return n > 0 && withTerminal && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool readMore() {
    if (tty.pendingCount == sizeof tty.pending) return false;
    ssize_t n = read(tty.terminalFd, tty.pending + tty.pendingCount,
                     sizeof tty.pending - tty.pendingCount);
    if (n <= 0) return false;
    tty.pendingCount += static_cast<size_t>(n);
    return true;
}

platform::KeyPress takePending(size_t count, platform::KeyPress key) {
    std::memmove(tty.pending, tty.pending + count, tty.pendingCount - count);
    tty.pendingCount -= count;
    return key;
}

}  // namespace

namespace posix {

bool openPanelTerminalOn(int fd, bool foregroundOnlyKeys) {
    if (tty.terminalFd >= 0) return true;
    if (pipe2(tty.wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    tty.terminalFd = fd;
    tty.foregroundOnly = foregroundOnlyKeys;
    tty.pendingCount = 0;
    tty.resized.store(false);
    if (tcgetattr(fd, &tty.savedModes) == 0) tty.modesSaved.store(true);
    installHandlers();
    if (!tty.exitHookRegistered) {
        tty.exitHookRegistered = true;
        std::atexit(closeAtExit);
    }
    applyRaw();
    return true;
}

}  // namespace posix

namespace platform {

bool openPanelTerminal() {
    if (!standardErrorIsTerminal()) return false;
    const char* name = ttyname(STDERR_FILENO);
    int fd = name != nullptr ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd < 0) fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return false;
    if (!posix::openPanelTerminalOn(fd, true)) {
        close(fd);
        return false;
    }
    tty.ownFd = true;
    return true;
}

void closePanelTerminal() {
    if (tty.terminalFd < 0) return;
    restoreModes();
    removeHandlers();
    tty.modesSaved.store(false);
    if (tty.ownFd) close(tty.terminalFd);
    tty.ownFd = false;
    tty.terminalFd = -1;
    for (int& end : tty.wakePipe) {
        close(end);
        end = -1;
    }
}

void writePanelTerminal(const char* bytes, size_t count) {
    if (tty.terminalFd >= 0) writeRaw(tty.terminalFd, bytes, count);
}

int panelTerminalColumns() {
    struct winsize size {};
    if (tty.terminalFd >= 0 && ioctl(tty.terminalFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

int panelTerminalRows() {
    struct winsize size {};
    if (tty.terminalFd >= 0 && ioctl(tty.terminalFd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) {
        return size.ws_row;
    }
    return 24;
}

void wakePanelTerminal() { wake(); }

KeyPress readPanelKey(int timeoutMs) {
    KeyPress key;
    if (tty.terminalFd < 0) return key;
    for (;;) {
        if (tty.resized.exchange(false)) return KeyPress{PanelKey::Resized, 0};
        if (tty.pendingCount > 0) {
            size_t used = decodePanelKey(tty.pending, tty.pendingCount, key);
            if (used > 0) return takePending(used, key);
            // A lone Esc is told from the start of a sequence by the pause
            // after it.
            bool woken = false;
            if (!waitReadable(kEscapeWaitMs, true, woken) || !readMore()) {
                return takePending(1, KeyPress{PanelKey::Escape, 0});
            }
            continue;
        }
        bool keys = inForeground();
        bool woken = false;
        bool readable = waitReadable(timeoutMs, keys, woken);
        if (readable && readMore()) continue;
        if (tty.resized.exchange(false)) return KeyPress{PanelKey::Resized, 0};
        return key;
    }
}

size_t decodePanelKey(const char* bytes, size_t count, KeyPress& key) {
    if (count == 0) return 0;
    auto c = static_cast<unsigned char>(bytes[0]);
    key = KeyPress{PanelKey::Other, 0};
    if (c == 0x1b) {
        if (count < 2) return 0;
        char kind = bytes[1];
        if (kind != '[' && kind != 'O') {
            key.key = PanelKey::Escape;
            return 1;
        }
        if (count < 3) return 0;
        if (kind == 'O') {
            switch (bytes[2]) {
                case 'A': key.key = PanelKey::Up; break;
                case 'B': key.key = PanelKey::Down; break;
                case 'C': key.key = PanelKey::Right; break;
                case 'D': key.key = PanelKey::Left; break;
                default: break;
            }
            return 3;
        }
        // A control sequence runs to its final byte.
        for (size_t i = 2; i < count; ++i) {
            auto b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x40 || b > 0x7e) continue;
            if (i == 2) {
                switch (b) {
                    case 'A': key.key = PanelKey::Up; break;
                    case 'B': key.key = PanelKey::Down; break;
                    case 'C': key.key = PanelKey::Right; break;
                    case 'D': key.key = PanelKey::Left; break;
                    case 'Z': key.key = PanelKey::BackTab; break;
                    default: break;
                }
            }
            return i + 1;
        }
        return count >= sizeof tty.pending ? count : 0;
    }
    if (c == '\r' || c == '\n') {
        key.key = PanelKey::Enter;
    } else if (c == '\t') {
        key.key = PanelKey::Tab;
    } else if (c == 0x7f || c == 0x08) {
        key.key = PanelKey::Backspace;
    } else if (c >= 0x20 && c < 0x7f) {
        key = KeyPress{PanelKey::Character, static_cast<char>(c)};
    } else if (c >= 0xc0) {
        // One key of several bytes (UTF-8), taken whole.
        size_t length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : 2;
        if (count < length) return 0;
        return length;
    }
    return 1;
}

}  // namespace platform
