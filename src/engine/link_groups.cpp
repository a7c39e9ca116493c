#include "engine/link_groups.h"

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>

#include "engine/search_pattern.h"
#include "platform/entry_details.h"
#include "platform/name_lookup.h"
#include "platform/windows_api.h"
#include "report/run_state.h"
#include "transfer/file_copy.h"
#include "transfer/file_link.h"

namespace {

struct IdentityHash {
    size_t operator()(const FileIdentity& id) const {
        return std::hash<uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
    }
};

// The target file a group's other names are linked to.
struct Group {
    std::string targetPath;
    FileIdentity target;  // none in a trial run, which makes no copy
};

// Source groups by source identity; target files of several names by the
// source file that claimed them first. A source file with one name claims
// with an owner of its own, which no other file has.
std::unordered_map<FileIdentity, Group, IdentityHash> groups;
std::unordered_map<FileIdentity, FileIdentity, IdentityHash> targetOwners;
uint64_t singleOwners = 0;

constexpr DWORD kNotPlainFile =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SYSTEM;

FileIdentity identityOf(const platform::EntryDetails& details) {
    return FileIdentity{details.device, details.inode};
}

bool isPlainFile(const WIN32_FIND_DATAA& entry) {
    return (entry.dwFileAttributes & kNotPlainFile) == 0;
}

bool claimTarget(const FileIdentity& target, const FileIdentity& owner) {
    auto [claim, added] = targetOwners.try_emplace(target, owner);
    return added || claim->second == owner;
}

FileIdentity ownerOfOneName() {
    return FileIdentity{std::numeric_limits<uint64_t>::max(), ++singleOwners};
}

// The name still leads to that very file, and it is a plain one.
bool stillIs(const char* path, const FileIdentity& expected, WIN32_FIND_DATAA& found) {
    return platform::lookUpName(path, &found) && isPlainFile(found) &&
           identityOf(platform::detailsOf(found)) == expected;
}

// The group's copy is still in place, and the name being put in place
// still belongs to the group: a name that changed files since the listing,
// or a copy someone replaced, is copied instead.
bool mayLink(const Group& group, const FileIdentity& source, const char* sourcePath) {
    if (runState.trialRun) return true;
    WIN32_FIND_DATAA found;
    return stillIs(sourcePath, source, found) &&
           stillIs(group.targetPath.c_str(), group.target, found);
}

bool sameVersion(const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
           a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime;
}

// A group begins with a copy that is complete and in place, of the file
// the listing found: the copy of a busy, failed, meanwhile changed or
// replaced source is no file to link to, and the group's next name is
// copied in its turn.
void startGroupWithCopy(const FileIdentity& source, const char* sourcePath,
                        const char* targetPath) {
    if (runState.trialRun) {
        groups.try_emplace(source, Group{targetPath, FileIdentity{}});
        return;
    }
    WIN32_FIND_DATAA from, copy;
    if (!stillIs(sourcePath, source, from) || !platform::lookUpName(targetPath, &copy) ||
        !isPlainFile(copy) || !sameVersion(from, copy))
        return;
    groups.try_emplace(source, Group{targetPath, identityOf(platform::detailsOf(copy))});
}

}  // namespace

void FolderLinks::note(uint32_t nameOffset, const WIN32_FIND_DATAA& entry) {
    const platform::EntryDetails details = platform::detailsOf(entry);
    if (details.links > 1 && isPlainFile(entry))
        files_.emplace_back(nameOffset, identityOf(details));
}

const FileIdentity* FolderLinks::find(uint32_t nameOffset) const {
    auto found = std::lower_bound(
        files_.begin(), files_.end(), nameOffset,
        [](const std::pair<uint32_t, FileIdentity>& file, uint32_t offset) {
            return file.first < offset;
        });
    return found != files_.end() && found->first == nameOffset ? &found->second : nullptr;
}

void forgetLinkGroups() {
    groups = {};
    targetOwners = {};
    singleOwners = 0;
}

bool linkedAsSource(const FileIdentity* source, SearchPattern& targetFolder,
                    const WIN32_FIND_DATAA& target) {
    const platform::EntryDetails details = platform::detailsOf(target);
    const FileIdentity targetId = identityOf(details);
    if (source == nullptr) return details.links <= 1 || claimTarget(targetId, ownerOfOneName());
    if (auto group = groups.find(*source); group != groups.end())
        return group->second.target == targetId;
    if (details.links > 1 && !claimTarget(targetId, *source)) return false;
    groups.try_emplace(*source, Group{targetFolder.withName(target.cFileName), targetId});
    return true;
}

void copyLinkedFile(const FileIdentity& source, const char* sourcePath, const char* targetPath) {
    auto group = groups.find(source);
    if (group == groups.end()) {
        copyFile(sourcePath, targetPath);
        startGroupWithCopy(source, sourcePath, targetPath);
        return;
    }
    if (mayLink(group->second, source, sourcePath) &&
        linkFile(group->second.targetPath.c_str(), targetPath))
        return;
    copyFile(sourcePath, targetPath);
}
