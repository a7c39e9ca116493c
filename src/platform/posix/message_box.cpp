// Message boxes on the terminal: the caption on one line, then the text, on
// standard error. A Yes/No question is answered on the controlling terminal;
// without one the answer is No.
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/cancel_signals.h"
#include "platform/closing_report.h"
#include "platform/message_boxes.h"
#include "platform/windows_api.h"

namespace {

std::atomic<platform::MessageBoxPresenter> presenter{nullptr};
std::atomic<platform::ReportHook> reportHook{nullptr};

// Dialog texts use CR LF line ends; a terminal wants LF alone.
std::string terminalText(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '\r' && p[1] == '\n') continue;
        out += *p;
    }
    if (out.empty() || out.back() != '\n') out += '\n';
    return out;
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// One byte of the answer; false at the end of input, or when a signal asked
// the run to stop meanwhile (the read itself would go on waiting).
bool readAnswerByte(int tty, char& c) {
    constexpr int kCheckEveryMs = 100;
    for (;;) {
        if (platform::stopConfirmedBySignal()) return false;
        pollfd answer{tty, POLLIN, 0};
        int ready = poll(&answer, 1, kCheckEveryMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0) return read(tty, &c, 1) == 1;
    }
}

int askYesNo() {
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) {
        writeAll(STDERR_FILENO, "(no terminal to answer on: taking No)\n");
        return IDNO;
    }
    int answer = IDNO;
    for (;;) {
        writeAll(tty, "[y/n] ");
        std::string line;
        char c = 0;
        while (readAnswerByte(tty, c) && c != '\n') line += c;
        if (line == "y" || line == "Y" || line == "yes") {
            answer = IDYES;
            break;
        }
        if (line == "n" || line == "N" || line == "no" || c != '\n') break;
    }
    close(tty);
    return answer;
}

}  // namespace

namespace platform {
void setMessageBoxPresenter(MessageBoxPresenter p) { presenter.store(p); }
void setReportHook(ReportHook hook) { reportHook.store(hook); }

int plainMessageBox(const char* text, const char* caption, UINT type) {
    writeAll(STDERR_FILENO, terminalText(caption ? caption : ""));
    writeAll(STDERR_FILENO, terminalText(text ? text : ""));
    if ((type & 0x0Fu) == MB_YESNO) return askYesNo();
    return IDOK;
}
}  // namespace platform

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    if (auto p = presenter.load()) return p(text ? text : "", caption ? caption : "", type);
    return platform::plainMessageBox(text, caption, type);
}

namespace platform {
void showReport(const char* text, const char* caption) {
    if (auto hook = reportHook.load()) hook();
    writeAll(STDOUT_FILENO, terminalText(caption ? caption : ""));
    writeAll(STDOUT_FILENO, terminalText(text ? text : ""));
}
}  // namespace platform
