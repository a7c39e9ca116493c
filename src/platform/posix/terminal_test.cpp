#include "platform/posix/terminal.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "platform/panel_terminal.h"
#include "test_support.h"

using platform::KeyPress;
using platform::PanelKey;

namespace {

KeyPress decoded(const std::string& bytes, size_t expectedLength) {
    KeyPress key;
    EXPECT_EQ(platform::decodePanelKey(bytes.data(), bytes.size(), key), expectedLength) << bytes;
    return key;
}

bool sameModes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           a.c_cflag == b.c_cflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

// A pseudo-terminal: the panel gets the terminal side, the test types and
// reads on the other.
class Pty : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(tcgetattr(terminal, &before), 0);
    }
    void TearDown() override {
        platform::closePanelTerminal();
        close(master);
        close(terminal);
    }
    void type(const std::string& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string drained() {
        std::string out;
        char buffer[256];
        pollfd fd{master, POLLIN, 0};
        while (poll(&fd, 1, 50) > 0) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }
    termios modes() const {
        termios now{};
        tcgetattr(terminal, &now);
        return now;
    }
    int master = -1, terminal = -1;
    termios before{};
};

}  // namespace

TEST(PanelKeys, SequencesOfTheUsualTerminals) {
    EXPECT_EQ(decoded("\x1b[A", 3).key, PanelKey::Up);
    EXPECT_EQ(decoded("\x1bOB", 3).key, PanelKey::Down);
    EXPECT_EQ(decoded("\x1b[C", 3).key, PanelKey::Right);
    EXPECT_EQ(decoded("\x1bOD", 3).key, PanelKey::Left);
    EXPECT_EQ(decoded("\x1b[Z", 3).key, PanelKey::BackTab);
    // Other sequences are taken whole, so their bytes type nothing.
    EXPECT_EQ(decoded("\x1b[1;5C5", 6).key, PanelKey::Other);
    EXPECT_EQ(decoded("\x1b[3~", 4).key, PanelKey::Other);
    EXPECT_EQ(decoded("\x1bOP", 3).key, PanelKey::Other);
    // A lone Esc may still be the start of one; Esc before a plain key is not.
    decoded("\x1b", 0);
    decoded("\x1b[", 0);
    decoded("\x1b[1;5", 0);
    EXPECT_EQ(decoded("\x1bx", 1).key, PanelKey::Escape);
    EXPECT_EQ(decoded("\r", 1).key, PanelKey::Enter);
    EXPECT_EQ(decoded("\n", 1).key, PanelKey::Enter);
    EXPECT_EQ(decoded("\t", 1).key, PanelKey::Tab);
    EXPECT_EQ(decoded("\x7f", 1).key, PanelKey::Backspace);
    EXPECT_EQ(decoded("\b", 1).key, PanelKey::Backspace);
    KeyPress five = decoded("50", 1);
    EXPECT_EQ(five.key, PanelKey::Character);
    EXPECT_EQ(five.character, '5');
    EXPECT_EQ(decoded("\x01", 1).key, PanelKey::Other);
    EXPECT_EQ(decoded("\xc3\xa9", 2).key, PanelKey::Other);
    decoded("\xe2\x82", 0);
}

TEST_F(Pty, KeysAreReadOneByOneWithoutEchoUntilClosed) {
    ASSERT_TRUE(posix::openPanelTerminalOn(terminal, false));
    termios raw = modes();
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_NE(raw.c_lflag & ISIG, 0u) << "Ctrl-C must still raise SIGINT";
    type("5");
    KeyPress key = platform::readPanelKey(1000);
    EXPECT_EQ(key.key, PanelKey::Character);
    EXPECT_EQ(key.character, '5');
    type("\x1b[B\x1b");
    EXPECT_EQ(platform::readPanelKey(1000).key, PanelKey::Down);
    EXPECT_EQ(platform::readPanelKey(1000).key, PanelKey::Escape);
    EXPECT_EQ(drained(), "") << "nothing typed is echoed";
    EXPECT_EQ(platform::readPanelKey(10).key, PanelKey::None);
    platform::closePanelTerminal();
    EXPECT_TRUE(sameModes(modes(), before));
    EXPECT_EQ(drained(), "\x1b[?25h\x1b[?7h");
    // Closing twice does no harm.
    platform::closePanelTerminal();
    EXPECT_TRUE(sameModes(modes(), before));
}

// The state letter of a thread of this process ('S' while it waits).
char threadState(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t end = line.rfind(')');
    return end != std::string::npos && end + 2 < line.size() ? line[end + 2] : '?';
}

TEST_F(Pty, AWakeUpEndsAWaitWithoutEnd) {
    ASSERT_TRUE(posix::openPanelTerminalOn(terminal, false));
    std::atomic<bool> returned{false};
    const pid_t reader = static_cast<pid_t>(syscall(SYS_gettid));
    std::thread waker([&] {
        // Best once the reader waits; a wake that comes first must not be
        // lost either.
        eventually([&] { return threadState(reader) == 'S'; });
        platform::wakePanelTerminal();
        // A lost wake leaves the reader waiting for ever: a key then ends
        // its wait, and shows.
        if (!eventually([&] { return returned.load(); })) type("x");
    });
    PanelKey key = platform::readPanelKey(-1).key;
    returned = true;
    waker.join();
    EXPECT_EQ(key, PanelKey::None);
}

TEST_F(Pty, ASizeChangeIsReported) {
    ASSERT_TRUE(posix::openPanelTerminalOn(terminal, false));
    winsize size{};
    size.ws_col = 132;
    size.ws_row = 50;
    ASSERT_EQ(ioctl(terminal, TIOCSWINSZ, &size), 0);
    EXPECT_EQ(platform::panelTerminalColumns(), 132);
    EXPECT_EQ(platform::panelTerminalRows(), 50);
    raise(SIGWINCH);
    EXPECT_EQ(platform::readPanelKey(1000).key, PanelKey::Resized);
}

TEST_F(Pty, AFatalSignalPutsTheModesBackBeforeItEndsTheProcess) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        posix::openPanelTerminalOn(terminal, false);
        raise(SIGQUIT);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGQUIT);
    EXPECT_TRUE(sameModes(modes(), before));
    EXPECT_EQ(drained(), "\x1b[?25h\x1b[?7h");
}

TEST_F(Pty, AStoppedProcessLeavesTheTerminalPlainAndTakesItBackWhenContinued) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A group of its own keeps the stop from being discarded, which the
        // kernel does for a group without a parent outside it (as under a
        // test runner started without job control).
        setpgid(0, 0);
        posix::openPanelTerminalOn(terminal, false);
        raise(SIGTSTP);
        // Continued: waits for the parent to look, then ends.
        pause();
        _exit(0);
    }
    int status = 0;
    pid_t waited = 0;
    eventually([&] {
        waited = waitpid(child, &status, WUNTRACED | WNOHANG);
        return waited != 0;
    });
    if (waited != child) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the process did not stop";
    }
    ASSERT_TRUE(WIFSTOPPED(status));
    EXPECT_TRUE(sameModes(modes(), before));
    kill(child, SIGCONT);
    EXPECT_TRUE(eventually([&] { return (modes().c_lflag & ICANON) == 0; }));
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
}
