// Folder listings and single-name look-ups.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <new>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/entry_details.h"
#include "platform/name_lookup.h"
#include "platform/posix/anchor.h"
#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_status.h"
#include "platform/posix/file_time.h"
#include "platform/posix/handle.h"
#include "platform/posix/listing_store.h"
#include "platform/posix/prefetch.h"
#include "platform/side_thread.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

// Names read from a folder and looked up, not yet handed out: the look-ups
// of a long batch are shared with the side thread.
struct LookedUpBatch {
    std::vector<char> names;  // each ends in a NUL
    std::vector<uint32_t> nameAt;
    std::vector<FileStatus> status;
    std::vector<int> error;  // the look-up's errno, 0 when it found the entry
    std::atomic<size_t> claimed{0};
    size_t next = 0;
    int endError = -1;  // once the folder is read to its end: readdir's errno

    size_t size() const { return nameAt.size(); }
    const char* name(size_t i) const { return names.data() + nameAt[i]; }
};

struct FindHandle : Handle {
    // The pattern is kept only for test faults that name it.
    FindHandle(DIR* opened, const char* asked) : Handle(Kind::Find), folder(opened) {
        if (faultsArmed.load(std::memory_order_relaxed)) pattern = asked;
    }
    ~FindHandle() override {
        if (folder != nullptr) closedir(folder);
    }
    DIR* folder;  // null for a single-name look-up, and for a listing read ahead
    LookedUpBatch batch;
    FolderListing readAhead;
    size_t nextReadAhead = 0;
    std::shared_ptr<ReadAheadShare> share;  // where the walk's progress is counted
    std::string pattern;
};

constexpr size_t kBatchEntries = 512;
// Shorter batches are looked up by the walk's thread alone: handing over
// would cost more than it saves.
constexpr size_t kSharedBatch = 128;
constexpr size_t kClaimedAtOnce = 16;

constexpr char kListingSuffix[] = "*.*";
constexpr size_t kSuffixLength = sizeof kListingSuffix - 1;

// Whether `pattern` asks for a whole folder ("dir/*.*"); if so, `folder` is
// the folder to list.
bool isListing(const char* pattern, std::string& folder) {
    size_t length = std::strlen(pattern);
    if (length < kSuffixLength ||
        std::strcmp(pattern + length - kSuffixLength, kListingSuffix) != 0)
        return false;
    size_t folderLength = length - kSuffixLength;
    if (folderLength == 0) {
        folder = ".";
        return true;
    }
    if (pattern[folderLength - 1] != '/') return false;
    // The root keeps its separator; any other folder loses it.
    folder = std::string(pattern, folderLength > 1 ? folderLength - 1 : folderLength);
    return true;
}

void copyName(const std::string& name, char (&field)[MAX_PATH]) {
    size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
    std::memcpy(field, name.data(), length);
    field[length] = '\0';
}

void fillFindData(const FileStatus& status, const std::string& name, WIN32_FIND_DATAA* data) {
    *data = WIN32_FIND_DATAA{};
    data->dwFileAttributes = attributeWord(status, name.c_str());
    data->ftCreationTime = toFileTime(status.creation);
    data->ftLastAccessTime = toFileTime(status.access);
    data->ftLastWriteTime = toFileTime(status.modification);
    uint64_t size = S_ISDIR(status.mode) ? 0 : status.size;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    copyName(name, data->cFileName);
    data->posixMode = status.mode & 07777;
    data->posixOwner = status.owner;
    data->posixGroup = status.group;
    data->posixLinks = static_cast<uint32_t>(status.links);
    data->posixDevice = status.device;
    data->posixInode = status.inode;
    data->posixStatusChange = static_cast<uint64_t>(status.statusChange.tv_sec) * 1000000000u +
                              static_cast<uint64_t>(status.statusChange.tv_nsec);
}

void countEntry(const FindHandle& find) {
    if (!find.share) return;
    const uint64_t walked = find.share->entriesWalked.fetch_add(1, std::memory_order_relaxed);
    if ((walked + 1) % ReadAheadShare::kWakeReadersEvery == 0) find.share->listings.wakeReaders();
}

void lookUpClaimed(LookedUpBatch& batch, int folderFd) {
    for (size_t from; (from = batch.claimed.fetch_add(kClaimedAtOnce)) < batch.size();) {
        const size_t to = std::min(from + kClaimedAtOnce, batch.size());
        for (size_t i = from; i < to; ++i)
            batch.error[i] = statusInFolder(folderFd, batch.name(i), batch.status[i]) ? 0 : errno;
    }
}

// Reads the next names of the folder and looks them up, the side thread
// taking part in a long batch; an error of the reading ends the batch.
void readBatch(FindHandle& find) {
    LookedUpBatch& batch = find.batch;
    batch.names.clear();
    batch.nameAt.clear();
    batch.next = 0;
    while (batch.size() < kBatchEntries) {
        errno = 0;
        const dirent* entry = readdir(find.folder);
        if (entry == nullptr) {
            batch.endError = errno;
            break;
        }
        batch.nameAt.push_back(static_cast<uint32_t>(batch.names.size()));
        batch.names.insert(batch.names.end(), entry->d_name,
                           entry->d_name + std::strlen(entry->d_name) + 1);
    }
    batch.status.resize(batch.size());
    batch.error.resize(batch.size());
    batch.claimed.store(0, std::memory_order_relaxed);
    const int folderFd = dirfd(find.folder);
    platform::SideThread* side =
        batch.size() >= kSharedBatch ? platform::SideThread::get() : nullptr;
    if (side == nullptr) return lookUpClaimed(batch, folderFd);
    platform::SideThread::Job beside([&batch, folderFd] { lookUpClaimed(batch, folderFd); });
    side->offer(beside);
    lookUpClaimed(batch, folderFd);
    side->finish(beside);
}

// The next entry of the listing into `data`; entries that vanish between
// reading the folder and looking at them are passed over.
BOOL nextEntry(FindHandle& find, WIN32_FIND_DATAA* data) {
    if (find.folder == nullptr) {
        if (find.nextReadAhead == find.readAhead.entries.size())
            return failWithCode(ERROR_NO_MORE_FILES);
        const ListedEntry& entry = find.readAhead.entries[find.nextReadAhead++];
        countEntry(find);
        fillFindData(entry.unpacked(), find.readAhead.nameOf(entry), data);
        return TRUE;
    }
    LookedUpBatch& batch = find.batch;
    for (;;) {
        if (batch.next == batch.size()) {
            if (batch.endError >= 0)
                return batch.endError == 0 ? failWithCode(ERROR_NO_MORE_FILES)
                                           : failWithErrno(batch.endError);
            readBatch(find);
            continue;
        }
        const size_t i = batch.next++;
        countEntry(find);
        if (batch.error[i] == 0) {
            fillFindData(batch.status[i], batch.name(i), data);
            return TRUE;
        }
        if (batch.error[i] != ENOENT) return failWithErrno(batch.error[i]);
    }
}

// The listing the read-ahead kept of the folder open as `fd`, if it is still
// that folder's; false leaves the folder to be read.
bool takeReadAhead(FindHandle& find, const std::string& folderPath, int fd) {
    if (!find.share) return false;
    FolderStamp stamp;
    FolderListing listing;
    if (!stampOfFolder(fd, stamp) || !find.share->listings.take(folderPath, stamp, listing))
        return false;
    find.readAhead = std::move(listing);
    return true;
}

// Opens the folder and reads it, unless the read-ahead did already.
bool openListing(FindHandle& find, const std::string& folderPath) {
    int fd = openFolderToList(folderPath.c_str());
    if (fd >= 0 && takeReadAhead(find, folderPath, fd)) {
        close(fd);
        return true;
    }
    find.folder = fd >= 0 ? fdopendir(fd) : nullptr;
    if (find.folder != nullptr) return true;
    int err = errno;
    if (fd >= 0) close(fd);
    failWithCode(err == ENOENT ? ERROR_PATH_NOT_FOUND : windowsError(err));
    return false;
}

HANDLE startListing(const std::string& folderPath, const char* pattern, WIN32_FIND_DATAA* data) {
    auto* find = new (std::nothrow) FindHandle(nullptr, pattern);
    if (find == nullptr) {
        failWithCode(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    find->share = readAheadCovering(listingKey(folderPath));
    if (!openListing(*find, folderPath)) {
        delete find;
        return INVALID_HANDLE_VALUE;
    }
    if (!nextEntry(*find, data)) {
        DWORD code = GetLastError();
        delete find;
        failWithCode(code == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : code);
        return INVALID_HANDLE_VALUE;
    }
    return find;
}

// A look-up of one name never follows a final link.
BOOL fillFromName(const char* name, WIN32_FIND_DATAA* data) {
    FileStatus status;
    NameAt at;
    if (!locateStatus(name, at, status))
        return failAt(at, errno, name);
    fillFindData(status, lastComponent(name), data);
    return TRUE;
}

// It needs no handle of its own beyond the record; FindNextFileA on it ends
// at once.
HANDLE lookUpName(const char* name, WIN32_FIND_DATAA* data) {
    if (!fillFromName(name, data)) return INVALID_HANDLE_VALUE;
    auto* find = new (std::nothrow) FindHandle(nullptr, name);
    if (find == nullptr) failWithCode(ERROR_NOT_ENOUGH_MEMORY);
    return find != nullptr ? find : INVALID_HANDLE_VALUE;
}

FindHandle* findHandle(HANDLE handle) {
    Handle* base = fromHandle(handle);
    if (base == nullptr || base->kind != Handle::Kind::Find) return nullptr;
    return static_cast<FindHandle*>(base);
}

}  // namespace
}  // namespace posix

using namespace posix;

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
    if (pattern == nullptr || data == nullptr) {
        failWithCode(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (Injection fault = injectedFault(Call::FindFirstFile, pattern); fault.fails()) {
        failWithCode(fault.code);
        return INVALID_HANDLE_VALUE;
    }
    std::string folder;
    if (isListing(pattern, folder)) return startListing(folder, pattern, data);
    return lookUpName(pattern, data);
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
    FindHandle* listing = findHandle(find);
    if (listing == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    if (data == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    if (Injection fault = injectedFault(Call::FindNextFile, listing->pattern.c_str());
        fault.fails())
        return failWithCode(fault.code);
    return nextEntry(*listing, data);
}

BOOL FindClose(HANDLE find) {
    FindHandle* listing = findHandle(find);
    if (listing == nullptr) return failWithCode(ERROR_INVALID_HANDLE);
    delete listing;
    return TRUE;
}

BOOL platform::lookUpName(const char* path, WIN32_FIND_DATAA* data) {
    if (path == nullptr || data == nullptr) return failWithCode(ERROR_INVALID_PARAMETER);
    if (Injection fault = injectedFault(Call::FindFirstFile, path); fault.fails())
        return failWithCode(fault.code);
    return fillFromName(path, data);
}

platform::EntryDetails platform::detailsOf(const WIN32_FIND_DATAA& entry) {
    return EntryDetails{entry.posixMode, entry.posixOwner, entry.posixGroup,
                        entry.posixLinks, entry.posixDevice, entry.posixInode};
}
