#include "platform/posix/error_map.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

struct Row {
    int err;
    DWORD code;
};

TEST(ErrorMap, EachErrnoHasItsWindowsCode) {
    const Row rows[] = {
        {0, ERROR_SUCCESS},
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, ERROR_PATH_NOT_FOUND},
        {EACCES, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED},
        {EISDIR, ERROR_ACCESS_DENIED},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
        {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
        {EROFS, ERROR_WRITE_PROTECT},
        {EXDEV, ERROR_NOT_SAME_DEVICE},
        {EINVAL, ERROR_INVALID_PARAMETER},
        {ENOSPC, ERROR_DISK_FULL},
        {EDQUOT, ERROR_DISK_FULL},
        {EFBIG, ERROR_DISK_FULL},
        {ETXTBSY, ERROR_SHARING_VIOLATION},
        {EAGAIN, ERROR_SHARING_VIOLATION},
        {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
        {EDEADLK, ERROR_LOCK_VIOLATION},
        {ENOLCK, ERROR_SHARING_BUFFER_EXCEEDED},
        {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
        {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
        {EEXIST, ERROR_ALREADY_EXISTS},
        {EIO, ERROR_IO_DEVICE},
        {EBUSY, ERROR_BUSY},
        {EBADF, ERROR_INVALID_HANDLE},
        {ELOOP, ERROR_BAD_PATHNAME},
        {ENXIO, ERROR_DEV_NOT_EXIST},
        {ENODEV, ERROR_DEV_NOT_EXIST},
        {ENOTSUP, ERROR_NOT_SUPPORTED},
        {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
        {ESTALE, ERROR_NETNAME_DELETED},
        {ECONNRESET, ERROR_NETNAME_DELETED},
        {EHOSTUNREACH, ERROR_BAD_NETPATH},
        {ETIMEDOUT, ERROR_SEM_TIMEOUT},
        {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED},
        {EDOM, ERROR_GEN_FAILURE},
        {EPIPE, ERROR_GEN_FAILURE},
        {9999, ERROR_GEN_FAILURE},
    };
    for (const Row& row : rows)
        EXPECT_EQ(windowsError(row.err), row.code) << "errno " << row.err;
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
