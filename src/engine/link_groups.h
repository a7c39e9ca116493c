// Source files with several names (hard links): the first name met is
// copied, the others become links to its copy, so that the target's names
// of one file are as the source's. A target whose names are linked
// otherwise is brought into line. Only files with more than one name, in
// the source or in the target, are remembered.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/windows_api.h"

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The files of one source folder that have other names, by the offset of
// their name in the walk's name store; kept while the walk is in the folder.
class FolderLinks {
public:
    // Keeps the entry when it is a plain file with more than one name.
    void note(uint32_t nameOffset, const WIN32_FIND_DATAA& entry);
    // The identity of the file whose name is stored at `nameOffset`; null
    // for a file with one name.
    const FileIdentity* find(uint32_t nameOffset) const;

private:
    std::vector<std::pair<uint32_t, FileIdentity>> files_;  // by ascending offset
};

// A tree's walk begins: the groups of an earlier tree are forgotten.
void forgetLinkGroups();

class SearchPattern;
// For a target file found up to date in the folder `targetFolder`: whether
// its names are linked as the source's (`source` the source file's
// identity, null when it has one name). When they are not, the walk copies
// or links it anew.
bool linkedAsSource(const FileIdentity* source, SearchPattern& targetFolder,
                    const WIN32_FIND_DATAA& target);

// Puts a source file with other names in place: a link to the copy of its
// group when there is a sound one, else a copy, which becomes the group's.
void copyLinkedFile(const FileIdentity& source, const char* sourcePath, const char* targetPath);
