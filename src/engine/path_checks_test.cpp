#include "engine/path_checks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/conventions.h"
#include "platform/message_boxes.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "support/text_buffer.h"
#include "run_as_worker.h"
#include "test_support.h"

namespace {

// Answers questions as told and counts them; every box still reaches
// standard error, where the death tests look for it.
int answerToGive = IDNO;
int questionsAsked = 0;

int presentBox(const char* text, const char* caption, UINT type) {
    std::string shown = std::string(caption) + "\n" + text;
    if (shown.back() != '\n') shown += '\n';
    std::fputs(shown.c_str(), stderr);
    if ((type & 0x0Fu) != MB_YESNO) return IDOK;
    ++questionsAsked;
    return answerToGive;
}

std::string patternOf(const std::string& path) {
    TextBuffer text(path.c_str(), 10);
    makeSearchPattern(text);
    return text.text();
}

std::string withSeparators(std::string path) {
    for (char& c : path)
        if (c == '/') c = platform::kPathSeparator;
    return path;
}

// A path as a death-test pattern: its special characters (the separator of
// Windows among them) taken literally.
std::string literally(const std::string& text) {
    std::string pattern;
    for (char c : text) {
        if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

// The code and its name as the system gives them for listing a folder
// below a plain file (Windows and POSIX differ here).
std::string listingErrorBelow(const std::string& file) {
    WIN32_FIND_DATAA entry;
    std::string pattern = file + platform::kPathSeparator + "*.*";
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    DWORD code = GetLastError();
    return "Code=" + std::to_string(code) + " - " + errorName(code);
}

// A symbolic link to a folder, where the system lets a test make one; a
// Windows test process usually may not (nor under Wine), and then the
// checks through links are left out.
bool linkFolder(const std::string& to, const std::string& link) {
    std::error_code error;
    std::filesystem::create_directory_symlink(to, link, error);
    if (error && !platform::kDriveLetters) ADD_FAILURE() << link << ": " << error.message();
    return !error;
}

const char* const kNoFolderLinks =
    "no link to a folder can be made here: the checks through links are left out";

const char* const kSame = "Error, source and destination the same\\.";
const char* const kNested = "Error, destination is subdirectory of source\\.";
const char* const kQuestion =
    "^KAZ\nCaution, destination may become subdirectory of source\\.\nDo you wish to proceed\\?\n$";

class PathChecks : public testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        answerToGive = IDNO;
        questionsAsked = 0;
        platform::setMessageBoxPresenter(presentBox);
        std::filesystem::create_directories(data + "/old");
        std::filesystem::create_directories(dir / "database");
        std::filesystem::create_directories(dir / "other");
    }
    void TearDown() override {
        platform::setMessageBoxPresenter(nullptr);
        resetRunState();
    }
    // Both folders turned into patterns as the run driver does, then checked.
    void check(const std::string& source, const std::string& target) {
        checkPathRelation(patternOf(source).c_str(), patternOf(target).c_str());
    }
    void openLogAt(const std::string& log) {
        runState.logFileName.assign(log.c_str());
        openLog();
    }
    TempDir dir;
    std::string data = dir / "data";
};

TEST(SearchPattern, FolderGetsOneSeparatorAndTheWildCardsOrTheRunEnds) {
    EXPECT_EQ(patternOf(withSeparators("/srv/data")), withSeparators("/srv/data/*.*"));
    EXPECT_EQ(patternOf(withSeparators("/srv/data/")), withSeparators("/srv/data/*.*"));
    EXPECT_EQ(patternOf(withSeparators("/")), withSeparators("/*.*"));
    // A bare drive stands for its current folder only where drives exist.
    EXPECT_EQ(patternOf("D:"), platform::kDriveLetters ? "D:*.*" : withSeparators("D:/*.*"));
    EXPECT_STOP(patternOf("/srv/*.txt"), testing::ExitedWithCode(1),
                "^KAZ - message\nError in path name \\(/srv/\\*\\.txt\\), no wild cards "
                "permitted\\.\n$");
    EXPECT_STOP(patternOf("file?"), testing::ExitedWithCode(1), "\\(file\\?\\), no wild cards");
    EXPECT_STOP(patternOf(""), testing::ExitedWithCode(1), "^KAZ - message\nError, NULL path name\\.\n$");
}

TEST_F(PathChecks, SameFolderIsRefusedHoweverItIsSpelled) {
    EXPECT_STOP(check(data, data + "/"), testing::ExitedWithCode(1), kSame);
    EXPECT_STOP(check(data, dir / "other/../data/old/.."), testing::ExitedWithCode(1), kSame);
    if (!linkFolder(data, dir / "link")) GTEST_SKIP() << kNoFolderLinks;
    EXPECT_STOP(check(data, dir / "link"), testing::ExitedWithCode(1), kSame);
}

TEST_F(PathChecks, TargetInsideSourceIsRefusedHoweverItIsReached) {
    EXPECT_STOP(check(data, data + "/sub"), testing::ExitedWithCode(1), kNested);
    EXPECT_STOP(check(data, data + "/../data/sub"), testing::ExitedWithCode(1), kNested);
    if (!linkFolder(data + "/old", dir / "other/into-old")) GTEST_SKIP() << kNoFolderLinks;
    EXPECT_STOP(check(data, dir / "other/into-old"), testing::ExitedWithCode(1), kNested);
    // ".." after the link climbs from where it leads: still inside the source.
    EXPECT_STOP(check(data, dir / "other/into-old/../new/deeper"), testing::ExitedWithCode(1),
                kNested);
}

TEST_F(PathChecks, SourceInsideTargetAsksOnceAndOnlyYesGoesOn) {
    EXPECT_STOP(check(data + "/old", data), testing::ExitedWithCode(1), kQuestion);
    answerToGive = IDYES;
    check(data + "/old", data);
    EXPECT_EQ(questionsAsked, 1);
    // The same, reached through a link.
    if (!linkFolder(data + "/old", dir / "other/to-old")) GTEST_SKIP() << kNoFolderLinks;
    answerToGive = IDNO;
    EXPECT_STOP(check(dir / "other/to-old", data), testing::ExitedWithCode(1), kQuestion);
    answerToGive = IDYES;
    check(dir / "other/to-old", data);
    EXPECT_EQ(questionsAsked, 2);
}

TEST_F(PathChecks, FoldersThatOnlyBeginAlikeAreNotRelated) {
    check(data, dir / "database");
    check(dir / "database", data);
    check(data, dir / "other/new");
    EXPECT_EQ(questionsAsked, 0);
}

TEST_F(PathChecks, SourceThatCannotBeListedEndsTheRunWithItsCode) {
    std::string missing = dir / "missing";
    std::string log = dir / "run.log";
    EXPECT_STOP(
        {
            runState.debug = 1;
            openLogAt(log);
            check(missing, dir / "other");
        },
        testing::ExitedWithCode(1),
        "^KAZ - message\nError in source path \\(" +
            literally(missing + platform::kPathSeparator + "*.*") +
            "\\)\\.\nCode=3 - ERROR_PATH_NOT_FOUND\n$");
    EXPECT_EQ(readFile(log), ": debug - line = 13, code = 3, ERROR_PATH_NOT_FOUND\n");
    writeFile(dir / "plain", "not a folder");
    EXPECT_STOP(check(dir / "plain", dir / "other"), testing::ExitedWithCode(1),
                "Error in source path .*\n" + literally(listingErrorBelow(dir / "plain")));
}

}  // namespace
