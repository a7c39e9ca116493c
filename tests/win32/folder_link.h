// A folder that leads to another folder, as Win32 sees one: an entry with
// FILE_ATTRIBUTE_DIRECTORY and FILE_ATTRIBUTE_REPARSE_POINT whose listing is
// the other folder's.
#pragma once

#include <string>

namespace wintest {

// Made as a junction where the file system has them (NTFS, no privilege
// needed), else as a symbolic link to a folder. Wine makes neither (its
// CreateSymbolicLinkA claims success and makes nothing, and it has no
// junctions), but it shows a Unix symbolic link to a folder to Windows
// programs as exactly such an entry; under Wine the link is made that way.
// The link is checked to lead where it should before made() says so. The
// destructor removes the link itself, never what it leads to.
class FolderLink {
public:
    FolderLink(const std::string& link, const std::string& folder);
    ~FolderLink();
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;

    bool made() const { return !kind_.empty(); }
    // "junction", "symbolic link" or "Unix symbolic link"; empty when none.
    const std::string& kind() const { return kind_; }
    // Why no link could be made, for a test that skips.
    const std::string& whyNot() const { return whyNot_; }

private:
    std::string link_;
    std::string kind_;
    std::string whyNot_;
};

// Whether `path` is a folder reparse point (a junction or a link to a folder).
bool isFolderLink(const std::string& path);

}  // namespace wintest
