// The plain files of a folder, as its entries tell their types.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/listed_open.h"
#include "platform/posix/anchor.h"

namespace platform {

// Read with getdents64 rather than through a DIR, whose opening looks at the
// folder once more.
std::vector<std::string> plainFilesIn(const char* folder) {
    std::vector<std::string> names;
    int fd = posix::openFolderToList(folder);
    if (fd < 0) return names;
    alignas(dirent64) char block[32768];
    for (ssize_t length; (length = getdents64(fd, block, sizeof block)) > 0;) {
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(block + at);
            if (entry->d_type == DT_REG) names.emplace_back(entry->d_name);
            at += entry->d_reclen;
        }
    }
    close(fd);
    std::sort(names.begin(), names.end());
    return names;
}

DWORD listedPlainFile() { return FILE_ATTRIBUTE_ARCHIVE; }

}  // namespace platform
