// Mirroring real trees end to end, checked with diff and rsync.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace {

std::string shellQuoted(const std::string& path) { return "'" + path + "'"; }

void makeFolder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

// A tree with what real trees hold: nesting, empty folders, sizes around the
// copy block, read-only files, awkward names and links.
void buildSourceTree(const std::string& root) {
    makeFolder(root);
    makeFolder(root + "/docs");
    makeFolder(root + "/docs/deep");
    makeFolder(root + "/docs/deep/deeper");
    makeFolder(root + "/empty");
    makeFolder(root + "/becomes file");
    writeFile(root + "/zero", "");
    writeFile(root + "/one", "1");
    writeFile(root + "/docs/block", std::string(131072, 'b'));
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
    writeFile(root + "/docs/deep/big.bin", big);
    writeFile(root + "/docs/deep/deeper/leaf.txt", "leaf\n");
    writeFile(root + "/readonly.txt", "do not touch\n");
    ::chmod((root + "/readonly.txt").c_str(), 0444);
    writeFile(root + "/private.txt", "secret\n");
    ::chmod((root + "/private.txt").c_str(), 0600);
    writeFile(root + "/name with blanks.txt", "blanks\n");
    writeFile(root + "/a,b;c=[d]+e.txt", "punctuation\n");
    writeFile(root + "/caf\xe9-\xff.txt", "latin-1 bytes\n");
    writeFile(root + "/was folder", "now a file\n");
    ::symlink("one", (root + "/link-to-file").c_str());
    ::symlink("docs", (root + "/link-to-folder").c_str());
    ::symlink("/nonexistent/target", (root + "/dangling").c_str());
}

// What the target holds before the first run: things the source lacks and
// things of the other kind under the same name.
void buildStaleTarget(const std::string& root) {
    makeFolder(root);
    makeFolder(root + "/only-in-target");
    makeFolder(root + "/only-in-target/sub");
    writeFile(root + "/only-in-target/sub/file", "old\n");
    writeFile(root + "/becomes file", "a file where the source has a folder\n");
    makeFolder(root + "/was folder");
    writeFile(root + "/was folder/inner", "a folder where the source has a file\n");
    writeFile(root + "/one", "a different content, same name\n");
}

void expectIdentical(const std::string& source, const std::string& target) {
    int status = -1;
    std::string diff = shell("diff -r --no-dereference " + shellQuoted(source) + " " + shellQuoted(target),
                             &status);
    EXPECT_EQ(status, 0) << diff;
    std::string rsync = shell("rsync -a --delete --dry-run --itemize-changes " +
                              shellQuoted(source + "/") + " " + shellQuoted(target + "/"));
    EXPECT_EQ(rsync, "") << rsync;
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
    size_t a = text.find(from);
    if (a == std::string::npos) return "";
    size_t b = text.find(to, a);
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

// Counts the closes of a file, by any process.
class CloseWatch {
public:
    explicit CloseWatch(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        EXPECT_GE(::inotify_add_watch(fd_, path.c_str(), IN_CLOSE), 0) << path;
    }
    ~CloseWatch() { ::close(fd_); }
    CloseWatch(const CloseWatch&) = delete;
    CloseWatch& operator=(const CloseWatch&) = delete;
    int closes() {
        alignas(inotify_event) char events[4096];
        ssize_t n;
        while ((n = ::read(fd_, events, sizeof events)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->mask & IN_CLOSE) ++closes_;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return closes_;
    }

private:
    int fd_;
    int closes_ = 0;
};

class MirrorTest : public testing::Test {
protected:
    TempDir dir;
    std::string source = dir / "source";
    std::string target = dir / "target";
    std::string log = dir / "run.log";

    RunResult mirror(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {source, target, log, "-nowarn"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runKaz(args);
    }
};

}  // namespace

TEST_F(MirrorTest, FirstRunMakesAnExactCopy) {
    buildSourceTree(source);
    buildStaleTarget(target);
    RunResult r = mirror();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIdentical(source, target);
    std::string text = readFile(log);
    EXPECT_EQ(text.find(":-------- Exception List"), std::string::npos) << text;
    EXPECT_NE(text.find(":None - Source and Target synchronized.\r\n"), std::string::npos);
}

TEST_F(MirrorTest, LogHasEveryBlockInOrder) {
    buildSourceTree(source);
    ASSERT_EQ(mirror().exitCode, 0);
    std::string text = readFile(log);
    const char* blocks[] = {
        "goto COPY\r\nKAZ Version 1.3 - ",
        "\r\n\r\nKAZ will synchronize the following:\r\n",
        "Source: ",
        "Target: ",
        ":-------- File Copy List --------\r\n",
        "/docs/block ",
        ":-------- End of File Copy List --------\r\n",
        ": KAZ run time:          ",
        ": Total directories considered: 0\r\n",
        ": Total files copied:           ",
        ": Virtual MB/minute:            ",
        ": \r\n:COPY\r\n:None - Source and Target synchronized.\r\n",
    };
    size_t at = 0;
    for (const char* block : blocks) {
        size_t found = text.find(block, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << block << "\n" << text;
        at = found;
    }
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    // Names with separators are quoted in copy-list lines.
    EXPECT_NE(text.find("/name with blanks.txt\" \""), std::string::npos) << text;
}

TEST_F(MirrorTest, SecondRunCopiesNothingAndChangesAreReplaced) {
    buildSourceTree(source);
    ASSERT_EQ(mirror().exitCode, 0);
    RunResult again = mirror();
    ASSERT_EQ(again.exitCode, 0) << again.err;
    std::string text = readFile(log);
    EXPECT_NE(text.find(": Total files copied:           0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files deleted:          0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total bytes copied:           0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Virtual Compression ratio:    ****:1\r\n"), std::string::npos);

    writeFile(source + "/docs/deep/deeper/leaf.txt", "leaf, longer now\n");
    ::unlink((source + "/zero").c_str());
    ASSERT_EQ(mirror().exitCode, 0);
    text = readFile(log);
    EXPECT_NE(text.find(": Total files copied:           1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files deleted:          2\r\n"), std::string::npos) << text;
    expectIdentical(source, target);
}

// A change that keeps the size, and a change of the time alone, are
// changes: the next run carries each of them.
TEST_F(MirrorTest, SameSizeEditAndTimeOnlyChangeAreMirrored) {
    buildSourceTree(source);
    ASSERT_EQ(mirror().exitCode, 0);
    std::string leaf = source + "/docs/deep/deeper/leaf.txt";
    std::string before = readFile(leaf);
    std::string edited = before;
    edited[0] = static_cast<char>(edited[0] == 'X' ? 'Y' : 'X');
    writeFile(leaf, edited);
    struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (source + "/zero").c_str(), later, 0), 0);
    ASSERT_EQ(mirror().exitCode, 0);
    EXPECT_EQ(readFile(target + "/docs/deep/deeper/leaf.txt"), edited);
    struct stat copy;
    ASSERT_EQ(::stat((target + "/zero").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mtim.tv_sec, 2000000000);
    expectIdentical(source, target);
}

// A folder the source lacks goes whole, whatever its entries are called.
TEST_F(MirrorTest, TargetOnlyFolderWithDotNamesIsRemovedWhole) {
    buildSourceTree(source);
    ASSERT_EQ(mirror().exitCode, 0);
    std::string gone = target + "/gone";
    makeFolder(gone);
    makeFolder(gone + "/.config");
    for (const char* name : {"/.hidden", "/..x", "/.env", "/.config/.env", "/.config/..y"})
        writeFile(gone + name, name);
    RunResult r = mirror();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fileExists(gone));
    expectIdentical(source, target);
}

// A folder whose entries were all up to date is left alone, unless its own
// time has drifted from the source's.
TEST_F(MirrorTest, FolderTimeAloneIsPutRight) {
    buildSourceTree(source);
    ASSERT_EQ(mirror().exitCode, 0);
    struct timespec drifted[2] = {{0, UTIME_OMIT}, {1500000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (target + "/docs/deep").c_str(), drifted, 0), 0);
    ASSERT_EQ(mirror().exitCode, 0);
    expectIdentical(source, target);
}

TEST_F(MirrorTest, TrialRunChangesNothingOnDisk) {
    buildSourceTree(source);
    buildStaleTarget(target);
    std::string listing = "find " + shellQuoted(source) + " " + shellQuoted(target) +
                          " -printf '%p %s %T@ %C@ %m %y\\n' | sort";
    std::string before = shell(listing);
    RunResult r = mirror({"-trialRun"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(shell(listing), before);
    std::string text = readFile(log);
    EXPECT_EQ(text.find("goto COPY"), std::string::npos);
    EXPECT_NE(text.find("DEL " + target + "/only-in-target/sub/file\r\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("RMDIR " + target + "/only-in-target/sub\r\n"), std::string::npos);
    EXPECT_NE(text.find("MKDIR " + target + "/docs\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": Total files to be copied:     "), std::string::npos);
    EXPECT_NE(text.find(": Total busy source opens:            0\r\n"), std::string::npos);
}

TEST_F(MirrorTest, LockedSourceIsRetriedAtTheEnd) {
    makeFolder(source);
    writeFile(source + "/held", "in use\n");
    writeFile(source + "/free", "free\n");
    int fd = ::open((source + "/held").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    // Without sharing the walk opens the file once: kaz's first close of it
    // says that the walk met the lock and went on. Released only then, the
    // file can only have been copied by the retry at the end.
    CloseWatch watch(source + "/held");
    KazProcess kaz({source, target, log, "-nowarn", "-noShare", "-busywaittime=60"});
    bool tried = eventually([&] { return watch.closes() > 0; });
    ::flock(fd, LOCK_UN);
    RunResult r = waitWithin(kaz, 120);
    int closes = watch.closes();
    ::close(fd);
    ASSERT_TRUE(tried) << "kaz never opened the locked file";
    EXPECT_GE(closes, 2) << "the file was not opened again after its release";
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(target + "/held"), "in use\n");
    EXPECT_NE(readFile(log).find(":None - Source and Target synchronized."), std::string::npos);
}

TEST_F(MirrorTest, SourceThatStaysLockedEndsInTheRecopyList) {
    makeFolder(source);
    writeFile(source + "/held", "in use\n");
    int fd = ::open((source + "/held").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    RunResult r = mirror();
    ::close(fd);
    ASSERT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_FALSE(fileExists(target + "/held"));
    std::string recopy = between(readFile(log), ":-------- File Recopy List", ":-------- End");
    EXPECT_NE(recopy.find(": Due to error 32 - ERROR_SHARING_VIOLATION\r\n"), std::string::npos)
        << recopy;
    EXPECT_NE(recopy.find("COPY " + source + "/held " + target + "/held\r\n"), std::string::npos);
}

TEST_F(MirrorTest, InterruptEndsTheRunWithoutAHalfWrittenTarget) {
    makeFolder(source);
    writeFile(source + "/large", std::string(4 * 1024 * 1024, 'x'));
    // 32 blocks with a pause before each: the copy is long under way when
    // the interrupt comes, which ends it at the next block.
    KazProcess kaz({source, target, log, "-nowarn", "-delaytarget=200"});
    ASSERT_TRUE(eventually([&] {
        struct stat status {};
        return ::stat((target + "/large").c_str(), &status) == 0 && status.st_size > 0;
    })) << "the copy never started";
    kaz.signal(SIGINT);
    RunResult r = waitWithin(kaz, 120);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Program terminated due to Cancel"), std::string::npos) << r.err;
    EXPECT_TRUE(fileExists(log));
    EXPECT_FALSE(fileExists(log + ".~~~"));
    EXPECT_FALSE(fileExists(target + "/large"));
}

TEST_F(MirrorTest, LinkInTheTargetIsRemovedWithoutTouchingWhatItPointsTo) {
    makeFolder(source);
    std::string outside = dir / "outside";
    makeFolder(outside);
    writeFile(outside + "/precious", "keep me\n");
    makeFolder(target);
    ::symlink(outside.c_str(), (target + "/escape").c_str());
    ASSERT_EQ(mirror().exitCode, 0);
    EXPECT_FALSE(fileExists(target + "/escape"));
    EXPECT_EQ(readFile(outside + "/precious"), "keep me\n");
}

TEST_F(MirrorTest, UnreadableSourceFolderLeavesItsTargetCopyAlone) {
    // Root reads every folder: as root, the runs are made as an ordinary user.
    const int nobody = 65534;
    int user = geteuid() == 0 ? nobody : -1;
    buildSourceTree(source);
    if (user >= 0) {
        std::string owner = std::to_string(nobody) + ":" + std::to_string(nobody);
        shell("chown -R " + owner + " " + shellQuoted(dir.path()));
    }
    std::vector<std::string> args = {source, target, log, "-nowarn"};
    ASSERT_EQ(KazProcess(args, user).wait().exitCode, 0);
    ASSERT_TRUE(fileExists(target + "/docs/deep/big.bin"));
    ::chmod((source + "/docs/deep").c_str(), 0);
    RunResult r = KazProcess(args, user).wait();
    ::chmod((source + "/docs/deep").c_str(), 0755);
    EXPECT_EQ(r.exitCode, kRunIncomplete) << r.err;
    EXPECT_TRUE(fileExists(target + "/docs/deep/big.bin"));
    EXPECT_NE(readFile(log).find("Error listing source folder"), std::string::npos);
}

TEST_F(MirrorTest, TargetInsideTheSourceIsRefusedHoweverItIsSpelled) {
    buildSourceTree(source);
    ::symlink((source + "/docs").c_str(), (dir / "alias").c_str());
    for (const std::string& inside :
         {source + "/sub", source + "/../source/sub", dir / "alias/new"}) {
        RunResult r = runKaz({source, inside, "-nowarn"});
        EXPECT_EQ(r.exitCode, 1) << inside;
        EXPECT_NE(r.err.find("Error, destination is subdirectory of source."), std::string::npos)
            << inside << "\n" << r.err;
    }
    EXPECT_FALSE(fileExists(source + "/sub"));
}
