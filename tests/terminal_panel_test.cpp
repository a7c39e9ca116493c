// The progress panel as a user meets it: kaz in a real terminal (tmux),
// driven by keys and read back from the screen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>

#include "test_support.h"

namespace {

std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

bool tmuxInstalled() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

class Tmux {
public:
    explicit Tmux(const std::string& folder, int columns = 160, int rows = 40)
        : base_("tmux -f /dev/null -L kaz-panel-" + std::to_string(getpid()) + "-" +
                std::to_string(++made_) + " ") {
        shellOutput(base_ + "new-session -d -s panel -x " + std::to_string(columns) + " -y " +
                    std::to_string(rows) + " /bin/sh");
        shellOutput(base_ + "pipe-pane -o -t panel 'cat >> " + folder + "/raw'");
    }
    ~Tmux() { shellOutput(base_ + "kill-server"); }
    std::string screen() { return shellOutput(base_ + "capture-pane -p -t panel"); }
    // With the attributes as escape sequences ("\x1b[7m" for reverse video).
    std::string styledScreen() { return shellOutput(base_ + "capture-pane -e -p -t panel"); }
    void keys(const std::string& names) { shellOutput(base_ + "send-keys -t panel " + names); }
    void text(const std::string& literal) {
        shellOutput(base_ + "send-keys -t panel -l '" + literal + "'");
    }
    // The screen once `pattern` shows on it; empty after the time is up.
    std::string waitFor(const std::string& pattern, int seconds = 60, bool styled = false) {
        std::regex wanted(pattern);
        return waitUntil([&](const std::string& now) { return std::regex_search(now, wanted); },
                         pattern, seconds, styled);
    }
    // The screen once it is `wanted`; empty after the time is up.
    std::string waitUntil(const std::function<bool(const std::string&)>& wanted,
                          const std::string& what, int seconds = 60, bool styled = false) {
        std::string shown;
        if (eventually(
                [&] {
                    shown = styled ? styledScreen() : screen();
                    return wanted(shown);
                },
                seconds))
            return shown;
        ADD_FAILURE() << "never showed " << what << ":\n" << screen();
        return {};
    }

private:
    // A server of its own for each: one that is ending takes no new session
    // with it.
    static inline int made_ = 0;
    std::string base_;
};

long figure(const std::string& screen, const std::string& label) {
    std::smatch match;
    if (!std::regex_search(screen, match, std::regex(label + " +([0-9]+)"))) return -1;
    return std::stol(match[1]);
}

std::string box(const std::string& screen, const std::string& label) {
    std::smatch match;
    if (!std::regex_search(screen, match, std::regex(label + " \\[([^\\]]*)\\]"))) return "?";
    std::string text = match[1];
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string runTime(const std::string& screen) {
    std::smatch match;
    if (!std::regex_search(screen, match, std::regex("Run Time +([0-9.:]+)"))) return "";
    return match[1];
}

// How often `pattern` shows on the screen.
size_t occurrences(const std::string& screen, const std::string& pattern) {
    std::regex wanted(pattern);
    return static_cast<size_t>(std::distance(
        std::sregex_iterator(screen.begin(), screen.end(), wanted), std::sregex_iterator()));
}

size_t bells(const std::string& folder) {
    std::string raw = readFile(folder + "/raw");
    return static_cast<size_t>(std::count(raw.begin(), raw.end(), '\a'));
}

}  // namespace

TEST(TerminalPanel, AUserWatchesChangesTheDelayAndCancels) {
    if (!tmuxInstalled()) GTEST_SKIP() << "tmux is not installed: the terminal panel is not tried";
    TempDir dir;
    std::string source = dir / "source", target = dir / "target", log = dir / "run.log";
    std::string block(4000, 'k');
    std::system(("mkdir -p " + source + "/a " + source + "/b").c_str());
    for (int i = 0; i < 1500; ++i) {
        writeFile(source + (i % 2 ? "/a/f" : "/b/g") + std::to_string(i), block + std::to_string(i));
    }
    Tmux tmux(dir.path());
    std::string command = std::string(KAZ_BINARY) + " " + source + " " + target + " " + log +
                          " -delaysource=20";
    tmux.text("stty -a > " + dir.path() + "/before; " + command + "; echo \"ended $?\"; stty -a > " +
              dir.path() + "/after.part; mv " + dir.path() + "/after.part " + dir.path() + "/after");
    tmux.keys("Enter");

    // The run's question comes inside the panel.
    std::string screen = tmux.waitFor("Do you wish to proceed\\?\n\\[y/n\\]");
    ASSERT_FALSE(screen.empty());
    tmux.keys("y");
    screen = tmux.waitFor("Files Processed +[1-9][0-9]+ ");
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.find("Do you wish"), std::string::npos);
    for (const char* label :
         {"Actual", "Virtual", "Megabytes Processed", "Files Created", "Files Deleted",
          "Folders Created", "Folders Deleted", "Megabytes/Minute", "V-Compression Ratio",
          "Busy Files", "Exception Files", "Run Time", "Delays", "[ Cancel ]"}) {
        EXPECT_NE(screen.find(label), std::string::npos) << label;
    }
    EXPECT_NE(screen.find("\nKAZ " + source + " " + target + " " + log + " -delaysource=20\n"),
              std::string::npos);
    EXPECT_EQ(box(screen, "Open"), "0");
    EXPECT_EQ(box(screen, "Source"), "20");
    EXPECT_EQ(box(screen, "Target"), "0");
    std::string firstRunTime = runTime(screen);
    ASSERT_NE(firstRunTime, "");
    long firstProcessed = figure(screen, "Files Processed");

    // The panel goes on drawing the run as it goes on.
    screen = tmux.waitUntil(
        [&](const std::string& now) {
            return runTime(now) != "" && runTime(now) != firstRunTime &&
                   figure(now, "Files Processed") > firstProcessed;
        },
        "a later run time and more files processed");
    EXPECT_FALSE(screen.empty());

    // Into the Source box: 50 replaces the 20, Enter hands it over (that
    // the run then keeps to it is the next test's).
    tmux.keys("Tab 5 0 Enter");
    tmux.waitFor("Source \\[50 ");

    // A letter rings the bell and types nothing.
    size_t bellsBefore = bells(dir.path());
    tmux.keys("Tab x");
    EXPECT_TRUE(eventually([&] { return bells(dir.path()) > bellsBefore; }));
    EXPECT_EQ(bells(dir.path()), bellsBefore + 1);
    EXPECT_EQ(box(tmux.screen(), "Open"), "0");

    tmux.text("20000");
    tmux.keys("Enter");
    screen = tmux.waitFor("Please enter an integer between -1 and 10000\\.");
    EXPECT_EQ(box(screen, "Open"), "20000");
    EXPECT_EQ(box(screen, "Source"), "50");

    // Esc asks; No goes on.
    tmux.keys("Escape");
    screen = tmux.waitFor("\nKAZ\nRozidivid - Terminate program\\?\n\\[y/n\\]");
    tmux.keys("n");
    long processed = figure(tmux.waitFor("Delays.*\n\n"), "Files Processed");
    screen = tmux.waitUntil(
        [&](const std::string& now) { return figure(now, "Files Processed") > processed; },
        "more files processed after No");
    EXPECT_FALSE(screen.empty());
    EXPECT_EQ(screen.find("Terminate program"), std::string::npos);

    // Esc again, Yes: the run ends with its log closed.
    tmux.keys("Escape");
    tmux.waitFor("Terminate program\\?\n\\[y/n\\]");
    tmux.keys("y");
    screen = tmux.waitFor("Program terminated due to Cancel\n(.*\n)*ended 1\n");
    EXPECT_TRUE(fileExists(log));
    EXPECT_FALSE(fileExists(log + ".~~~"));
    EXPECT_NE(readFile(log).find(source), std::string::npos);
    // The modes are written aside and renamed when complete.
    ASSERT_TRUE(eventually([&] { return fileExists(dir / "after"); }));
    EXPECT_EQ(readFile(dir / "after"), readFile(dir / "before"));
}

// A delay typed into the panel reaches the run. At a second a file the run
// would take five minutes; with the delay lowered to nothing it ends within
// moments of the current file's pause, long before the deadline.
TEST(TerminalPanel, ADelayLoweredInThePanelReachesTheRun) {
    if (!tmuxInstalled()) GTEST_SKIP() << "tmux is not installed: the terminal panel is not tried";
    TempDir dir;
    std::string source = dir / "source", target = dir / "target";
    std::system(("mkdir -p " + source).c_str());
    for (int i = 0; i < 300; ++i) writeFile(source + "/f" + std::to_string(i), "slow");
    Tmux tmux(dir.path());
    tmux.text(std::string(KAZ_BINARY) + " " + source + " " + target +
              " -nowarn -delaysource=1000; echo ended $?");
    tmux.keys("Enter");
    ASSERT_FALSE(tmux.waitFor("Source \\[1000 ").empty());
    tmux.keys("Tab 0 Enter");
    ASSERT_FALSE(tmux.waitFor("Source \\[0 ").empty());
    std::string screen = tmux.waitFor("\nended [0-9]+\n", 120);
    EXPECT_NE(screen.find("\nended 0\n"), std::string::npos) << screen;
    EXPECT_EQ(figure(screen, "Files Processed"), 300) << screen;
}

TEST(TerminalPanel, NarrowTerminalsShowEveryFigureWholeAndCancel) {
    if (!tmuxInstalled()) GTEST_SKIP() << "tmux is not installed: the terminal panel is not tried";
    TempDir dir;
    std::string source = dir / "source";
    std::system(("mkdir -p " + source).c_str());
    // 300 files of 3000 bytes: 0.900 megabytes.
    for (int i = 0; i < 300; ++i) writeFile(source + "/f" + std::to_string(i), std::string(3000, 'n'));
    for (int columns : {60, 40, 30}) {
        SCOPED_TRACE(std::to_string(columns) + " columns");
        std::string target = dir / ("target" + std::to_string(columns));
        Tmux tmux(dir.path(), columns, 30);
        tmux.text(std::string(KAZ_BINARY) + " " + source + " " + target + " -nowarn -delaysource=10; echo ended $?");
        tmux.keys("Enter");
        // While the run goes on Cancel is on the screen.
        std::string screen = tmux.waitFor("Files Processed +[1-9]");
        ASSERT_FALSE(screen.empty());
        EXPECT_NE(screen.find("[ Cancel ]"), std::string::npos) << screen;
        // The last figures stay on the screen, every one of them whole.
        screen = tmux.waitFor("\nended [0-9]+\n");
        ASSERT_NE(screen.find("\nended 0\n"), std::string::npos) << screen;
        if (columns >= 40) {
            EXPECT_EQ(occurrences(screen, "Files Processed +300\n"), 2u) << screen;
            EXPECT_EQ(occurrences(screen, "Megabytes Processed +0\\.900\n"), 2u) << screen;
            for (const char* figure :
                 {"Files Created +300\n", "Files Deleted +0\n", "Folders Created +1\n",
                  "Folders Deleted +0\n", "Busy Files +0\n", "Exception Files +0\n",
                  "V-Compression Ratio +1\\.00:1\n", "Megabytes/Minute +[0-9]+\\.[0-9]{3}\n",
                  "Run Time +[0-9]+\\.[0-9]{3}\n", "\\[ Cancel \\]"}) {
                EXPECT_EQ(occurrences(screen, figure), 1u) << figure << "\n" << screen;
            }
        } else {
            // A plain progress line: what it shows is whole.
            EXPECT_EQ(occurrences(screen, "Files Processed 300( |\n)"), 1u) << screen;
            EXPECT_EQ(occurrences(screen, "\\[ Cancel \\]"), 1u) << screen;
        }
    }
}

TEST(TerminalPanel, CancelWorksOnANarrowTerminal) {
    if (!tmuxInstalled()) GTEST_SKIP() << "tmux is not installed: the terminal panel is not tried";
    TempDir dir;
    std::string source = dir / "source", log = dir / "run.log";
    std::system(("mkdir -p " + source).c_str());
    for (int i = 0; i < 2000; ++i) writeFile(source + "/f" + std::to_string(i), "narrow");
    for (int columns : {40, 30}) {
        SCOPED_TRACE(std::to_string(columns) + " columns");
        Tmux tmux(dir.path(), columns, 30);
        tmux.text(std::string(KAZ_BINARY) + " " + source + " " + (dir / "target") + " " + log +
                  " -nowarn -delaysource=50; echo ended $?");
        tmux.keys("Enter");
        std::string screen = tmux.waitFor("Files Processed +[1-9]");
        ASSERT_FALSE(screen.empty());
        // Tab goes round to Cancel where the boxes are shown; the space bar
        // presses it.
        if (columns >= 40) tmux.keys("Tab Tab Tab");
        EXPECT_FALSE(tmux.waitFor("\x1b\\[7m\\[ Cancel \\]", 60, true).empty());
        tmux.keys("Space");
        // The question goes on in the next line where it does not fit.
        screen = tmux.waitFor("Terminate\\s+program\\?\n\\[y/n\\]");
        ASSERT_FALSE(screen.empty());
        tmux.keys("y");
        screen = tmux.waitFor("Program terminated due to\\s+Cancel\n(.*\n)*ended 1\n");
        EXPECT_FALSE(screen.empty());
        EXPECT_TRUE(fileExists(log));
        EXPECT_FALSE(fileExists(log + ".~~~"));
    }
}

TEST(TerminalPanel, LineBreaksInNamesKeepEveryFigureInItsPlace) {
    if (!tmuxInstalled()) GTEST_SKIP() << "tmux is not installed: the terminal panel is not tried";
    TempDir dir;
    std::string source = dir / "source", target = dir / "target";
    std::system(("mkdir -p " + source).c_str());
    // Each name shows on the panel's top line while its file is copied.
    for (int i = 0; i < 300; ++i) {
        writeFile(source + "/f" + std::to_string(i) + "\n" + std::to_string(i), std::string(3000, 't'));
    }
    Tmux tmux(dir.path());
    // A log name may hold a line break too; the title shows the arguments.
    tmux.text(std::string(KAZ_BINARY) + " " + source + " " + target + " \"$(printf \"%s/run\\n.log\" " +
              dir.path() + ")\" -nowarn -delaysource=10; echo ended $?");
    tmux.keys("Enter");
    std::string screen = tmux.waitFor("\nended [0-9]+\n", 60);
    EXPECT_TRUE(fileExists(dir.path() + "/run\n.log"));
    // Whether such names are copied or refused is not the panel's to say:
    // the figures it shows stand where they belong, each one whole.
    std::string title = "KAZ " + source + " " + target + " " + dir.path() +
                        "/run?.log -nowarn -delaysource=10\n";
    EXPECT_NE(screen.find("\n" + title + source + "/*.*\nActual "), std::string::npos) << screen;
    std::smatch processed;
    EXPECT_TRUE(std::regex_search(screen, processed,
                                  std::regex("\n  Files Processed +([0-9]+) +Files Processed +([0-9]+)\n")))
        << screen;
    EXPECT_EQ(processed[1], processed[2]);
    EXPECT_TRUE(std::regex_search(screen, std::regex("Actual +Virtual\n"
                                                     "  Files Processed +[0-9]+ +Files Processed +[0-9]+\n"
                                                     "  Megabytes Processed +[0-9]+\\.[0-9]{3} +Megabytes Processed +[0-9]+\\.[0-9]{3}\n"
                                                     "  Files Created +[0-9]+ +Megabytes/Minute +[0-9]+\\.[0-9]{3}\n"
                                                     "  Files Deleted +0 +V-Compression Ratio +([0-9]+\\.[0-9]{2}|\\*{5}):1\n"
                                                     "  Folders Created +1 +Busy Files +0\n"
                                                     "  Folders Deleted +0 +Exception Files +[0-9]+\n"
                                                     " +Run Time +[0-9]+\\.[0-9]{3}\n"
                                                     "Delays  Open \\[0 +\\]  Source \\[10 +\\]  Target \\[0 +\\] +"
                                                     "\\[ Cancel \\]\nended [02]\n")))
        << screen;
}

// With its messages sent to a file a run still asks on the terminal; a
// SIGTERM while the question waits for its answer ends the run.
TEST(TerminalPanel, ASignalEndsAQuestionWaitingForItsAnswer) {
    if (!tmuxInstalled()) GTEST_SKIP() << "tmux is not installed: the terminal is not tried";
    TempDir dir;
    std::string source = dir / "source", target = dir / "question-target";
    std::system(("mkdir -p " + source).c_str());
    writeFile(source + "/f", "f");
    Tmux tmux(dir.path());
    tmux.text(std::string(KAZ_BINARY) + " " + source + " " + target + " 2>" + dir.path() +
              "/err; echo ended $?");
    tmux.keys("Enter");
    ASSERT_FALSE(tmux.waitFor("\\[y/n\\]").empty());
    shellOutput("pkill -TERM -f -- '" + target + "'");
    std::string screen = tmux.waitFor("ended [0-9]+\n");
    EXPECT_NE(screen.find("ended 1\n"), std::string::npos) << screen;
    EXPECT_FALSE(fileExists(target + "/f"));
}
