// Extended attributes and POSIX ACLs, copied between open files as raw
// values: the kernel keeps an ACL as the attribute system.posix_acl_access
// (system.posix_acl_default on folders), so no ACL library is needed.
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/xattr.h>

#include "platform/extended_attributes.h"
#include "platform/posix/error_map.h"
#include "platform/posix/fault_injection.h"
#include "platform/posix/file_handle.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

// The names of fd's attributes, each ending in a zero byte; false with
// errno set when they cannot be read. A file system without attributes has
// none.
bool attributeNames(int fd, std::string& names) {
    for (;;) {
        ssize_t size = flistxattr(fd, nullptr, 0);
        if (size < 0) {
            if (errno != ENOTSUP && errno != EOPNOTSUPP) return false;
            size = 0;
        }
        names.resize(static_cast<size_t>(size));
        if (size == 0) return true;
        ssize_t got = flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;  // grew meanwhile: ask again
    }
}

// The value of one attribute; false with errno set (ENODATA: it is gone).
bool attributeValue(int fd, const char* name, std::string& value) {
    for (;;) {
        ssize_t size = fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value.resize(static_cast<size_t>(size));
        if (size == 0) return true;
        ssize_t got = fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;
    }
}

bool holdsName(const std::string& names, const char* name) {
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        if (std::strcmp(names.data() + at, name) == 0) return true;
    }
    return false;
}

// Security labels are the system's to give (a copy gets the label its
// place calls for); every other name the source lacks goes.
bool isSystemLabel(const char* name) { return std::strncmp(name, "security.", 9) == 0; }

class AttributeCopy {
public:
    AttributeCopy(FileHandle& from, FileHandle& to) : from_(from), to_(to) {}

    platform::AttributeOutcome run() {
        std::string sourceNames, targetNames;
        if (!attributeNames(from_.fd, sourceNames)) return refusal(errno, "");
        if (!attributeNames(to_.fd, targetNames)) return refusal(errno, "");
        for (size_t at = 0; at < sourceNames.size(); at += std::strlen(sourceNames.data() + at) + 1)
            carry(sourceNames.data() + at, holdsName(targetNames, sourceNames.data() + at));
        for (size_t at = 0; at < targetNames.size(); at += std::strlen(targetNames.data() + at) + 1)
            removeStale(targetNames.data() + at, sourceNames);
        return outcome_;
    }

private:
    platform::AttributeOutcome refusal(int err, const char* name) {
        return {false, windowsError(err), name};
    }

    void noteRefusal(int err, const char* name) { noteRefusalCode(windowsError(err), name); }
    void noteRefusalCode(DWORD code, const char* name) {
        if (!outcome_.refused()) {
            outcome_.code = code;
            outcome_.name = name;
        }
    }

    // The value is set only where it differs: a copy that already holds it
    // (a label its folder gave, an ACL it inherited) is left untouched.
    void carry(const char* name, bool targetHasIt) {
        std::string value, current;
        if (!attributeValue(from_.fd, name, value)) {
            if (errno != ENODATA) noteRefusal(errno, name);
            return;
        }
        if (targetHasIt && attributeValue(to_.fd, name, current) && current == value) return;
        to_.seenCurrent = false;  // an ACL changes the mode
        outcome_.changed = true;
        if (Injection fault = injectedFault(Call::SetExtendedAttribute, to_.path.c_str());
            fault.fails()) {
            noteRefusalCode(fault.code, name);
            return;
        }
        if (fsetxattr(to_.fd, name, value.data(), value.size(), 0) != 0) noteRefusal(errno, name);
    }

    void removeStale(const char* name, const std::string& sourceNames) {
        if (isSystemLabel(name) || holdsName(sourceNames, name)) return;
        to_.seenCurrent = false;
        outcome_.changed = true;
        if (fremovexattr(to_.fd, name) != 0 && errno != ENODATA) noteRefusal(errno, name);
    }

    FileHandle& from_;
    FileHandle& to_;
    platform::AttributeOutcome outcome_;
};

}  // namespace
}  // namespace posix

platform::AttributeOutcome platform::copyExtendedAttributes(HANDLE source, HANDLE target) {
    posix::FileHandle* from = posix::fileHandle(source);
    posix::FileHandle* to = posix::fileHandle(target);
    if (from == nullptr || to == nullptr) return {false, ERROR_INVALID_HANDLE, ""};
    // A link's attributes cannot be reached through an open handle; it keeps
    // what the system gives it.
    if (from->fd < 0 || to->fd < 0) return {};
    return posix::AttributeCopy(*from, *to).run();
}

uint64_t platform::statusChangeTimeOf(const WIN32_FIND_DATAA& entry) {
    return entry.posixStatusChange;
}
