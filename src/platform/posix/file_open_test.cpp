#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/listed_open.h"
#include "platform/posix/file_status.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"
#include "test_support.h"

namespace posix {
namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE openFor(const std::string& path, DWORD access, DWORD share,
               DWORD disposition = OPEN_EXISTING, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

HANDLE readShared(const std::string& path) {
    return openFor(path, GENERIC_READ, FILE_SHARE_READ);
}

HANDLE createTarget(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
    return openFor(path, GENERIC_WRITE, 0, CREATE_ALWAYS, attributes);
}

// The last error when the open was refused, 0 when it succeeded (the
// handle is closed again at once).
DWORD refusal(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(handle);
    return 0;
}

mode_t modeOf(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0xFFFF;
}

std::string readAll(HANDLE handle) {
    std::string content;
    char block[7];
    DWORD count = 0;
    while (ReadFile(handle, block, sizeof block, &count, nullptr) && count > 0)
        content.append(block, count);
    return content;
}

// Reads go on from where the file pointer was set, counted from the start;
// positions beyond four gigabytes come in two halves.
TEST(SetFilePointer, ReadsGoOnFromThePositionSet) {
    ScratchFolder scratch;
    std::string path = scratch.file("data", "0123456789");
    HANDLE handle = readShared(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    LONG high = 0;
    EXPECT_EQ(SetFilePointer(handle, 6, &high, FILE_BEGIN), 6u);
    EXPECT_EQ(readAll(handle), "6789");
    high = 1;
    EXPECT_EQ(SetFilePointer(handle, 5, &high, FILE_BEGIN), 5u);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(readAll(handle), "");
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, 2 /* FILE_END */), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(handle);
    EXPECT_EQ(SetFilePointer(nullptr, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(CreateFile, CreateAlwaysReportsWhetherItReplacedAFile) {
    ScratchFolder scratch;
    std::string path = scratch.path("target");
    HANDLE fresh = createTarget(path, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(fresh, "old content", 11, &written, nullptr));
    EXPECT_EQ(written, 11u);
    CloseHandle(fresh);

    SetLastError(ERROR_GEN_FAILURE);
    HANDLE replaced = createTarget(path, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(replaced, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(replaced);
    EXPECT_EQ(ScratchFolder::contentOf(path), "");
}

TEST(CreateFile, ReplacingAHardLinkedFileLeavesTheOtherNamesContent) {
    ScratchFolder scratch;
    std::string snapshot = scratch.file("snapshot", "older version");
    std::string current = scratch.path("current");
    ASSERT_EQ(link(snapshot.c_str(), current.c_str()), 0);
    HANDLE handle = createTarget(current);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(handle, "newer", 5, &written, nullptr));
    // The new file is locked like any other target.
    EXPECT_EQ(refusal(readShared(current)), ERROR_SHARING_VIOLATION);
    CloseHandle(handle);
    EXPECT_EQ(ScratchFolder::contentOf(snapshot), "older version");
    EXPECT_EQ(ScratchFolder::contentOf(current), "newer");
    EXPECT_EQ(modeOf(current), 0600u);
}

TEST(CreateFile, MissingFileAndMissingFolderAreToldApart) {
    ScratchFolder scratch;
    EXPECT_EQ(refusal(readShared(scratch.path("absent"))), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(refusal(readShared(scratch.path("gone/absent"))), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(refusal(createTarget(scratch.path("gone/new"))), ERROR_PATH_NOT_FOUND);
    scratch.file("there", "x");
    EXPECT_EQ(refusal(openFor(scratch.path("there"), GENERIC_WRITE, 0, CREATE_NEW)),
              ERROR_FILE_EXISTS);
    EXPECT_EQ(refusal(openFor(scratch.path("there"), GENERIC_READ, 0, 9)),
              ERROR_INVALID_PARAMETER);
}

// A new file is created without a look at the name first: the create itself
// must refuse whatever stands there, without opening, following or changing it.
TEST(CreateFile, CreateNewRefusesEveryKindOfEntryAtTheName) {
    ScratchFolder scratch;
    std::string outside = scratch.file("outside", "must stay", 0644);
    scratch.file("file", "old content", 0644);
    scratch.link("link", "outside");
    scratch.link("dangling", "nowhere");
    scratch.folder("folder");
    ASSERT_EQ(mkfifo(scratch.path("pipe").c_str(), 0600), 0);
    for (const char* name : {"file", "link", "dangling", "folder", "pipe"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(refusal(openFor(scratch.path(name), GENERIC_WRITE, 0, CREATE_NEW,
                                  FILE_ATTRIBUTE_ARCHIVE)),
                  ERROR_FILE_EXISTS);
    }
    EXPECT_EQ(ScratchFolder::contentOf(scratch.path("file")), "old content");
    EXPECT_EQ(ScratchFolder::contentOf(outside), "must stay");
    EXPECT_EQ(modeOf(outside), 0644u);
    EXPECT_EQ(modeOf(scratch.path("nowhere")), 0xFFFFu);
    EXPECT_EQ(refusal(openFor(scratch.path("gone/new"), GENERIC_WRITE, 0, CREATE_NEW)),
              ERROR_PATH_NOT_FOUND);
}

// The status flags of the descriptor this process holds open on `path`.
int statusFlagsOfOpen(const std::string& path) {
    struct stat named, held;
    if (lstat(path.c_str(), &named) != 0) return -1;
    for (int fd = 0; fd < 1024; ++fd) {
        if (fstat(fd, &held) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fcntl(fd, F_GETFL);
    }
    return -1;
}

// Reads and writes wait for their data: O_NONBLOCK, which keeps an open from
// hanging on a FIFO, is gone from every handle that moves bytes.
TEST(CreateFile, HandlesThatReadOrWriteAreBlocking) {
    ScratchFolder scratch;
    std::string existing = scratch.file("existing", "x");
    std::string linked = scratch.file("linked", "x");
    ASSERT_EQ(link(linked.c_str(), scratch.path("other name").c_str()), 0);
    struct Case {
        std::string path;
        DWORD access, disposition;
    };
    const Case cases[] = {
        {scratch.path("created new"), GENERIC_WRITE, CREATE_NEW},
        {scratch.path("created always"), GENERIC_WRITE, CREATE_ALWAYS},
        {existing, GENERIC_WRITE, CREATE_ALWAYS},
        {linked, GENERIC_WRITE, CREATE_ALWAYS},
        {existing, GENERIC_READ, OPEN_EXISTING},
        {existing, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
    };
    for (const Case& open : cases) {
        SCOPED_TRACE(open.path);
        HANDLE handle = openFor(open.path, open.access, FILE_SHARE_READ, open.disposition,
                                FILE_ATTRIBUTE_ARCHIVE);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        int flags = statusFlagsOfOpen(open.path);
        EXPECT_NE(flags, -1);
        EXPECT_EQ(flags & O_NONBLOCK, 0);
        CloseHandle(handle);
    }
}

TEST(CreateFile, NewFilesAreNormalOrPrivateByTheirAttributes) {
    ScratchFolder scratch;
    mode_t mask = umask(022);
    EXPECT_EQ(refusal(createTarget(scratch.path("normal"), FILE_ATTRIBUTE_NORMAL)), 0u);
    EXPECT_EQ(refusal(createTarget(scratch.path("zero"), 0)), 0u);
    EXPECT_EQ(refusal(createTarget(scratch.path("copy"), FILE_ATTRIBUTE_ARCHIVE)), 0u);
    // A readable file replaced by a private copy stops being readable at once.
    std::string shown = scratch.file("shown", "secret to be", 0644);
    EXPECT_EQ(refusal(createTarget(shown, FILE_ATTRIBUTE_ARCHIVE)), 0u);
    umask(mask);
    EXPECT_EQ(modeOf(scratch.path("normal")), 0644u);
    EXPECT_EQ(modeOf(scratch.path("zero")), 0644u);
    EXPECT_EQ(modeOf(scratch.path("copy")), 0600u);
    EXPECT_EQ(modeOf(shown), 0600u);
}

TEST(CreateFile, SharedReadersExcludeExclusiveOpensAndWriters) {
    ScratchFolder scratch;
    std::string path = scratch.file("data", "content");
    HANDLE holder = readShared(path);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(refusal(readShared(path)), 0u);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, 0)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(createTarget(path)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ | GENERIC_WRITE, kShareReadWrite)), 0u);
    CloseHandle(holder);
    // A refused create leaves the file as it was; closing frees it.
    EXPECT_EQ(ScratchFolder::contentOf(path), "content");
    EXPECT_EQ(refusal(createTarget(path)), 0u);
}

TEST(CreateFile, ExclusiveHoldersExcludeEveryOpen) {
    ScratchFolder scratch;
    std::string path = scratch.file("data", "content");
    for (DWORD access : {GENERIC_READ, GENERIC_WRITE}) {
        HANDLE holder = openFor(path, access, 0);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(refusal(readShared(path)), ERROR_SHARING_VIOLATION) << access;
        EXPECT_EQ(refusal(openFor(path, GENERIC_READ, 0)), ERROR_SHARING_VIOLATION) << access;
        EXPECT_EQ(refusal(createTarget(path)), ERROR_SHARING_VIOLATION) << access;
        EXPECT_EQ(refusal(openFor(path, GENERIC_READ, kShareReadWrite)), ERROR_SHARING_VIOLATION)
            << access;
        CloseHandle(holder);
    }
    EXPECT_EQ(ScratchFolder::contentOf(path), "content");
}

TEST(CreateFile, ReadWriteSharingTakesNoLock) {
    ScratchFolder scratch;
    std::string path = scratch.file("data", "content");
    HANDLE holder = openFor(path, GENERIC_READ | GENERIC_WRITE, kShareReadWrite);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, 0)), 0u);
    EXPECT_EQ(refusal(readShared(path)), 0u);
    CloseHandle(holder);
}

// Another process that locks the file the way other programs do. (A
// record lock must live in another process: closing any descriptor of the
// file in the locking process would drop it.)
class ForeignLock : public ::testing::Test {
protected:
    void SetUp() override { path = scratch.file("data", "content"); }
    void TearDown() override {
        if (child <= 0) return;
        close(release[1]);
        waitpid(child, nullptr, 0);
    }
    // `kind` is 'F' for flock, 'R' for a record lock; `type` read or write.
    void holdLock(char kind, bool exclusive) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(release[1]);
            char signal = lockInChild(kind, exclusive) ? 'y' : 'n';
            if (write(ready[1], &signal, 1) != 1 || read(release[0], &signal, 1) < 0) _exit(2);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        char signal = 'n';
        ASSERT_EQ(read(ready[0], &signal, 1), 1);
        close(ready[0]);
        ASSERT_EQ(signal, 'y');
    }
    bool lockInChild(char kind, bool exclusive) {
        int fd = open(path.c_str(), O_RDWR);
        if (fd < 0) return false;
        if (kind == 'F') return flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
        struct flock region{};
        region.l_type = exclusive ? F_WRLCK : F_RDLCK;
        region.l_whence = SEEK_SET;
        return fcntl(fd, F_SETLK, &region) == 0;
    }
    ScratchFolder scratch;
    std::string path;
    pid_t child = -1;
    int release[2] = {-1, -1};
};

TEST_F(ForeignLock, ExclusiveFlockMakesTheFileBusy) {
    holdLock('F', true);
    EXPECT_EQ(refusal(readShared(path)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, 0)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, kShareReadWrite)), ERROR_SHARING_VIOLATION);
}

TEST_F(ForeignLock, SharedFlockAllowsReadersOnly) {
    holdLock('F', false);
    EXPECT_EQ(refusal(readShared(path)), 0u);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, 0)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(createTarget(path)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ScratchFolder::contentOf(path), "content");
}

TEST_F(ForeignLock, RecordWriteLockMakesTheFileBusy) {
    holdLock('R', true);
    EXPECT_EQ(refusal(readShared(path)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, 0)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(createTarget(path)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, kShareReadWrite)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ScratchFolder::contentOf(path), "content");
}

TEST_F(ForeignLock, RecordReadLockAllowsReadersOnly) {
    holdLock('R', false);
    EXPECT_EQ(refusal(readShared(path)), 0u);
    EXPECT_EQ(refusal(openFor(path, GENERIC_READ, 0)), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusal(createTarget(path)), ERROR_SHARING_VIOLATION);
}

// Two processes: the child holds the file as told and reports over a pipe;
// the parent tries its own open while the child waits.
DWORD refusalWhileChildHolds(const std::string& path, DWORD childShare, DWORD parentShare) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return 0xFFFFFFFFu;
    pid_t child = fork();
    if (child == 0) {
        close(release[1]);
        HANDLE held = openFor(path, GENERIC_READ, childShare);
        char signal = held == INVALID_HANDLE_VALUE ? 'n' : 'y';
        if (write(ready[1], &signal, 1) != 1 || read(release[0], &signal, 1) < 0) _exit(2);
        _exit(0);
    }
    char signal = 'n';
    DWORD result = 0xFFFFFFFFu;
    if (read(ready[0], &signal, 1) == 1 && signal == 'y')
        result = refusal(openFor(path, GENERIC_READ, parentShare));
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0]}) close(fd);
    return result;
}

TEST(CreateFile, ExclusiveAndSharedReadersOfTwoProcessesConflictBothWays) {
    ScratchFolder scratch;
    std::string path = scratch.file("data", "content");
    EXPECT_EQ(refusalWhileChildHolds(path, 0, FILE_SHARE_READ), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusalWhileChildHolds(path, FILE_SHARE_READ, 0), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(refusalWhileChildHolds(path, FILE_SHARE_READ, FILE_SHARE_READ), 0u);
}

TEST(CreateFile, LinksAreReadAsTheirTextAndNeverWrittenThrough) {
    ScratchFolder scratch;
    std::string outside = scratch.file("outside", "must stay");
    std::string link = scratch.link("link", "outside");
    EXPECT_EQ(refusal(createTarget(link)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(refusal(openFor(link, GENERIC_WRITE, 0, OPEN_ALWAYS)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ScratchFolder::contentOf(outside), "must stay");

    HANDLE reader = readShared(link);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readAll(reader), "outside");
    BY_HANDLE_FILE_INFORMATION info;
    EXPECT_TRUE(GetFileInformationByHandle(reader, &info));
    EXPECT_EQ(info.nFileSizeLow, 7u);
    EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    DWORD written = 1;
    EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(reader);
}

TEST(CreateFile, SpecialFilesAreNeverOpened) {
    ScratchFolder scratch;
    std::string fifo = scratch.path("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opening the FIFO itself would wait for a peer at its other end, so the
    // opens run aside. If they are still waiting at the deadline, a peer at
    // both ends lets them go on, and they then show as not refused.
    DWORD reading = 0, writing = 0;
    std::atomic<bool> done{false};
    std::thread opener([&] {
        reading = refusal(readShared(fifo));
        writing = refusal(createTarget(fifo));
        done = true;
    });
    if (!eventually([&] { return done.load(); })) {
        ADD_FAILURE() << "the opens of the FIFO waited for a peer";
        int peer = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        opener.join();
        close(peer);
    } else {
        opener.join();
    }
    EXPECT_EQ(reading, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(writing, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(refusal(readShared("/dev/null")), ERROR_NOT_SUPPORTED);
}

// What an open trusting the listing makes of a name that changed since: the
// careful open's result, code for code, and never a wait on a FIFO.
TEST(OpenListedFile, ANameChangedSinceItsListingOpensAsCreateFileWould) {
    ScratchFolder scratch;
    ASSERT_EQ(mkfifo(scratch.path("pipe").c_str(), 0600), 0);
    int socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = scratch.path("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    scratch.file("outside", "must stay");
    scratch.link("link", "outside");
    scratch.folder("folder");
    scratch.file("file", "plain");
    const std::string names[] = {"pipe", "socket", "link", "folder", "missing", "file"};
    std::map<std::string, std::string> listed, careful;
    std::atomic<bool> done{false};
    auto outcome = [](HANDLE handle) {
        if (handle == INVALID_HANDLE_VALUE) return "refused " + std::to_string(GetLastError());
        std::string content = readAll(handle);
        CloseHandle(handle);
        return "read " + content;
    };
    std::thread opener([&] {
        for (const std::string& name : names) {
            const std::string path = scratch.path(name);
            listed[name] = outcome(
                platform::openListedFile(path.c_str(), FILE_ATTRIBUTE_ARCHIVE, FILE_SHARE_READ, 0));
            careful[name] = outcome(readShared(path));
        }
        done = true;
    });
    if (!eventually([&] { return done.load(); })) {
        ADD_FAILURE() << "an open of the FIFO waited for a peer";
        int peer = open(scratch.path("pipe").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        opener.join();
        close(peer);
    } else {
        opener.join();
    }
    close(socketFd);
    EXPECT_EQ(listed, careful);
    EXPECT_EQ(listed["pipe"], "refused " + std::to_string(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(listed["socket"], "refused " + std::to_string(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(listed["link"], "read outside") << "the link's text, never what it leads to";
    EXPECT_EQ(listed["file"], "read plain");
}

// Only what a listing gives a regular file lets the open skip its look,
// whatever else the word holds (read-only, hidden, permission bits).
TEST(OpenListedFile, OnlyARegularFileIsTakenAsListedPlain) {
    ScratchFolder scratch;
    ASSERT_EQ(mkfifo(scratch.path("pipe").c_str(), 0600), 0);
    scratch.file(".hidden-read-only", "x", 0444);
    scratch.file("setuid", "x", 04755);
    scratch.link("link", "setuid");
    scratch.folder("folder");
    const std::pair<const char*, bool> kinds[] = {
        {"pipe", false}, {".hidden-read-only", true}, {"setuid", true},
        {"link", false}, {"folder", false},           {"/dev/null", false}};
    for (const auto& [name, plain] : kinds) {
        const std::string path = name[0] == '/' ? std::string(name) : scratch.path(name);
        FileStatus status;
        ASSERT_TRUE(statusInFolder(AT_FDCWD, path.c_str(), status)) << name;
        EXPECT_EQ(isRegularFileWord(attributeWord(status, name)), plain) << name;
    }
}

TEST(CreateFile, FoldersOpenOnlyWithBackupSemanticsAndForReading) {
    ScratchFolder scratch;
    std::string folder = scratch.folder("sub");
    EXPECT_EQ(refusal(readShared(folder)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(refusal(createTarget(folder)), ERROR_ACCESS_DENIED);
    HANDLE handle = openFor(folder, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    EXPECT_TRUE(GetFileInformationByHandle(handle, &info));
    EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    char byte;
    DWORD count = 1;
    EXPECT_FALSE(ReadFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(handle);
}

TEST(CreateFile, ReadsFillTheCountUntilTheEnd) {
    ScratchFolder scratch;
    std::string content(300000, 'a');
    for (size_t i = 0; i < content.size(); i += 4099) content[i] = static_cast<char>('b' + i % 20);
    std::string path = scratch.file("big", content);
    HANDLE handle = openFor(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::string block(131072, '\0');
    std::string copied;
    DWORD counts[4] = {};
    for (DWORD& count : counts) {
        EXPECT_TRUE(ReadFile(handle, block.data(), 131072, &count, nullptr));
        copied.append(block.data(), count);
    }
    EXPECT_EQ(counts[0], 131072u);
    EXPECT_EQ(counts[1], 131072u);
    EXPECT_EQ(counts[2], 300000u - 262144u);
    EXPECT_EQ(counts[3], 0u);
    EXPECT_EQ(copied, content);
    DWORD written = 1;
    EXPECT_FALSE(WriteFile(handle, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(handle);
}

TEST(CreateFile, ReadingASourceLeavesItsAccessTime) {
    ScratchFolder scratch;
    std::string path = scratch.file("source", "some bytes");
    // Access before modification: a relatime mount would update it.
    timespec times[2] = {{1000000000, 0}, {1500000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    HANDLE handle = readShared(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readAll(handle), "some bytes");
    CloseHandle(handle);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_atim.tv_sec, 1000000000);
}

TEST(CreateFile, UnwritableFileRefusesAWriterWithAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes every file";
    ScratchFolder scratch;
    std::string path = scratch.file("locked", "keep", 0444);
    EXPECT_EQ(refusal(createTarget(path)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ScratchFolder::contentOf(path), "keep");
}

TEST(CloseHandle, RefusesNoHandleAndPassesOverPseudoHandles) {
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
    char byte;
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(nullptr, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace posix
