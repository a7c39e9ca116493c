// Hard links and sparse files end to end: the target holds one file under
// the names the source gives one file, and keeps the source's holes. The
// oracles are rsync -aHS, stat and du.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "report/run_state.h"
#include "test_support.h"

namespace {

namespace faults = platform::faults;

std::string quoted(const std::string& path) { return "'" + path + "'"; }

struct stat statusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

void hardLink(const std::string& existing, const std::string& name) {
    ASSERT_EQ(::link(existing.c_str(), name.c_str()), 0) << name;
}

// What rsync would still change to make the target the source's copy, hard
// links and holes included; folder times aside.
std::string rsyncDifferences(const std::string& source, const std::string& target) {
    std::string listed = shell("rsync -aHS --dry-run --itemize-changes " + quoted(source + "/") +
                               " " + quoted(target + "/"));
    std::istringstream lines(listed);
    std::string line, rest;
    while (std::getline(lines, line)) {
        if (line.rfind(".d..t......", 0) == 0) continue;
        rest += line + "\n";
    }
    return rest;
}

class LinksAndHolesTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(source + "/one");
        std::filesystem::create_directories(source + "/two");
        std::filesystem::create_directories(target);
    }
    RunResult mirror(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {source, target, logPath, "-nowarn"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return runKaz(arguments);
    }
    std::string log() const { return readFile(logPath); }
    std::string src(const std::string& name) const { return source + "/" + name; }
    std::string tgt(const std::string& name) const { return target + "/" + name; }
    ino_t inodeAt(const std::string& name) const { return statusOf(tgt(name)).st_ino; }

    // Three names of one file in two folders, and a file of one name.
    void buildGroup() {
        writeFile(src("one/a"), "one file, three names\n");
        hardLink(src("one/a"), src("one/b"));
        hardLink(src("one/a"), src("two/c"));
        writeFile(src("one/single"), "one name\n");
    }

    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string logPath = dir / "run.log";
};

TEST_F(LinksAndHolesTest, AGroupOfThreeNamesIsOneFileInTheTarget) {
    buildGroup();
    RunResult run = mirror();
    ASSERT_EQ(run.exitCode, 0) << run.err << log();
    const ino_t first = inodeAt("one/a");
    EXPECT_EQ(inodeAt("one/b"), first);
    EXPECT_EQ(inodeAt("two/c"), first);
    EXPECT_EQ(statusOf(tgt("one/a")).st_nlink, 3u);
    EXPECT_NE(inodeAt("one/single"), first);
    EXPECT_EQ(rsyncDifferences(source, target), "");
    // Two names are links, logged as comments; one name was copied.
    const std::string text = log();
    size_t links = 0;
    for (size_t at = text.find(": Hard link "); at != std::string::npos;
         at = text.find(": Hard link ", at + 1))
        ++links;
    EXPECT_EQ(links, 2u) << text;

    // Nothing left to do: the next run changes nothing and links nothing.
    run = mirror();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(log().find(": Hard link "), std::string::npos) << log();
    EXPECT_EQ(inodeAt("two/c"), first);
}

TEST_F(LinksAndHolesTest, TheNextRunBringsTheTargetsLinksIntoLine) {
    buildGroup();
    writeFile(src("two/x"), "same bytes\n");
    writeFile(src("two/y"), "same bytes\n");
    ASSERT_EQ(mirror().exitCode, 0);
    // The target as another tool might leave it: the group's names separate
    // files, equal in data and times; two separate source files linked.
    for (const char* name : {"one/b", "two/c"}) {
        ASSERT_EQ(std::filesystem::remove(tgt(name)), true);
        std::filesystem::copy_file(tgt("one/a"), tgt(name));
    }
    ASSERT_EQ(std::filesystem::remove(tgt("two/y")), true);
    hardLink(tgt("two/x"), tgt("two/y"));
    ASSERT_EQ(shell("touch -r " + quoted(src("one/a")) + " " + quoted(tgt("one/b")) + " " +
                    quoted(tgt("two/c")) + " && touch -r " + quoted(src("two/y")) + " " +
                    quoted(tgt("two/y"))),
              "");
    ASSERT_NE(rsyncDifferences(source, target), "");

    // A trial run reports the same and changes nothing.
    RunResult trial = mirror({"-trialRun"});
    ASSERT_EQ(trial.exitCode, 0) << trial.err;
    EXPECT_NE(log().find(": Hard link "), std::string::npos) << log();
    EXPECT_NE(inodeAt("one/b"), inodeAt("one/a"));
    EXPECT_EQ(inodeAt("two/y"), inodeAt("two/x"));

    RunResult run = mirror();
    ASSERT_EQ(run.exitCode, 0) << run.err << log();
    EXPECT_EQ(inodeAt("one/b"), inodeAt("one/a"));
    EXPECT_EQ(inodeAt("two/c"), inodeAt("one/a"));
    EXPECT_NE(inodeAt("two/y"), inodeAt("two/x"));
    EXPECT_EQ(readFile(tgt("two/y")), "same bytes\n");
    EXPECT_EQ(rsyncDifferences(source, target), "");
}

TEST_F(LinksAndHolesTest, AGroupSplitByAFilterIsLinkedAmongTheNamesLeft) {
    buildGroup();
    RunResult run = mirror({"-x=two/"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(inodeAt("one/b"), inodeAt("one/a"));
    EXPECT_FALSE(std::filesystem::exists(tgt("two/c")));
}

// The first name's copy fails part way: no other name becomes a link to
// what it left, the others arrive whole, and the next run joins them all.
TEST_F(LinksAndHolesTest, AFailedFirstCopyIsNeverLinkedTo) {
    std::filesystem::remove_all(source + "/two");
    std::string content(3 * 131072 + 5, 'g');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 4096);
    writeFile(src("one/a"), content);
    hardLink(src("one/a"), src("one/b"));
    hardLink(src("one/a"), src("one/c"));

    faults::Scope faultScope;
    // Plain writes (no copy offload), and the first one into the target fails.
    faults::arm(faults::Fault(faults::Call::CopyFileRange, ERROR_NOT_SUPPORTED).always());
    int diskFull = faults::arm(
        faults::Fault(faults::Call::WriteFile, ERROR_DISK_FULL).onPath(target + "/one/").skip(1));
    InProcessRun runInProcess;
    ASSERT_EQ(runInProcess({source, target, logPath, "-nowarn"}), kRunIncomplete);
    EXPECT_EQ(faults::firings(diskFull), 1);
    faults::disarmAll();
    resetRunState();
    const std::string text = log();
    EXPECT_NE(text.find(": KAZ - Error writing "), std::string::npos) << text;

    int whole = 0;
    std::string failed;
    for (const char* name : {"one/a", "one/b", "one/c"}) {
        if (!std::filesystem::exists(tgt(name))) {
            failed = name;
            continue;
        }
        EXPECT_EQ(readFile(tgt(name)), content) << name;
        ++whole;
    }
    ASSERT_EQ(whole, 2) << text;
    EXPECT_EQ(text.find(": Hard link " + tgt(failed)), std::string::npos) << text;

    RunResult run = mirror();
    ASSERT_EQ(run.exitCode, 0) << run.err << log();
    EXPECT_EQ(inodeAt("one/b"), inodeAt("one/a"));
    EXPECT_EQ(inodeAt("one/c"), inodeAt("one/a"));
    EXPECT_EQ(rsyncDifferences(source, target), "");
}

// A lock is the file's, whichever name it was taken through: every name is
// busy, none is copied or linked to a missing copy, and the recopy list has
// them all.
TEST_F(LinksAndHolesTest, ABusyGroupIsLeftForTheRecopyListWhole) {
    buildGroup();
    int fd = open(src("one/b").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    RunResult run = mirror({"-busyWaitTime=0"});
    close(fd);
    EXPECT_EQ(run.exitCode, kRunIncomplete) << run.err;
    const std::string text = log();
    for (const char* name : {"one/a", "one/b", "two/c"}) {
        EXPECT_FALSE(std::filesystem::exists(tgt(name))) << name;
        EXPECT_NE(text.find("COPY " + src(name) + " " + tgt(name) + "\r\n"), std::string::npos)
            << text;
    }
    EXPECT_EQ(text.find(": Hard link "), std::string::npos) << text;
    EXPECT_EQ(readFile(tgt("one/single")), "one name\n");
}

long diskUse(const std::string& path) {
    return std::stol(shell("du -k " + quoted(path) + " | cut -f1"));
}

TEST_F(LinksAndHolesTest, ASparseGigabyteTakesAsLittleRoomInTheTarget) {
    const std::string sparse = src("one/sparse.img");
    const off_t gib = off_t{1} << 30;
    int fd = open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (off_t at : {off_t{0}, gib / 3, gib / 2 + 12345})
        ASSERT_EQ(pwrite(fd, "a few bytes of data", 19, at), 19);
    ASSERT_EQ(ftruncate(fd, gib), 0);  // ends in a hole
    close(fd);

    RunResult run = mirror();
    ASSERT_EQ(run.exitCode, 0) << run.err << log();
    const struct stat from = statusOf(sparse), to = statusOf(tgt("one/sparse.img"));
    EXPECT_EQ(to.st_size, gib);
    EXPECT_LE(to.st_blocks, from.st_blocks + from.st_blocks / 20 + 8);
    EXPECT_LE(diskUse(tgt("one/sparse.img")), diskUse(sparse) + diskUse(sparse) / 20 + 4);
    int status = -1;
    shell("cmp " + quoted(sparse) + " " + quoted(tgt("one/sparse.img")), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rsyncDifferences(source, target), "");
}

}  // namespace
