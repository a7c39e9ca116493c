// A real sharing violation: this process holds a source file open without
// sharing while kaz.exe mirrors the tree; the file is busy, ends in the
// recopy list, and a replay of the log copies it once it is free.
#include <gtest/gtest.h>

#include "win32/e2e_support.h"
#include "win32/tree_compare.h"

using namespace wintest;

namespace {

// A file opened with share mode 0, closed at the end.
class HeldFile {
public:
    explicit HeldFile(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() { release(); }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void release() {
        if (held()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

class WindowsBusyFile : public testing::Test, public KazRun {
protected:
    void SetUp() override {
        makeFolders(source + "\\sub");
        writeFile(source + "\\held.txt", "in use\r\n");
        writeFile(source + "\\free.txt", "free\r\n");
        writeFile(source + "\\sub\\deep.txt", "deep\r\n");
    }
    std::string replayLog() const { return folder() + "\\replay.log"; }
};

}  // namespace

TEST_F(WindowsBusyFile, HeldSourceIsBusyThenRecopiedByTheReplay) {
    HeldFile held(source + "\\held.txt");
    ASSERT_TRUE(held.held());
    // A file left busy is work undone.
    ASSERT_EQ(mirror({"/busyWaitTime=1"}), 2);
    EXPECT_FALSE(fileExists(target + "\\held.txt"));
    EXPECT_EQ(readFile(target + "\\free.txt"), "free\r\n");
    std::string text = logText();
    EXPECT_EQ(statLine(text, ": Total busy source opens:").empty(), false) << text;
    EXPECT_NE(statLine(text, ": Total busy source opens:"), ": Total busy source opens:      0\r\n")
        << text;
    std::string recopy = text.substr(text.find(":COPY\r\n"));
    EXPECT_NE(recopy.find("32 - ERROR_SHARING_VIOLATION"), std::string::npos) << recopy;
    EXPECT_NE(recopy.find("COPY " + source + "\\held.txt " + target + "\\held.txt\r\n"),
              std::string::npos)
        << recopy;
    EXPECT_EQ(countOf(recopy, "\r\nCOPY "), 1) << recopy;

    held.release();
    ASSERT_EQ(runWithoutBoxes({"@" + log, replayLog(), "/nowarn"}), 0);
    EXPECT_EQ(treeDifferences(source, target), "");
    std::string replayed = readFile(replayLog());
    EXPECT_EQ(between(replayed, ":-------- File Copy List --------\r\n",
                      ":-------- End of File Copy List"),
              ":-------- File Copy List --------\r\n" + source + "\\held.txt " + target +
                  "\\held.txt\r\n")
        << replayed;
}

TEST_F(WindowsBusyFile, VerifyReplayChecksTheFilesTheMirrorCopied) {
    {
        HeldFile held(source + "\\held.txt");
        ASSERT_TRUE(held.held());
        ASSERT_EQ(mirror({"/busyWaitTime=1"}), 2);
    }
    writeFile(target + "\\sub\\deep.txt", "DEEP\r\n");
    // The difference found is work undone.
    ASSERT_EQ(runWithoutBoxes({"@" + log, replayLog(), "/nowarn", "/verify"}), 2);
    std::string text = readFile(replayLog());
    std::string verified = between(text, ":-------- File Verify List --------\r\n",
                                   ":-------- End of File Verify List");
    EXPECT_NE(verified.find(source + "\\free.txt " + target + "\\free.txt\r\n"), std::string::npos)
        << text;
    EXPECT_EQ(verified.find("held.txt"), std::string::npos) << verified;
    EXPECT_NE(text.find(": KAZ - Error source and target not the same  : " + source +
                        "\\sub\\deep.txt " + target + "\\sub\\deep.txt\r\n"),
              std::string::npos)
        << text;
}
