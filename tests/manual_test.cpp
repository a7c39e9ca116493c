// The manual page: it renders cleanly and is installed beside the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSourceRoot = fs::path(__FILE__).parent_path().parent_path();

bool installed(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string output(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    size_t n;
    while (pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    if (pipe != nullptr) pclose(pipe);
    return out;
}

}  // namespace

TEST(Manual, RendersWithoutWarningsAndCoversEverySwitch) {
    if (!installed("groff")) GTEST_SKIP() << "groff is not installed: the manual page is not rendered";
    std::string page = (kSourceRoot / "kaz.1").string();
    std::string warnings = output("groff -ww -man -Tutf8 " + page + " >/dev/null");
    EXPECT_EQ(warnings, "");
    std::string text = output("groff -man -Tascii -P-cbou -rLL=300n " + page);
    for (const char* word :
         {"-busyWaitTime=", "-debug", "-delayopen=", "-delaysource=", "-delaytarget=", "-dos", "-limitDelete=",
          "-Maxerrors=", "-noShare", "-nounc", "-nowarn", "-quiet", "-tally", "-test", "-time",
          "-trialRun", "-verbose", "-verify", "-exclude=", "-help", "EXIT STATUS", "SIGINT",
          "SIGTERM", "LOG FILE", "FILTERS", "PROGRESS PANEL", "@scriptfile", "@ReferenceFolder",
          "Please enter an integer between -1 and 10000."}) {
        EXPECT_NE(text.find(word), std::string::npos) << word;
    }
}

TEST(Manual, IsInstalledWithTheProgram) {
    if (!installed("cmake")) GTEST_SKIP() << "cmake is not installed";
    TempDir dir;
    std::string build = fs::path(KAZ_BINARY).parent_path().string();
    std::string log = output("DESTDIR=" + dir.path() + " cmake --install " + build +
                             " --prefix /usr/local");
    EXPECT_TRUE(fileExists(dir / "usr/local/bin/kaz")) << log;
    EXPECT_TRUE(fileExists(dir / "usr/local/share/man/man1/kaz.1")) << log;
    EXPECT_EQ(readFile(dir / "usr/local/share/man/man1/kaz.1"),
              readFile((kSourceRoot / "kaz.1").string()));
}
