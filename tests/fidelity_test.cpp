// A mirror as faithful as cp -a, judged by tools of the field: rsync
// -aHAXS finds nothing to do, getfacl and getfattr read the same in both
// trees, du finds the holes kept, and a change of metadata alone reaches the
// target without its data being written again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string inQuotes(const std::string& path) { return "'" + path + "'"; }

bool haveTool(const char* name) {
    int status = -1;
    shell(std::string("command -v ") + name, &status);
    return status == 0;
}

struct stat statusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

// The physical extents of a file's data: equal before and after a run only
// when the run did not write the data again.
std::vector<uint64_t> extentsOf(const std::string& path) {
    std::vector<uint64_t> physical;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return physical;
    constexpr unsigned kMost = 64;
    std::vector<char> buffer(sizeof(fiemap) + kMost * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(buffer.data());
    map->fm_length = ~0ull;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kMost;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) == 0)
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i)
            physical.push_back(map->fm_extents[i].fe_physical);
    ::close(fd);
    return physical;
}

class FidelityTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"rsync", "getfacl", "setfacl", "getfattr", "setfattr"})
            if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        int status = -1;
        shell("setfattr -n user.probe -v 1 " + inQuotes(dir.path()), &status);
        if (status != 0) GTEST_SKIP() << "the temporary folder's file system has no user attributes";
        buildSource();
    }

    void buildSource() {
        ASSERT_EQ(::mkdir(source.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((source + "/shared").c_str(), 0750), 0);
        writeFile(source + "/plain.txt", "plain\n");
        writeFile(source + "/noted.txt", "with an attribute and an ACL entry\n");
        sh("setfattr -n user.comment -v 'kept with the copy' " + inQuotes(source + "/noted.txt"));
        sh("setfacl -m u:nobody:r " + inQuotes(source + "/noted.txt"));
        sh("setfacl -d -m g:nogroup:rx " + inQuotes(source + "/shared"));
        writeFile(source + "/shared/linked", "one file, three names\n");
        ASSERT_EQ(::link((source + "/shared/linked").c_str(), (source + "/second").c_str()), 0);
        ASSERT_EQ(::link((source + "/shared/linked").c_str(), (source + "/shared/third").c_str()), 0);
        // A gibibyte that holds a few kibibytes.
        int fd = ::open((source + "/sparse.img").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "head", 4, 0), 4);
        ASSERT_EQ(::pwrite(fd, "middle", 6, 512ll << 20), 6);
        ASSERT_EQ(::ftruncate(fd, 1ll << 30), 0);
        ::close(fd);
        ASSERT_EQ(::symlink("plain.txt", (source + "/link").c_str()), 0);
    }

    std::string sh(const std::string& command) {
        int status = -1;
        std::string out = shell(command, &status);
        EXPECT_EQ(status, 0) << command << "\n" << out;
        return out;
    }

    // Every difference rsync would mend, folder times aside (KAZ gives a
    // folder its time when it makes it, and writing into it moves that).
    std::string rsyncDifferences() {
        std::string out = sh("rsync -aHAXS --dry-run --itemize-changes " + inQuotes(source + "/") +
                             " " + inQuotes(target + "/") + " | grep -v '^\\.d\\.\\.t\\.\\.\\.\\.\\.\\. ' || true");
        return out;
    }

    std::string inTree(const std::string& root, const std::string& command) {
        return sh("cd " + inQuotes(root) + " && " + command);
    }

    void expectFaithful() {
        EXPECT_EQ(rsyncDifferences(), "");
        // Entry by entry in name order: the two folders need not list alike.
        const std::string acls = "find . ! -type l -print0 | sort -z | xargs -0 getfacl -p -- 2>&1";
        const std::string attributes =
            "find . -print0 | sort -z | xargs -0 getfattr -h -d -m - -- 2>&1";
        EXPECT_EQ(inTree(source, acls), inTree(target, acls));
        EXPECT_EQ(inTree(source, attributes), inTree(target, attributes));
    }

    void mirror() {
        RunResult run = runKaz({source, target, log, "-nowarn"});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err << readFile(log);
    }

    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string log = dir / "run.log";
};

TEST_F(FidelityTest, MirrorKeepsLinksHolesAttributesAndAcls) {
    mirror();
    expectFaithful();

    struct stat first = statusOf(target + "/shared/linked");
    EXPECT_EQ(first.st_nlink, 3u);
    EXPECT_EQ(statusOf(target + "/second").st_ino, first.st_ino);
    EXPECT_EQ(statusOf(target + "/shared/third").st_ino, first.st_ino);

    struct stat sparseSource = statusOf(source + "/sparse.img");
    struct stat sparseTarget = statusOf(target + "/sparse.img");
    EXPECT_EQ(sparseTarget.st_size, sparseSource.st_size);
    // Within a few percent, and a few blocks of slack for tiny allocations.
    EXPECT_LE(sparseTarget.st_blocks, sparseSource.st_blocks * 105 / 100 + 64);
    EXPECT_EQ(sh("cmp " + inQuotes(source + "/sparse.img") + " " + inQuotes(target + "/sparse.img")), "");
}

TEST_F(FidelityTest, MetadataAloneReachesTheTargetWithoutItsDataWrittenAgain) {
    mirror();
    const std::string copy = target + "/noted.txt";
    struct stat before = statusOf(copy);
    std::vector<uint64_t> extentsBefore = extentsOf(copy);

    const std::string original = source + "/noted.txt";
    ASSERT_EQ(::chmod(original.c_str(), 0604), 0);
    if (::geteuid() == 0) sh("chown nobody " + inQuotes(original));
    sh("setfacl -m u:nobody:rw " + inQuotes(original));
    sh("setfattr -n user.comment -v 'changed later' " + inQuotes(original));
    mirror();

    expectFaithful();
    struct stat after = statusOf(copy);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(extentsOf(copy), extentsBefore);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(FidelityTest, LinkGroupsOfAnEarlierCopyAreBroughtIntoLine) {
    // An earlier copy made by a tool that does not keep hard links.
    sh("cp -R -P --preserve=mode,ownership,timestamps,xattr " + inQuotes(source) + " " +
       inQuotes(target));
    ASSERT_NE(statusOf(target + "/second").st_ino, statusOf(target + "/shared/linked").st_ino);
    mirror();
    expectFaithful();
    EXPECT_EQ(statusOf(target + "/second").st_ino, statusOf(target + "/shared/linked").st_ino);
}

}  // namespace
