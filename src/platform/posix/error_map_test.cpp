#include "platform/posix/error_map.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

// The code the layer gives `err`. The numbers behind the ERROR_ names are
// held to the table made from the Windows headers by the busy-code test.
DWORD codeFor(int err, const char* path = nullptr) { return windowsError(err, path); }

// What a call that had to fail left in errno, read as the layer reads it.
struct Failure {
    int err = 0;
    DWORD code = ERROR_SUCCESS;
};

Failure failureOf(long result, const std::string& path = "") {
    int err = errno;
    if (result != -1) return {0, ERROR_SUCCESS};
    return {err, codeFor(err, path.empty() ? nullptr : path.c_str())};
}

void expectReadAs(const Failure& failure, DWORD code) {
    EXPECT_EQ(failure.code, code) << "errno " << failure.err << ": " << std::strerror(failure.err);
}

// Failures made for real on a scratch folder: the kernel picks the errno,
// and the code must be the one Windows gives for the same failure.
TEST(ErrorMap, RealFailuresReadAsWindowsReportsThem) {
    ScratchFolder scratch;
    std::string plain = scratch.file("plain", "x");
    std::string folder = scratch.folder("folder");
    scratch.file("folder/inside", "x");

    expectReadAs(failureOf(open(scratch.path("absent").c_str(), O_RDONLY), scratch.path("absent")),
                 ERROR_FILE_NOT_FOUND);
    expectReadAs(failureOf(open(scratch.path("gone/absent").c_str(), O_RDONLY),
                           scratch.path("gone/absent")),
                 ERROR_PATH_NOT_FOUND);
    // A file where a folder of the path should be.
    expectReadAs(failureOf(open((plain + "/below").c_str(), O_RDONLY), plain + "/below"),
                 ERROR_PATH_NOT_FOUND);
    expectReadAs(failureOf(mkdir(folder.c_str(), 0755), folder), ERROR_ALREADY_EXISTS);
    expectReadAs(failureOf(rmdir(folder.c_str()), folder), ERROR_DIR_NOT_EMPTY);
    // A folder opened for writing, deleted as a file or linked to.
    expectReadAs(failureOf(open(folder.c_str(), O_WRONLY), folder), ERROR_ACCESS_DENIED);
    expectReadAs(failureOf(unlink(folder.c_str()), folder), ERROR_ACCESS_DENIED);
    expectReadAs(failureOf(link(folder.c_str(), scratch.path("hard").c_str())),
                 ERROR_ACCESS_DENIED);
    std::string tooLong = scratch.path(std::string(300, 'n'));
    expectReadAs(failureOf(open(tooLong.c_str(), O_RDONLY), tooLong), ERROR_FILENAME_EXCED_RANGE);
    expectReadAs(failureOf(fcntl(-1, F_GETFD)), ERROR_INVALID_HANDLE);

    // Another holder of the file's lock: the file is in use.
    int holder = open(plain.c_str(), O_RDONLY | O_CLOEXEC);
    int second = open(plain.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    expectReadAs(failureOf(flock(second, LOCK_EX | LOCK_NB)), ERROR_SHARING_VIOLATION);
    close(second);
    close(holder);

    // A name that leads round in circles is one the walk may not follow.
    scratch.link("loop", "loop");
    expectReadAs(failureOf(open((scratch.path("loop") + "/x").c_str(), O_RDONLY)),
                 ERROR_BAD_PATHNAME);
}

// Limits of the process, lowered for one call and put back at once.
TEST(ErrorMap, ExhaustedLimitsReadAsWindowsReportsThem) {
    ScratchFolder scratch;
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    rlimit none = files;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    long opened = open(scratch.path("any").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    Failure noDescriptor = failureOf(opened);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
    expectReadAs(noDescriptor, ERROR_TOO_MANY_OPEN_FILES);

    // A write the file cannot take, as on a full disk.
    int fd = open(scratch.path("grows").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    rlimit size{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &size), 0);
    rlimit small = size;
    small.rlim_cur = 10;
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    long first = write(fd, "0123456789abcdef", 16);
    Failure full = failureOf(write(fd, "x", 1));
    setrlimit(RLIMIT_FSIZE, &size);
    sigaction(SIGXFSZ, &previous, nullptr);
    close(fd);
    EXPECT_EQ(first, 10);
    expectReadAs(full, ERROR_DISK_FULL);
}

TEST(ErrorMap, MoveToAnotherFileSystemIsNotSameDevice) {
    ScratchFolder scratch;
    std::string file = scratch.file("file", "x");
    struct stat here {}, there {};
    if (stat(scratch.root().c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm to move to";
    std::string away = "/dev/shm/kaz-error-map-" + std::to_string(getpid());
    Failure moved = failureOf(rename(file.c_str(), away.c_str()));
    unlink(away.c_str());
    expectReadAs(moved, ERROR_NOT_SAME_DEVICE);
}

TEST(ErrorMap, RefusedPermissionIsAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root passes every permission check";
    ScratchFolder scratch;
    scratch.folder("closed", 0);
    expectReadAs(failureOf(open(scratch.path("closed/x").c_str(), O_RDONLY)),
                 ERROR_ACCESS_DENIED);
}

TEST(ErrorMap, WritingARunningProgramIsASharingViolation) {
    int fd = open("/proc/self/exe", O_WRONLY | O_CLOEXEC);
    Failure failure = failureOf(fd);
    if (fd >= 0) {
        close(fd);
        GTEST_SKIP() << "this system lets a running program be opened for writing";
    }
    if (failure.err == EACCES || failure.err == EPERM)
        GTEST_SKIP() << "this user may not write the program's file in any case";
    expectReadAs(failure, ERROR_SHARING_VIOLATION);
}

// Failures a scratch folder cannot bring about (some not on every system,
// nor for root), each read as the Windows code of the same meaning.
TEST(ErrorMap, OtherErrorsReadAsTheWindowsCodeOfTheSameMeaning) {
    const std::pair<int, DWORD> meanings[] = {
        {ENOSPC, ERROR_DISK_FULL},         {EDQUOT, ERROR_DISK_FULL},
        {EROFS, ERROR_WRITE_PROTECT},      {EIO, ERROR_IO_DEVICE},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
        {EINVAL, ERROR_INVALID_PARAMETER}, {EBUSY, ERROR_BUSY},
        {EDEADLK, ERROR_LOCK_VIOLATION},   {ENOLCK, ERROR_SHARING_BUFFER_EXCEEDED},
        {ENXIO, ERROR_DEV_NOT_EXIST},      {ENODEV, ERROR_DEV_NOT_EXIST},
        {EOPNOTSUPP, ERROR_NOT_SUPPORTED}, {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED},
        {ESTALE, ERROR_NETNAME_DELETED},   {ECONNRESET, ERROR_NETNAME_DELETED},
        {EHOSTUNREACH, ERROR_BAD_NETPATH}, {ETIMEDOUT, ERROR_SEM_TIMEOUT},
        {EACCES, ERROR_ACCESS_DENIED},     {ETXTBSY, ERROR_SHARING_VIOLATION},
        {EXDEV, ERROR_NOT_SAME_DEVICE},
    };
    for (const auto& [err, code] : meanings) EXPECT_EQ(codeFor(err), code) << std::strerror(err);
}

// Spellings of one errno read alike; no error is success; what the layer
// does not know is a general failure, never success or a busy file.
TEST(ErrorMap, AliasesSuccessAndUnknownErrors) {
    EXPECT_EQ(windowsError(0), ERROR_SUCCESS);
    EXPECT_EQ(windowsError(EWOULDBLOCK), windowsError(EAGAIN));
    EXPECT_EQ(windowsError(ENOTSUP), windowsError(EOPNOTSUPP));
    for (int err : {EDOM, EPIPE, ERANGE, 9999}) {
        EXPECT_EQ(windowsError(err), ERROR_GEN_FAILURE) << err;
    }
}

TEST(ErrorMap, MissingNameReadsAsMissingPathWhenItsFolderIsGone) {
    ScratchFolder scratch;
    scratch.file("plain", "x");
    EXPECT_EQ(windowsError(ENOENT, scratch.path("absent").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(windowsError(ENOENT, scratch.path("gone/absent").c_str()), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(windowsError(ENOENT, scratch.path("gone/deeper/absent").c_str()),
              ERROR_PATH_NOT_FOUND);
    // A file where a folder should be is a broken path, not a missing file.
    EXPECT_EQ(windowsError(ENOENT, scratch.path("plain/absent").c_str()), ERROR_PATH_NOT_FOUND);
    // Trailing separators name the same entry.
    EXPECT_EQ(windowsError(ENOENT, (scratch.path("absent") + "//").c_str()),
              ERROR_FILE_NOT_FOUND);
    // The path rule concerns ENOENT only.
    EXPECT_EQ(windowsError(EACCES, scratch.path("gone/absent").c_str()), ERROR_ACCESS_DENIED);
}

TEST(ErrorMap, NamesWithoutFolderPartLookInTheCurrentFolderAndRoot) {
    EXPECT_EQ(windowsError(ENOENT, "kaz-surely-absent-name"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(windowsError(ENOENT, "/kaz-surely-absent-name"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(windowsError(ENOENT, "/kaz-surely-absent-folder/name"), ERROR_PATH_NOT_FOUND);
}

TEST(LastError, FailureHelpersSetTheCodeAndEachThreadKeepsItsOwn) {
    EXPECT_EQ(failWithErrno(ENOSPC), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    DWORD seenByOtherThread = 1234;
    std::thread other([&] {
        seenByOtherThread = GetLastError();
        failWithCode(ERROR_BUSY);
    });
    other.join();
    EXPECT_EQ(seenByOtherThread, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

}  // namespace
}  // namespace posix
