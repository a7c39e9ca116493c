// Extended attributes, ACLs and metadata-only changes carried by a mirror,
// checked with getfacl, getfattr and rsync -AX.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace {

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

// Every ACL and attribute below a root, with paths relative to it.
std::string aclsAndAttributes(const std::string& root) {
    return shell("cd " + inQuotes(root) + " && getfacl -R -P -p . 2>&1 && getfattr -R -P -h -d -m - . 2>&1");
}

// What rsync would still change, folder times left out (the walk gives a
// folder its time only after filling it).
std::string rsyncDifferences(const std::string& source, const std::string& target) {
    return shell("rsync -aAX --dry-run --itemize-changes " + inQuotes(source + "/") + " " +
                 inQuotes(target + "/") + " | grep -v '^\\.d\\.\\.t\\.* '");
}

void expectFaithful(const std::string& source, const std::string& target) {
    EXPECT_EQ(aclsAndAttributes(target), aclsAndAttributes(source));
    std::string rsync = rsyncDifferences(source, target);
    EXPECT_EQ(rsync, "") << rsync;
}

void run(const std::string& command) {
    int status = -1;
    std::string output = shell(command, &status);
    ASSERT_EQ(status, 0) << command << "\n" << output;
}

ino_t inodeOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_ino;
}

timespec statusChangeOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_ctim;
}

bool later(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Moves the status change time of `path` past that of `other` without
// changing anything else: its mode given again until the clock has moved.
void touchStatusPast(const std::string& path, const std::string& other) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    EXPECT_TRUE(eventually([&] {
        ::chmod(path.c_str(), status.st_mode & 07777);
        return later(statusChangeOf(path), statusChangeOf(other));
    }));
}

class AttributesTest : public testing::Test {
protected:
    void SetUp() override {
        ::mkdir(source.c_str(), 0755);
        int status = -1;
        shell("setfattr -n user.probe -v 1 " + inQuotes(source), &status);
        if (status != 0) GTEST_SKIP() << "no setfattr, or no user attributes on " << dir.path();
        shell("setfattr -x user.probe " + inQuotes(source));
        ::mkdir((source + "/shared").c_str(), 0750);
        writeFile(source + "/plain.txt", "no attributes\n");
        writeFile(source + "/noted.txt", "with a comment\n");
        writeFile(source + "/shared/report.txt", std::string(200000, 'r'));
        ::symlink("plain.txt", (source + "/link").c_str());
        run("setfattr -n user.comment -v 'first draft' " + inQuotes(source + "/noted.txt"));
        run("setfacl -m u:nobody:r " + inQuotes(source + "/noted.txt"));
        run("setfacl -m u:nobody:rx -m d:u:nobody:rx -m d:g::r " + inQuotes(source + "/shared"));
        run("setfattr -n user.folder -v yes " + inQuotes(source + "/shared"));
        run("setfacl -m g:nogroup:rw " + inQuotes(source + "/shared/report.txt"));
    }

    RunResult mirror() { return runKaz({source, target, log, "-nowarn"}); }

    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string log = dir / "run.log";
};

TEST_F(AttributesTest, AMirrorCarriesAttributesAndAclsOfFilesAndFolders) {
    RunResult first = mirror();
    EXPECT_EQ(first.exitCode, 0) << readFile(log);
    expectFaithful(source, target);
    EXPECT_NE(aclsAndAttributes(target).find("user:nobody:r--"), std::string::npos);
    EXPECT_EQ(readFile(log).find("Metadata carried"), std::string::npos)
        << "a first copy carries everything with the data";

    RunResult second = mirror();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(readFile(log).find("Metadata carried"), std::string::npos)
        << "nothing changed, nothing carried";
}

TEST_F(AttributesTest, AChangeOfModeOwnerAclAndAttributeAloneReachesTheCopyWithoutItsData) {
    ASSERT_EQ(mirror().exitCode, 0);
    const std::string copy = target + "/shared/report.txt";
    const ino_t inode = inodeOf(copy);
    const std::string changed = source + "/shared/report.txt";
    ::chmod(changed.c_str(), 0604);
    run("setfacl -m u:nobody:rw " + inQuotes(changed));
    run("setfattr -n user.state -v reviewed " + inQuotes(changed));
    if (::geteuid() == 0) run("chown nobody " + inQuotes(changed));

    RunResult rerun = mirror();

    EXPECT_EQ(rerun.exitCode, 0) << readFile(log);
    expectFaithful(source, target);
    EXPECT_EQ(inodeOf(copy), inode) << "a new copy is a new file";
    const std::string text = readFile(log);
    EXPECT_NE(text.find(": Metadata carried, data up to date "), std::string::npos) << text;
    EXPECT_EQ(text.find("\n" + changed + " "), std::string::npos) << "the data was copied again";
}

TEST_F(AttributesTest, AnAttributeChangeThatLeavesTheModeAloneIsCarriedToo) {
    ASSERT_EQ(mirror().exitCode, 0);
    const ino_t inode = inodeOf(target + "/noted.txt");
    run("setfattr -n user.comment -v 'second draft' " + inQuotes(source + "/noted.txt"));

    EXPECT_EQ(mirror().exitCode, 0);

    std::string attributes = shell("getfattr --absolute-names -n user.comment --only-values " +
                                   inQuotes(target + "/noted.txt"));
    EXPECT_EQ(attributes, "second draft");
    EXPECT_EQ(inodeOf(target + "/noted.txt"), inode);
    expectFaithful(source, target);
}

// A source whose status changed with nothing to carry (its mode given again,
// a hard link made or removed, a restore) is compared once: the copy is left
// later than it, so the runs after do not open the pair again.
TEST_F(AttributesTest, AStatusChangeWithNothingToCarrySettlesInOneRun) {
    ASSERT_EQ(mirror().exitCode, 0);
    const std::string original = source + "/noted.txt";
    const std::string copy = target + "/noted.txt";
    touchStatusPast(original, copy);

    EXPECT_EQ(mirror().exitCode, 0);

    EXPECT_EQ(readFile(log).find("Metadata carried"), std::string::npos) << readFile(log);
    EXPECT_FALSE(later(statusChangeOf(original), statusChangeOf(copy)))
        << "the next run would compare the pair again";
    expectFaithful(source, target);
}

// ramfs keeps no extended attributes at all.
class RamfsTarget : public AttributesTest {
protected:
    void SetUp() override {
        AttributesTest::SetUp();
        if (IsSkipped()) return;
        ::mkdir(target.c_str(), 0755);
        if (::mount("none", target.c_str(), "ramfs", 0, nullptr) != 0)
            GTEST_SKIP() << "mounting a ramfs is not allowed here";
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) ::umount2(target.c_str(), MNT_DETACH);
    }
    bool mounted_ = false;
};

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST_F(RamfsTarget, ATargetWithoutAttributesGetsAllTheDataAndOneReport) {
    RunResult result = mirror();

    EXPECT_EQ(result.exitCode, kRunIncomplete) << "the copies lack their ACLs";
    int status = -1;
    std::string diff = shell("diff -r --no-dereference " + inQuotes(source) + " " + inQuotes(target),
                             &status);
    EXPECT_EQ(status, 0) << diff;
    const std::string text = readFile(log);
    EXPECT_EQ(occurrences(text, "Extended attributes not carried  ERROR_NOT_SUPPORTED(50)"), 1u)
        << text;
    EXPECT_NE(text.find(": Total entries, attributes not carried:"), std::string::npos) << text;
    EXPECT_EQ(text.find(":-------- Exception List"), std::string::npos)
        << "no file failed: their data is all there";
    for (const char* line : {"noted.txt", "shared/report.txt", "plain.txt"})
        EXPECT_NE(text.find(target + "/" + line), std::string::npos) << line;
}

// A copy whose attributes were refused stays older than its source, so that
// every run tries again and says so.
TEST_F(RamfsTarget, ARefusedAttributeIsTriedAndToldOnEveryRun) {
    ASSERT_EQ(mirror().exitCode, kRunIncomplete);
    const std::string original = source + "/noted.txt";
    touchStatusPast(original, target + "/noted.txt");
    for (int run = 1; run <= 2; ++run) {
        EXPECT_EQ(mirror().exitCode, kRunIncomplete) << "run " << run;
        const std::string text = readFile(log);
        EXPECT_EQ(occurrences(text, "Extended attributes not carried  ERROR_NOT_SUPPORTED(50)"), 1u)
            << "run " << run << "\n" << text;
    }
}

}  // namespace
