// Verifying mirrored trees end to end, and exclude filters in real runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace {

void makeFolder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

std::string shellQuoted(const std::string& path) { return "'" + path + "'"; }

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class VerifyRunTest : public testing::Test {
protected:
    void SetUp() override {
        makeFolder(source);
        makeFolder(source + "/sub");
        makeFolder(source + "/sub/deeper");
        writeFile(source + "/a.txt", "alpha\n");
        writeFile(source + "/empty", "");
        std::string big(1024 * 1024, 'm');
        writeFile(source + "/sub/big.bin", big);
        writeFile(source + "/sub/deeper/c.txt", "gamma\n");
        writeFile(source + "/sub/deeper/d.txt", "delta\n");
        RunResult r = runKaz({source, target, dir / "mirror.log", "-nowarn"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    RunResult verify() { return runKaz({source, target, log, "-nowarn", "-verify"}); }

    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string log = dir / "verify.log";
};

}  // namespace

TEST_F(VerifyRunTest, MirroredTreeVerifiesPairByPair) {
    writeFile(target + "/only-in-target", "ignored\n");
    std::string listing = "find " + shellQuoted(target) + " -printf '%p %s %T@ %C@ %m\\n' | sort";
    std::string before = shell(listing);
    ASSERT_EQ(verify().exitCode, 0);
    EXPECT_EQ(shell(listing), before);  // a verify run reads the target only
    std::string text = readFile(log);
    EXPECT_NE(text.find("KAZ will verify the following:\r\n"), std::string::npos);
    EXPECT_NE(text.find(":-------- File Verify List --------\r\n"), std::string::npos);
    for (const char* name : {"/a.txt", "/empty", "/sub/big.bin", "/sub/deeper/c.txt",
                             "/sub/deeper/d.txt"}) {
        EXPECT_NE(text.find(source + name + " " + target + name + "\r\n"), std::string::npos)
            << name;
    }
    EXPECT_EQ(text.find("only-in-target"), std::string::npos);
    EXPECT_EQ(text.find(":-------- Exception List"), std::string::npos) << text;
    EXPECT_NE(text.find(":-------- End of File Verify List --------\r\n"), std::string::npos);
    EXPECT_NE(text.find(": Total files considered:       5\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files copied:           5\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total bytes copied:           1048594\r\n"), std::string::npos);
}

TEST_F(VerifyRunTest, OneChangedByteIsAnException) {
    std::string changed = target + "/sub/big.bin";
    std::string content = readFile(changed);
    content[content.size() / 2] = 'X';
    writeFile(changed, content);
    ASSERT_EQ(verify().exitCode, kRunIncomplete);
    std::string text = readFile(log);
    std::string pair = source + "/sub/big.bin " + changed + "\r\n";
    EXPECT_NE(text.find(": KAZ - Error source and target not the same  : " + pair),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(":-------- Exception List --------\r\n: KAZ - No Error\r\n: " + pair),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(": Total files copied in error:  1\r\n"), std::string::npos);
}

TEST_F(VerifyRunTest, LongerTargetIsReportedBeforeAnyRead) {
    writeFile(target + "/a.txt", "alpha\n!");
    ASSERT_EQ(verify().exitCode, kRunIncomplete);
    std::string text = readFile(log);
    EXPECT_NE(text.find(": Source and Target file of different length\r\n: Source: " + source +
                        "/a.txt\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(": KAZ - Files of different length\r\n"), std::string::npos);
}

TEST_F(VerifyRunTest, MissingTargetFolderGivesOneExceptionPerSourceFile) {
    shell("rm -rf " + shellQuoted(target + "/sub"));
    ASSERT_EQ(verify().exitCode, kRunIncomplete);
    std::string text = readFile(log);
    EXPECT_EQ(count(text, ": KAZ - Target file not found\r\n"), 3) << text;
    EXPECT_EQ(count(text, " dissappeared, nothing to verify\r\n"), 3);
    EXPECT_FALSE(fileExists(target + "/sub"));
}

TEST(Filters, ExcludedEntriesStayOutOfBothTreesAndAreCounted) {
    TempDir dir;
    // The root's own name must not be one the filters name.
    std::string source = dir / "root", target = dir / "dst", log = dir / "run.log";
    for (const char* folder : {"", "/tmp", "/keep", "/keep/tmp", "/src", "/src/tmp", "/x.tmp"}) {
        makeFolder(source + folder);
    }
    for (const char* file : {"/a.TMP", "/page.html", "/page.ht", "/abc", "/a.c", "/ac",
                             "/tmp/inside", "/keep/tmp/inside", "/src/tmp/b.obj", "/src/tmp/c.txt",
                             "/x.tmp/kept", "/keep/data"}) {
        writeFile(source + file, "x\n");
    }
    // A first mirror without filters puts everything in the target.
    ASSERT_EQ(runKaz({source, target, "-nowarn"}).exitCode, 0);
    std::string list = dir / "filters";
    writeFile(list, "*.tmp  *.htm\r\n\r\na?c\n");
    RunResult r = runKaz({source, target, log, "-nowarn", "-x=@" + list, "-x=tmp/",
                          "-exclude=src/tmp", "-x="});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string text = readFile(log);
    // Files matching a plain pattern are gone from the target; folders are not.
    for (const char* gone : {"/a.TMP", "/page.html", "/abc", "/a.c", "/tmp/inside",
                             "/keep/tmp/inside", "/src/tmp"}) {
        EXPECT_FALSE(fileExists(target + gone)) << gone;
    }
    for (const char* kept : {"/page.ht", "/ac", "/x.tmp/kept", "/keep/data", "/tmp", "/keep/tmp",
                             "/src"}) {
        EXPECT_TRUE(fileExists(target + kept)) << kept;
    }
    EXPECT_NE(text.find("Exclude filters: *.tmp *.htm a?c tmp/ src/tmp  \r\n"), std::string::npos)
        << text;
    // Six files and the folder src/tmp, whose files are never listed.
    EXPECT_NE(text.find(": Total files excluded:         7\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files considered:       11\r\n"), std::string::npos) << text;
}

TEST(Filters, HeaderWrapsTheFiltersInColumns) {
    TempDir dir;
    ::mkdir((dir / "s").c_str(), 0755);
    std::vector<std::string> args = {dir / "s", dir / "t", dir / "run.log", "-nowarn"};
    for (int i = 1; i <= 7; ++i) args.push_back("-x=filter-" + std::to_string(i) + "x");
    ASSERT_EQ(runKaz(args).exitCode, 0);
    // Nine characters each: six fill a line (column 77), the seventh wraps.
    EXPECT_NE(readFile(dir / "run.log")
                  .find("Exclude filters: filter-1x filter-2x filter-3x filter-4x filter-5x "
                        "filter-6x \r\n                 filter-7x \r\n"),
              std::string::npos);
}

TEST(Filters, RootedFilterCountsFromTheRootOfTheFileSystem) {
    TempDir dir;
    std::string source = dir / "root", target = dir / "dst";
    for (const char* folder : {"", "/src", "/src/tmp", "/other", "/other/src", "/other/src/tmp"}) {
        makeFolder(source + folder);
    }
    writeFile(source + "/src/tmp/b.obj", "x");
    writeFile(source + "/src/tmp/b.txt", "x");
    writeFile(source + "/other/src/tmp/b.obj", "x");
    RunResult r = runKaz({source, target, "-nowarn", "-x=" + source + "/src/tmp/*.obj"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fileExists(target + "/src/tmp/b.obj"));
    EXPECT_TRUE(fileExists(target + "/src/tmp/b.txt"));
    EXPECT_TRUE(fileExists(target + "/other/src/tmp/b.obj"));
}
