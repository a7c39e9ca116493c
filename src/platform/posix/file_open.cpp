// Opening and creating files: CreateFileA.
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/listed_open.h"
#include "platform/posix/anchor.h"
#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/file_lock.h"
#include "platform/posix/file_status.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

struct OpenRequest {
    const char* name;  // as the caller gave it
    NameAt at;         // where it is looked up
    bool read;
    bool write;
    ShareLock lock;
    DWORD disposition;
    DWORD flags;
};

// One attempt either ends the call or finds the name changed under it (a
// file became a link, vanished or appeared) and asks to look again.
enum class Step { Done, Retry };

constexpr int kAttempts = 3;
constexpr DWORD kAttributeBits = 0x0000FFFFu;

bool createsMissing(DWORD disposition) {
    return disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
           disposition == OPEN_ALWAYS;
}

bool truncatesExisting(DWORD disposition) {
    return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
}

// A new file for a copy starts private until the copy gives it its own
// permissions, so that another user never reads it in between.
bool startsPrivate(DWORD flags) {
    DWORD attributes = flags & kAttributeBits;
    return attributes != 0 && attributes != FILE_ATTRIBUTE_NORMAL;
}

// Why an entry of this type cannot be opened as asked; 0 when it can.
DWORD refusalFor(mode_t mode, const OpenRequest& request) {
    if (S_ISREG(mode)) return ERROR_SUCCESS;
    if (S_ISDIR(mode))
        return (request.flags & FILE_FLAG_BACKUP_SEMANTICS) && !request.write
                   ? ERROR_SUCCESS
                   : ERROR_ACCESS_DENIED;
    // FIFOs, sockets and devices could block or act on open.
    return ERROR_NOT_SUPPORTED;
}

HANDLE failed(DWORD code) {
    failWithCode(code);
    return INVALID_HANDLE_VALUE;
}

HANDLE failedErrno(int err, const OpenRequest& request) {
    failAt(request.at, err, request.name);
    return INVALID_HANDLE_VALUE;
}

FileHandle* newHandle(const OpenRequest& request) {
    auto* file = new (std::nothrow) FileHandle;
    if (file == nullptr) return nullptr;
    file->path = request.name;
    file->readable = request.read;
    file->writable = request.write;
    return file;
}

Step openLink(const OpenRequest& request, HANDLE& result) {
    if (request.write || truncatesExisting(request.disposition)) {
        result = failed(ERROR_ACCESS_DENIED);
        return Step::Done;
    }
    char text[PATH_MAX];
    ssize_t length = readlinkat(request.at.folder, request.at.c_name(), text, sizeof text);
    if (length < 0) {
        if (errno == EINVAL || errno == ENOENT) return Step::Retry;
        result = failedErrno(errno, request);
        return Step::Done;
    }
    FileHandle* file = newHandle(request);
    if (file == nullptr) {
        result = failed(ERROR_NOT_ENOUGH_MEMORY);
        return Step::Done;
    }
    file->isLink = true;
    file->linkFolder = request.at.holder;
    file->linkName = request.at.name;
    file->linkText.assign(text, static_cast<size_t>(length));
    SetLastError(ERROR_SUCCESS);
    result = file;
    return Step::Done;
}

int accessFlags(const OpenRequest& request) {
    if (request.write) return request.read ? O_RDWR : O_WRONLY;
    return O_RDONLY;
}

// Never follows a final link, never waits on a FIFO, never adopts a
// terminal. Sources are read without updating their access time where the
// kernel lets this user do so. A file the open creates (O_EXCL: nothing stood
// at the name, not even a link) is a new regular file, on which O_NONBLOCK
// would guard against nothing.
int openDescriptor(const OpenRequest& request, bool existed) {
    int flags = accessFlags(request) | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
    flags |= existed ? O_NONBLOCK : O_CREAT | O_EXCL;
    mode_t mode = startsPrivate(request.flags) ? 0600 : 0666;
    if (!request.write) {
        int fd = openat(request.at.folder, request.at.c_name(), flags | O_NOATIME, mode);
        if (fd >= 0 || errno != EPERM) return fd;
    }
    return openat(request.at.folder, request.at.c_name(), flags, mode);
}

bool isRaceSign(int err, bool existed) {
    return err == ELOOP || (err == EEXIST && !existed) || (err == ENOENT && existed);
}

// F_SETFL replaces all the flags it can change, and the open set none of
// them but O_NONBLOCK and, for a read where the kernel allowed it,
// O_NOATIME; setting O_NOATIME again fails exactly where the open could not
// use it. True when it is kept: reads then leave the access time alone.
bool clearNonBlocking(int fd, const OpenRequest& request) {
    if (!request.write && fcntl(fd, F_SETFL, O_NOATIME) == 0) return true;
    fcntl(fd, F_SETFL, 0);
    return false;
}

DWORD lockCode(int fd, const OpenRequest& request) {
    int lockError = takeShareLock(fd, request.lock, request.read, request.write);
    if (lockError == 0) return ERROR_SUCCESS;
    return lockError == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : windowsError(lockError);
}

// A file with other hard links is not emptied: the other names, perhaps
// outside the tree being written (snapshots made of hard links), keep their
// content, and this name gets a file of its own.
DWORD replaceLinkedFile(int& fd, const OpenRequest& request) {
    if (unlinkat(request.at.folder, request.at.c_name(), 0) != 0) return windowsError(errno);
    int fresh = openDescriptor(request, false);
    if (fresh < 0) return windowsError(errno);
    close(fd);
    fd = fresh;
    return lockCode(fd, request);
}

DWORD emptyExisting(int& fd, const OpenRequest& request, const FileStatus& opened) {
    if (opened.links > 1) return replaceLinkedFile(fd, request);
    // A file replaced by a private one is private from here on as well.
    if (startsPrivate(request.flags) && (opened.mode & 077) != 0)
        fchmod(fd, opened.mode & 0700);
    return ftruncate(fd, 0) == 0 ? ERROR_SUCCESS : windowsError(errno);
}

// Prepares an open descriptor: type re-checked on what was actually opened,
// blocking restored where reads or writes will go through it, share lock
// taken, and only then anything emptied. A file the open created needs only
// its lock: it is the regular file O_EXCL made, and it was opened blocking.
DWORD prepareDescriptor(int& fd, const OpenRequest& request, bool existed, FileStatus& opened,
                        bool& keepsAccessTime) {
    if (!existed) return lockCode(fd, request);
    if (!statusOfDescriptor(fd, opened)) return windowsError(errno);
    DWORD refusal = refusalFor(opened.mode, request);
    if (refusal != ERROR_SUCCESS) return refusal;
    if (S_ISDIR(opened.mode)) return ERROR_SUCCESS;
    if (request.read || request.write) keepsAccessTime = clearNonBlocking(fd, request);
    DWORD code = lockCode(fd, request);
    if (code != ERROR_SUCCESS || !truncatesExisting(request.disposition)) return code;
    return emptyExisting(fd, request, opened);
}

// A file to be read through starts coming in at once, so that its first
// blocks load while the other file of a copy or comparison is opened; the
// start is bounded so that a huge file does not push the cache out. The
// sequential hint only matters beyond what that start covers, and an empty
// file needs neither.
constexpr off_t kReadAheadAtOpen = 8 << 20;

void adviseSequential(int fd, const OpenRequest& request, uint64_t size) {
    if (request.write || size > static_cast<uint64_t>(kReadAheadAtOpen))
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (!request.write && size > 0) posix_fadvise(fd, 0, kReadAheadAtOpen, POSIX_FADV_WILLNEED);
}

// Makes a handle of a descriptor just opened; INVALID_HANDLE_VALUE, with the
// error set, where what was opened is refused or cannot be prepared.
HANDLE adoptDescriptor(int fd, const OpenRequest& request, bool existed) {
    FileStatus opened;
    bool keepsAccessTime = false;
    DWORD code = prepareDescriptor(fd, request, existed, opened, keepsAccessTime);
    FileHandle* file = code == ERROR_SUCCESS ? newHandle(request) : nullptr;
    if (file == nullptr) {
        close(fd);
        return failed(code == ERROR_SUCCESS ? ERROR_NOT_ENOUGH_MEMORY : code);
    }
    file->fd = fd;
    file->created = !existed;
    file->keepsAccessTime = keepsAccessTime;
    // What the open saw answers the first questions about a file it left as
    // it found it.
    file->seen = opened;
    file->seenCurrent = existed && !truncatesExisting(request.disposition);
    if (request.flags & FILE_FLAG_SEQUENTIAL_SCAN) adviseSequential(fd, request, opened.size);
    bool replaced = existed && (request.disposition == CREATE_ALWAYS ||
                                request.disposition == OPEN_ALWAYS);
    SetLastError(replaced ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return file;
}

Step openFile(const OpenRequest& request, bool existed, HANDLE& result, int& raceError) {
    int fd = openDescriptor(request, existed);
    if (fd < 0) {
        raceError = errno;
        if (isRaceSign(errno, existed)) return Step::Retry;
        result = failedErrno(errno, request);
        return Step::Done;
    }
    result = adoptDescriptor(fd, request, existed);
    return Step::Done;
}

// A new file is created without looking first: O_EXCL refuses any entry at
// the name, a link or a special file included, without opening it.
Step createNewFile(const OpenRequest& request, HANDLE& result, int& raceError) {
    Step step = openFile(request, false, result, raceError);
    if (step == Step::Retry && raceError == EEXIST) {
        result = failed(ERROR_FILE_EXISTS);
        return Step::Done;
    }
    return step;
}

Step attemptOpen(const OpenRequest& request, HANDLE& result, int& raceError) {
    if (request.disposition == CREATE_NEW) return createNewFile(request, result, raceError);
    FileStatus status;
    bool exists = statusInFolder(request.at.folder, request.at.c_name(), status);
    if (!exists && (errno != ENOENT || !createsMissing(request.disposition))) {
        result = failedErrno(errno, request);
        return Step::Done;
    }
    if (exists && request.disposition == CREATE_NEW) {
        result = failed(ERROR_FILE_EXISTS);
        return Step::Done;
    }
    if (exists && S_ISLNK(status.mode)) return openLink(request, result);
    DWORD refusal = exists ? refusalFor(status.mode, request) : ERROR_SUCCESS;
    if (refusal != ERROR_SUCCESS) {
        result = failed(refusal);
        return Step::Done;
    }
    return openFile(request, exists, result, raceError);
}

bool isValidRequest(LPCSTR name, DWORD access, DWORD disposition) {
    if (name == nullptr || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return false;
    // Emptying a file needs the right to write it.
    return !truncatesExisting(disposition) || (access & GENERIC_WRITE) != 0;
}

// Both opens below: the injected fault, the checks, then the attempts, the
// first of which may trust an earlier look.
HANDLE openAsRequested(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flagsAndAttributes, bool listedRegular) {
    if (Injection fault = injectedFault(Call::CreateFile, name); fault.fails())
        return failed(fault.code);
    if (!isValidRequest(name, access, disposition)) return failed(ERROR_INVALID_PARAMETER);
    OpenRequest request{name,
                        NameAt{},
                        (access & GENERIC_READ) != 0,
                        (access & GENERIC_WRITE) != 0,
                        shareLockFor(shareMode),
                        disposition,
                        flagsAndAttributes};
    if (!locate(name, request.at)) return failedErrno(errno, request);
    if (listedRegular) {
        // Where the name no longer opens (gone, a link, a socket), the
        // attempts below look at it and tell why, as for any other open.
        int fd = openDescriptor(request, true);
        if (fd >= 0) return adoptDescriptor(fd, request, true);
    }
    int raceError = ELOOP;
    HANDLE result = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attemptOpen(request, result, raceError) == Step::Done) return result;
    }
    return failedErrno(raceError, request);
}

}  // namespace
}  // namespace posix

using namespace posix;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPVOID, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE) {
    return openAsRequested(name, access, shareMode, disposition, flagsAndAttributes, false);
}

namespace platform {

// The listing's look stands for the look before the open: a special file
// that took the name since is refused by the check of what was opened (which
// was opened without waiting and without adopting a terminal), a link by
// the open itself.
HANDLE openListedFile(LPCSTR path, DWORD listedAttributes, DWORD share, DWORD flags) {
    return openAsRequested(path, GENERIC_READ, share, OPEN_EXISTING, flags,
                           isRegularFileWord(listedAttributes));
}

}  // namespace platform
