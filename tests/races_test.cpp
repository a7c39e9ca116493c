// Races against a run: folders of the source or the target turn into links
// to somewhere else between the moment the run listed them and the moment it
// works in them. The test swaps a folder at a chosen call of a run in this
// process; a thread, or a process of another user, swaps folders while the
// binary runs; a watcher looks for a set-user-ID copy that is root's for a
// moment. After every run the folders outside the trees are as they were,
// entry for entry and time for time, and no secret reached the target.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/arguments.h"
#include "platform/fault_injection.h"
#include "run/run_entry.h"
#include "test_support.h"

namespace {

namespace faults = platform::faults;
using faults::Call;
using faults::Fault;

constexpr uid_t kNobody = 65534;
constexpr char kSecret[] = "SECRET-5d41402abc4b2a76b9719d911017c592";
const std::string kBadPath = "ERROR_BAD_PATHNAME(161)";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The line after the first line that holds `marker`: the pair a report names.
std::string lineAfter(const std::string& text, const std::string& marker) {
    size_t at = text.find(marker);
    if (at == std::string::npos) return "";
    size_t start = text.find('\n', at);
    if (start == std::string::npos) return "";
    size_t end = text.find('\n', start + 1);
    return text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

// The pairs of the log's exception list, one a line.
std::vector<std::string> exceptionPairs(const std::string& text) {
    std::vector<std::string> pairs;
    size_t at = text.find(":-------- Exception List --------\r\n");
    size_t end = text.find(":-------- End of Exception List");
    if (at == std::string::npos || end == std::string::npos) return pairs;
    for (at = text.find('\n', at) + 1; at < end; at = text.find('\n', at) + 1) {
        std::string line = text.substr(at, text.find('\n', at) - at);
        if (line.rfind(": KAZ - ", 0) != 0) pairs.push_back(line);
    }
    return pairs;
}

std::string folderName(int i) {
    char name[8];
    std::snprintf(name, sizeof name, "d%02d", i);
    return name;
}

void setTimes(const std::string& path, time_t seconds) {
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// ---- What "untouched" means ----

// One line per entry: kind and mode, owner, size, modification and change
// time to the nanosecond, content or link text. Links are never followed;
// the subtrees in `left` are left out. The change time shows even a change
// that was put back, such as a time restored after a read.
void describe(const std::string& path, const std::string& shown, const std::set<std::string>& left,
              std::vector<std::string>& lines) {
    if (left.count(path) != 0) return;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        lines.push_back(shown + " missing");
        return;
    }
    char head[256];
    std::snprintf(head, sizeof head, " %o %u:%u %lld m%lld.%09ld c%lld.%09ld ",
                  static_cast<unsigned>(status.st_mode), static_cast<unsigned>(status.st_uid),
                  static_cast<unsigned>(status.st_gid), static_cast<long long>(status.st_size),
                  static_cast<long long>(status.st_mtim.tv_sec), status.st_mtim.tv_nsec,
                  static_cast<long long>(status.st_ctim.tv_sec), status.st_ctim.tv_nsec);
    std::string line = shown + head;
    if (S_ISREG(status.st_mode)) {
        line += readFile(path);
    } else if (S_ISLNK(status.st_mode)) {
        char text[PATH_MAX];
        ssize_t n = ::readlink(path.c_str(), text, sizeof text);
        line += "-> " + std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
    }
    lines.push_back(line);
    if (!S_ISDIR(status.st_mode)) return;
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(folder)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : names)
        describe(path + "/" + name, shown + "/" + name, left, lines);
}

std::set<std::string> snapshot(const std::string& root, const std::set<std::string>& left) {
    std::vector<std::string> lines;
    describe(root, "", left, lines);
    return std::set<std::string>(lines.begin(), lines.end());
}

// The lines only one of two snapshots has, marked - (before) and + (after).
std::string changes(const std::set<std::string>& before, const std::set<std::string>& after) {
    std::string text;
    for (const std::string& line : before)
        if (after.count(line) == 0) text += "- " + line + "\n";
    for (const std::string& line : after)
        if (before.count(line) == 0) text += "+ " + line + "\n";
    return text;
}

// Entries below `root`, links not followed, named like the secret file or
// holding the secret.
std::vector<std::string> secretsBelow(const std::string& root) {
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        std::string path = it->path().string();
        if (it->path().filename() == "secret.txt") found.push_back(path);
        if (!it->is_symlink(error) && it->is_regular_file(error) &&
            contains(readFile(path), kSecret))
            found.push_back(path);
    }
    return found;
}

// A test's temporary folder: the trees a run works on (which another user
// may own), the logs, and what a run must never reach. The outside folder
// holds files named like those a run writes or removes in a folder that
// became a link to it; the root-only folder holds a secret under the names
// of the files a run reads.
class RaceLayout {
public:
    RaceLayout() {
        // Another user reaches the trees, not the secret.
        ::chmod(dir.path().c_str(), 0755);
        std::filesystem::create_directories(trees);
        std::filesystem::create_directories(logs);
        std::filesystem::create_directories(parked);
        std::filesystem::create_directories(outside + "/sub");
        writeFile(outside + "/f.txt", "outside f\n");
        writeFile(outside + "/a.txt", "outside a\n");
        writeFile(outside + "/stale.txt", "outside stale\n");
        writeFile(outside + "/sub/inner.txt", "outside inner\n");
        std::filesystem::create_directories(secret);
        ::chmod(secret.c_str(), 0700);
        writeFile(secret + "/secret.txt", kSecret);
        writeFile(secret + "/a.txt", std::string(kSecret) + " a\n");
        writeFile(secret + "/f.txt", std::string(kSecret) + " f\n");
    }

    // Everything but the trees, the logs and what the test moved aside.
    std::set<std::string> untouchable() const {
        return snapshot(dir.path(), {trees, logs, parked});
    }
    void recordOutside() { before = untouchable(); }
    void expectUntouched(const std::string& log) const {
        EXPECT_EQ(changes(before, untouchable()), "");
        std::vector<std::string> leaked = secretsBelow(target);
        EXPECT_TRUE(leaked.empty()) << leaked.front();
        EXPECT_FALSE(contains(log, "secret.txt")) << log;
        EXPECT_FALSE(contains(log, kSecret)) << log;
    }

    // Moves `folder` into `parked`, out of the trees, and puts a link to
    // `to` in its place.
    void turnIntoLink(const std::string& folder, const std::string& to) {
        std::string aside = parked + "/" + std::to_string(parkedCount++);
        ASSERT_EQ(::rename(folder.c_str(), aside.c_str()), 0) << folder;
        ASSERT_EQ(::symlink(to.c_str(), folder.c_str()), 0) << folder;
    }

    TempDir dir;
    std::string trees = dir / "trees";
    std::string source = trees + "/src";
    std::string target = trees + "/tgt";
    std::string logs = dir / "logs";
    std::string logPath = logs + "/run.log";
    std::string parked = dir / "parked";
    std::string outside = dir / "outside";
    std::string secret = dir / "secret";
    std::set<std::string> before;
    int parkedCount = 0;
};

// ---- Swaps at a chosen call of a run in this process ----

class RaceAtACallTest : public testing::Test, protected RaceLayout {
protected:
    void TearDown() override {
        faults::disarmAll();
        platform::setProcessArguments(0, nullptr);
        resetRunState();
    }

    int run(std::vector<std::string> extra = {}) {
        std::vector<std::string> all = {source, target, logPath, "-nowarn"};
        all.insert(all.end(), extra.begin(), extra.end());
        return runInProcess(all);
    }
    std::string log() const { return readFile(logPath); }

    // Folders d01..dNN of one file each, mirrored.
    void mirrorFolders(int count) {
        for (int i = 1; i <= count; ++i) {
            std::string folder = source + "/" + folderName(i);
            std::filesystem::create_directories(folder);
            writeFile(folder + "/f.txt", "source " + folderName(i) + "\n");
        }
        ASSERT_EQ(run(), 0) << log();
    }
    void expectMirrored(int from, int to) const {
        for (int i = from; i <= to; ++i) {
            std::string name = "/" + folderName(i) + "/f.txt";
            EXPECT_EQ(readFile(target + name), "source " + folderName(i) + "\n") << name;
        }
    }
    // Whether the log reports this pair with this code, whatever the
    // report's words, and lists it as an exception.
    bool reported(const std::string& code, const std::string& sourcePath,
                  const std::string& targetPath) const {
        std::string pair = "\r\n: " + sourcePath + " " + targetPath + "\r\n";
        std::string text = log();
        return contains(text, "  " + code + pair) && contains(text, ": KAZ - " + code + pair);
    }

    InProcessRun runInProcess;
};

// d20 has fallen behind: f.txt outdated, new.txt missing, stale.txt and
// sub/ left over. Through a link each would overwrite, create or remove an
// outside entry of that name.
TEST_F(RaceAtACallTest, TargetFolderTurnedLinkBeforeItIsListed) {
    ASSERT_NO_FATAL_FAILURE(mirrorFolders(20));
    writeFile(source + "/d20/f.txt", "source d20, changed\n");
    setTimes(source + "/d20/f.txt", 1500000000);
    writeFile(source + "/d20/new.txt", "source new\n");
    writeFile(target + "/d20/stale.txt", "target stale\n");
    std::filesystem::create_directories(target + "/d20/sub");
    writeFile(target + "/d20/sub/inner.txt", "target inner\n");
    recordOutside();
    std::string d20 = target + "/d20";
    int id = faults::arm(Fault(Call::FindFirstFile, 0).onExactPath(d20 + "/*.*").then([&] {
        turnIntoLink(d20, outside);
    }));
    EXPECT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    std::string text = log();
    expectUntouched(text);
    EXPECT_EQ(lineAfter(text, ": KAZ - Error listing target folder  " + kBadPath),
              ": " + source + "/d20/ " + d20 + "/\r")
        << text;
    EXPECT_TRUE(reported(kBadPath, source + "/d20/", d20 + "/")) << text;
    expectMirrored(1, 19);
}

// Listed as a folder, then a link as the first file is about to be created
// in it: a.txt would overwrite the outside's, new.txt would be made there.
TEST_F(RaceAtACallTest, TargetFolderTurnedLinkBeforeAFileIsCreatedInIt) {
    ASSERT_NO_FATAL_FAILURE(mirrorFolders(20));
    writeFile(source + "/d20/a.txt", "source a\n");
    writeFile(source + "/d20/new.txt", "source new\n");
    recordOutside();
    std::string d20 = target + "/d20";
    int id = faults::arm(Fault(Call::CreateFile, 0).onPath(d20 + "/").then([&] {
        turnIntoLink(d20, outside);
    }));
    EXPECT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    std::string text = log();
    expectUntouched(text);
    for (const char* name : {"/a.txt", "/new.txt"})
        EXPECT_TRUE(reported(kBadPath, source + "/d20" + name, d20 + name)) << text;
    // Nothing went into the real folder either, now that it is elsewhere.
    EXPECT_EQ(readFile(parked + "/0/f.txt"), "source d20\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(parked + "/0"),
                            std::filesystem::directory_iterator()),
              1);
    expectMirrored(1, 19);
}

// A folder removed because the source lacks it: once one of its folders is
// gone, the next one it listed is a link before it is entered.
TEST_F(RaceAtACallTest, FolderBeingRemovedHasItsNextFolderTurnedLink) {
    std::filesystem::create_directories(source);
    writeFile(source + "/keep.txt", "keep\n");
    std::vector<std::string> xs;
    for (int i = 1; i <= 20; ++i) {
        xs.push_back(target + "/gone/x" + folderName(i).substr(1));
        std::filesystem::create_directories(xs.back() + "/sub");
        writeFile(xs.back() + "/stale.txt", "target stale\n");
        writeFile(xs.back() + "/sub/inner.txt", "target inner\n");
    }
    recordOutside();
    int entered = 0;
    std::string first, swapped;
    for (const std::string& x : xs) {
        faults::arm(Fault(Call::FindFirstFile, 0).onExactPath(x + "/*.*").then([&, x] {
            if (++entered == 1) first = x;
            if (entered != 2) return;
            swapped = x;
            turnIntoLink(x, outside);
        }));
    }
    EXPECT_EQ(run(), kRunIncomplete);
    ASSERT_EQ(entered, 2);
    std::string text = log();
    expectUntouched(text);
    EXPECT_FALSE(fileExists(first));
    EXPECT_TRUE(contains(text, ": RMDIR " + first + "\r\n")) << text;
    EXPECT_TRUE(contains(text, ": KAZ - Error parsing directory " + swapped + "\r\n")) << text;
    EXPECT_TRUE(contains(text, ": KAZ - " + kBadPath + "\r\n: " + swapped + " ")) << text;
    EXPECT_EQ(readFile(target + "/keep.txt"), "keep\n");
    // The real folder, moved aside before it was entered, was not reached.
    EXPECT_EQ(readFile(parked + "/0/stale.txt"), "target stale\n");
    EXPECT_EQ(readFile(parked + "/0/sub/inner.txt"), "target inner\n");
}

// Source folders turn into links to a root-only folder whose files have the
// names of theirs: d02 before it is listed, d03 before its new file is
// opened.
TEST_F(RaceAtACallTest, SourceFolderTurnedLinkToARootOnlyFolder) {
    ASSERT_NO_FATAL_FAILURE(mirrorFolders(3));
    writeFile(source + "/d02/a.txt", "source d02 a\n");
    writeFile(source + "/d03/a.txt", "source d03 a\n");
    recordOutside();
    std::string d02 = source + "/d02", d03 = source + "/d03";
    int listing = faults::arm(Fault(Call::FindFirstFile, 0).onExactPath(d02 + "/*.*").then([&] {
        turnIntoLink(d02, secret);
    }));
    int opening = faults::arm(Fault(Call::CreateFile, 0).onExactPath(d03 + "/a.txt").then([&] {
        turnIntoLink(d03, secret);
    }));
    EXPECT_EQ(run(), kRunIncomplete);
    EXPECT_EQ(faults::firings(listing), 1);
    EXPECT_EQ(faults::firings(opening), 1);
    std::string text = log();
    expectUntouched(text);
    EXPECT_EQ(lineAfter(text, ": KAZ - Error listing source folder  " + kBadPath),
              ": " + d02 + "/*.* " + target + "/d02/*.*\r")
        << text;
    EXPECT_TRUE(reported(kBadPath, d03 + "/a.txt", target + "/d03/a.txt")) << text;
    // What the target had of both stays; nothing came in.
    expectMirrored(1, 3);
    EXPECT_FALSE(fileExists(target + "/d02/a.txt"));
    EXPECT_FALSE(fileExists(target + "/d03/a.txt"));
}

// Verify: the target folder becomes a link to an outside folder with the
// same bytes after the walk has looked at it, as the source folder is listed,
// before any of its files is compared. Compared through the link, both files
// would pass. (A swap during the compares may let a file opened from the
// folder before it moved pass: it was the target's then.)
TEST_F(RaceAtACallTest, VerifyTargetFolderTurnedLinkBeforeItsFilesAreCompared) {
    std::filesystem::create_directories(source + "/sub");
    writeFile(source + "/sub/a.txt", "outside a\n");
    writeFile(source + "/sub/f.txt", "outside f\n");
    ASSERT_EQ(run(), 0) << log();
    recordOutside();
    std::string sub = target + "/sub";
    int id = faults::arm(Fault(Call::FindFirstFile, 0).onExactPath(source + "/sub/*.*").then([&] {
        turnIntoLink(sub, outside);
    }));
    EXPECT_EQ(run({"-verify"}), kRunIncomplete);
    EXPECT_EQ(faults::firings(id), 1);
    std::string text = log();
    expectUntouched(text);
    for (const char* name : {"/a.txt", "/f.txt"})
        EXPECT_TRUE(reported(kBadPath, source + "/sub" + name, sub + name)) << text;
    // Neither passed as equal.
    EXPECT_TRUE(contains(text, ": Total files copied:           0\r\n")) << text;
    EXPECT_TRUE(contains(text, ": Total files copied in error:  2\r\n")) << text;
}

// The run keeps the folders of its recent look-ups open. A folder moved out
// of the target after a file was written in it is no longer the target:
// nothing more may be made in it, and what is must not be logged as copied
// into the target.
TEST_F(RaceAtACallTest, TargetFolderMovedAwayAfterAFileWasWrittenInIt) {
    ASSERT_NO_FATAL_FAILURE(mirrorFolders(2));
    writeFile(source + "/d02/a.txt", "source a\n");
    writeFile(source + "/d02/new.txt", "source new\n");
    recordOutside();
    std::string d02 = target + "/d02";
    // Before the second file created in it, whichever that is.
    std::set<std::string> heldAtSwap;
    int id = faults::arm(Fault(Call::CreateFile, 0).onPath(d02 + "/").skip(1).then([&] {
        for (const auto& entry : std::filesystem::directory_iterator(d02))
            heldAtSwap.insert(entry.path().filename());
        turnIntoLink(d02, outside);
    }));
    int code = run();
    EXPECT_EQ(faults::firings(id), 1);
    std::string text = log();
    expectUntouched(text);
    EXPECT_EQ(code, kRunIncomplete) << text;
    EXPECT_TRUE(contains(text, kBadPath)) << text;
    for (const auto& entry : std::filesystem::directory_iterator(parked + "/0")) {
        std::string name = entry.path().filename();
        if (heldAtSwap.count(name) != 0) continue;
        bool listed = contains(text, "\n" + source + "/d02/" + name + " " + d02 + "/" + name);
        ADD_FAILURE() << name << " was made in the folder after it had left the target"
                      << (listed ? ", and the log lists it as copied into the target" : "")
                      << "\n" << text;
    }
}

// The same on the source side: a file read from a folder that has left the
// source is not a file of the source.
TEST_F(RaceAtACallTest, SourceFolderMovedAwayAfterAFileWasReadFromIt) {
    ASSERT_NO_FATAL_FAILURE(mirrorFolders(1));
    writeFile(source + "/d01/a.txt", "source a\n");
    writeFile(source + "/d01/new.txt", "source new\n");
    recordOutside();
    std::string d01 = source + "/d01";
    int id = faults::arm(Fault(Call::CreateFile, 0).onPath(d01 + "/").skip(1).then([&] {
        turnIntoLink(d01, secret);
    }));
    int code = run();
    EXPECT_EQ(faults::firings(id), 1);
    std::string text = log();
    expectUntouched(text);
    EXPECT_EQ(code, kRunIncomplete) << text;
    EXPECT_TRUE(contains(text, kBadPath)) << text;
}

// ---- Swaps while the binary runs ----

// Turns folders into links and back, all at once, again and again. Each turn
// exchanges a folder with a link kept in `attic` in one rename, so that the
// name is never missing; a link the run removed is made again. Everything
// is prepared beforehand: the loop also runs in a forked child that changed
// its user, where it must not allocate.
class FolderSwapper {
public:
    struct Swap {
        std::string folder;
        std::string linkTo;
    };

    FolderSwapper(std::vector<Swap> swaps, const std::string& attic)
        : swaps_(std::move(swaps)), attic_(attic) {
        for (size_t i = 0; i < swaps_.size(); ++i)
            links_.push_back(attic + "/link" + std::to_string(i));
    }

    void swapUntil(const std::atomic<bool>& stop) {
        while (!stop.load()) swapOnce();
    }
    [[noreturn]] void swapForever() {
        for (;;) swapOnce();
    }

private:
    void swapOnce() {
        for (size_t i = 0; i < swaps_.size(); ++i) keepLink(i);
        exchangeAll();
        pause();
        exchangeAll();
        pause();
    }
    void keepLink(size_t i) {
        struct stat status;
        const char* link = links_[i].c_str();
        if (::lstat(link, &status) == 0) {
            if (S_ISLNK(status.st_mode)) return;
            char aside[PATH_MAX];
            std::snprintf(aside, sizeof aside, "%s/old%u", attic_.c_str(), ++setAside_);
            ::rename(link, aside);
        }
        ::symlink(swaps_[i].linkTo.c_str(), link);
    }
    void exchangeAll() {
        for (size_t i = 0; i < swaps_.size(); ++i)
            ::renameat2(AT_FDCWD, links_[i].c_str(), AT_FDCWD, swaps_[i].folder.c_str(),
                        RENAME_EXCHANGE);
    }
    // 0.2 to 0.8 ms, so that the swaps drift against the run's steps.
    void pause() {
        timespec wait{0, static_cast<long>(200000 + (++turn_ % 7) * 100000)};
        ::nanosleep(&wait, nullptr);
    }

    std::vector<Swap> swaps_;
    std::vector<std::string> links_;
    std::string attic_;
    unsigned setAside_ = 0, turn_ = 0;
};

// A run may meet a folder, a link, or the one where the other was listed:
// the swaps fall where they fall. The runs repeat until enough of them met
// a link in a folder's place, or up to a limit.
constexpr int kMostRuns = 30;
constexpr int kEnoughLinksMet = 3;

class RacingRunTest : public testing::Test, protected RaceLayout {
protected:
    static constexpr int kFolders = 20;

    // Fresh trees: the target an outdated mirror with leftovers, so that
    // the run writes and removes in every folder.
    void buildTrees(uid_t owner) {
        for (const std::string& tree : {source, target, attic}) std::filesystem::remove_all(tree);
        std::filesystem::create_directories(attic);
        for (int i = 1; i <= kFolders; ++i) {
            std::string s = source + "/" + folderName(i), t = target + "/" + folderName(i);
            std::filesystem::create_directories(s);
            std::filesystem::create_directories(t + "/sub");
            writeFile(s + "/f.txt", "source f " + folderName(i) + "\n");
            writeFile(s + "/a.txt", "source a " + folderName(i) + "\n");
            writeFile(t + "/f.txt", "old f\n");
            setTimes(t + "/f.txt", 1000000000);
            writeFile(t + "/stale.txt", "target stale\n");
            writeFile(t + "/sub/inner.txt", "target inner\n");
        }
        if (owner == 0) return;
        ::lchown(trees.c_str(), owner, owner);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(trees))
            ::lchown(entry.path().c_str(), owner, owner);
    }
    // Every folder of `root`, each to become a link to `to`.
    std::vector<FolderSwapper::Swap> swapsOf(const std::string& root, const std::string& to) const {
        std::vector<FolderSwapper::Swap> swaps;
        for (int i = 1; i <= kFolders; ++i) swaps.push_back({root + "/" + folderName(i), to});
        return swaps;
    }

    // -delayopen widens the gaps between a listing and the calls after it.
    RunResult runKaz() {
        std::filesystem::remove(logPath);
        KazProcess kaz({source, target, logPath, "-nowarn", "-delayopen=1"});
        return waitWithin(kaz, 60);
    }

    // Whatever moment a swap hit: the outside untouched, no stop, and what
    // went wrong listed, each entry one of a swapped folder, with exit code 2.
    void checkRun(const RunResult& result) {
        ++runs;
        std::string text = readFile(logPath);
        SCOPED_TRACE("run " + std::to_string(runs) + "\n" + text);
        EXPECT_TRUE(fileExists(logPath)) << result.exitCode << "\n" << result.err;
        expectUntouched(text);
        EXPECT_TRUE(result.exitCode == 0 || result.exitCode == kRunIncomplete)
            << result.exitCode << "\n" << result.err;
        std::vector<std::string> pairs = exceptionPairs(text);
        if (!pairs.empty()) {
            EXPECT_EQ(result.exitCode, kRunIncomplete);
        }
        for (const std::string& pair : pairs)
            EXPECT_TRUE(contains(pair, source + "/d") || contains(pair, target + "/d")) << pair;
        if (contains(text, kBadPath)) ++linksMet;
    }
    bool racedEnough() const { return runs >= kMostRuns || linksMet >= kEnoughLinksMet; }
    // Runs until enough runs met a link, a thread swapping every folder of
    // `root` with a link to `to` and back meanwhile.
    void raceWithAThread(const std::string& root, const std::string& to) {
        recordOutside();
        while (!racedEnough()) {
            buildTrees(0);
            FolderSwapper swapper(swapsOf(root, to), attic);
            std::atomic<bool> stop{false};
            std::thread swapping([&] { swapper.swapUntil(stop); });
            RunResult result = runKaz();
            stop = true;
            swapping.join();
            checkRun(result);
        }
        expectLinksMet();
    }
    void expectLinksMet() {
        RecordProperty("runs", runs);
        RecordProperty("linksMet", linksMet);
        EXPECT_GE(linksMet, 1) << "no run of " << runs << " met a link";
    }

    std::string attic = trees + "/attic";
    int runs = 0;
    int linksMet = 0;
};

TEST_F(RacingRunTest, ThreadSwapsTargetFoldersForLinksToTheOutside) {
    raceWithAThread(target, outside);
}

TEST_F(RacingRunTest, ThreadSwapsSourceFoldersForLinksToARootOnlyFolder) {
    raceWithAThread(source, secret);
}

// Root mirrors trees that an unprivileged user owns, while that user swaps
// the folders of both: target folders for links to a folder of root's,
// source folders for links to a folder only root can read.
TEST_F(RacingRunTest, RootRunOverTreesThatTheirOwnerSwaps) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run kaz over another user's trees";
    recordOutside();
    while (!racedEnough()) {
        buildTrees(kNobody);
        std::vector<FolderSwapper::Swap> swaps = swapsOf(target, outside);
        for (const FolderSwapper::Swap& swap : swapsOf(source, secret)) swaps.push_back(swap);
        FolderSwapper swapper(swaps, attic);
        pid_t swapperPid = ::fork();
        ASSERT_GE(swapperPid, 0);
        if (swapperPid == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                _exit(126);
            swapper.swapForever();
        }
        RunResult result = runKaz();
        ::kill(swapperPid, SIGKILL);
        int status = 0;
        ::waitpid(swapperPid, &status, 0);
        // It swapped until stopped, as the user: its links are the user's.
        ASSERT_TRUE(WIFSIGNALED(status)) << "the swapper could not become user " << kNobody;
        struct stat link;
        ASSERT_EQ(::lstat((attic + "/link0").c_str(), &link), 0);
        EXPECT_EQ(link.st_uid, kNobody);
        checkRun(result);
    }
    expectLinksMet();
}

// ---- Verify ----

// A target folder that is a link where the source has a folder is a
// difference, never compared through: behind each link the outside holds
// the very bytes the source has, so a compare through it would pass. One
// folder has files, one only a folder with a file, one nothing at all.
TEST(VerifyLinkTest, TargetFolderThatIsALinkIsADifference) {
    RaceLayout layout;
    const std::string& source = layout.source;
    const std::string& target = layout.target;
    std::filesystem::create_directories(source + "/sub");
    std::filesystem::create_directories(source + "/nest/sub");
    std::filesystem::create_directories(source + "/empty");
    writeFile(source + "/top.txt", "top\n");
    writeFile(source + "/sub/a.txt", "outside a\n");
    writeFile(source + "/sub/f.txt", "outside f\n");
    writeFile(source + "/nest/sub/inner.txt", "outside inner\n");
    int status = -1;
    std::string copied = shell("cp -a '" + source + "' '" + target + "'", &status);
    ASSERT_EQ(status, 0) << copied;
    const std::vector<std::string> linked = {"/sub", "/nest", "/empty"};
    for (const std::string& name : linked) {
        std::filesystem::remove_all(target + name);
        ASSERT_EQ(::symlink(layout.outside.c_str(), (target + name).c_str()), 0);
    }
    layout.recordOutside();
    KazProcess kaz({source, target, layout.logPath, "-verify", "-nowarn"});
    RunResult result = waitWithin(kaz, 60);
    std::string text = readFile(layout.logPath);
    layout.expectUntouched(text);
    EXPECT_EQ(result.exitCode, kRunIncomplete) << result.err << text;
    std::vector<std::string> pairs = exceptionPairs(text);
    for (const std::string& name : linked) {
        bool named = std::any_of(pairs.begin(), pairs.end(), [&](const std::string& pair) {
            return contains(pair, " " + target + name + "/") ||
                   contains(pair, " " + target + name + "\r");
        });
        EXPECT_TRUE(named) << name << "\n" << text;
    }
    // Nothing behind the links was looked at: top.txt alone was compared.
    EXPECT_TRUE(contains(text, ": Total files considered:       1\r\n")) << text;
    EXPECT_TRUE(contains(text, ": Total files copied:           1\r\n")) << text;
}

// ---- The set-user-ID window ----

// Root copies another user's set-user-ID and set-group-ID files. Each copy
// must change hands before it gets those bits: a watcher that looks at
// every copy while it is made never sees one that is set-user-ID and root's,
// or set-group-ID and root's group.
TEST(SetUserIdWindowTest, CopyIsNeverSetUserIdAndRootsAtOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root gives a copy another user's ownership";
    RaceLayout layout;
    const std::string& source = layout.source;
    const std::string& target = layout.target;
    constexpr int kFiles = 40;
    auto modeOf = [](int i) { return i % 4 == 3 ? 06755u : 04755u; };
    std::filesystem::create_directories(source);
    for (int i = 0; i < kFiles; ++i) {
        std::string file = source + "/p" + std::to_string(i);
        writeFile(file, std::string(4096, static_cast<char>('a' + i % 26)));
        ASSERT_EQ(::chown(file.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chmod(file.c_str(), modeOf(i)), 0);
    }
    std::atomic<bool> ended{false};
    std::vector<std::string> seen;
    int watchedBeingMade = 0;
    // A copy still root's is being made: the watcher looks at it without
    // pause until it changes hands, and lists the folder between times.
    std::thread watcher([&] {
        auto wrong = [](const struct stat& status) {
            return (status.st_uid == 0 && (status.st_mode & S_ISUID)) ||
                   (status.st_gid == 0 && (status.st_mode & S_ISGID));
        };
        while (!ended.load()) {
            DIR* folder = ::opendir(target.c_str());
            if (folder == nullptr) {
                std::this_thread::yield();
                continue;
            }
            std::vector<std::string> names;
            while (const dirent* entry = ::readdir(folder))
                if (entry->d_name[0] != '.') names.push_back(target + "/" + entry->d_name);
            ::closedir(folder);
            for (const std::string& name : names) {
                struct stat status;
                for (int look = 0; look < 20000 && ::lstat(name.c_str(), &status) == 0; ++look) {
                    // A stat reads the owner and the mode one after the other,
                    // so one look taken across both changes can pair the old
                    // owner with the new mode; a copy that really is set-ID
                    // and root's is so for a second look too.
                    struct stat again;
                    if (wrong(status) && ::lstat(name.c_str(), &again) == 0 && wrong(again))
                        seen.push_back(name);
                    if (status.st_uid != 0) break;
                    if (look == 0) ++watchedBeingMade;
                }
            }
        }
    });
    KazProcess kaz({source, target, layout.logPath, "-nowarn", "-delaytarget=5"});
    RunResult result = waitWithin(kaz, 60);
    ended = true;
    watcher.join();
    ASSERT_EQ(result.exitCode, 0) << result.err << readFile(layout.logPath);
    EXPECT_TRUE(seen.empty()) << seen.size() << " looks saw a set-ID copy of root's, the first "
                              << seen.front();
    // It did watch copies being made, and they ended as their sources are.
    testing::Test::RecordProperty("watchedBeingMade", watchedBeingMade);
    EXPECT_GT(watchedBeingMade, 0);
    for (int i = 0; i < kFiles; ++i) {
        struct stat status;
        std::string file = target + "/p" + std::to_string(i);
        ASSERT_EQ(::lstat(file.c_str(), &status), 0) << file;
        EXPECT_EQ(status.st_uid, kNobody) << file;
        EXPECT_EQ(status.st_gid, kNobody) << file;
        EXPECT_EQ(status.st_mode & 07777, modeOf(i)) << file;
    }
}

}  // namespace
