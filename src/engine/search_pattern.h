// A folder's search pattern ("folder/*.*") as the walks use it: the pattern
// itself, the folder prefix before "*.*", and paths of entries below it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows_api.h"
#include "support/text_buffer.h"

class SearchPattern {
public:
    // A pattern without "*.*" is a programming error elsewhere: the
    // assertion stop reports the given line.
    SearchPattern(const char* pattern, int checkLine);

    // Each result stays valid until the next call on the same object.
    const char* pattern();
    const char* prefix();  // ends in the separator
    const char* withName(const char* name);

    std::string childPattern(const char* name);
    // The folder itself, without its final separator ("" for a root).
    std::string folder();

private:
    const char* cutAndAppend(const char* tail);
    TextBuffer text_;
    uint32_t cut_ = 0;
};

inline bool isFolder(const WIN32_FIND_DATAA& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// One source entry as the walks keep it while they are below its folder:
// what they compare and act on, a seventh of a find record. Its name is in the
// table's name store (entryName).
struct SourceEntry {
    DWORD attributes = 0;
    DWORD marks = 0;  // the walk's own, below
    FILETIME lastWriteTime{};
    DWORD sizeHigh = 0, sizeLow = 0;
    uint32_t nameOffset = 0;
    // Permission bits, owner and group (platform::detailsOf) and when the
    // status last changed: what an up-to-date copy is checked against.
    uint32_t mode = 0, owner = 0, group = 0;
    uint32_t statusChangeLow = 0, statusChangeHigh = 0;
};

// The walk is done with the entry: a file found up to date.
constexpr DWORD kEntryDone = 0x80000000u;

inline bool isFolder(const SourceEntry& entry) {
    return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline uint64_t entrySize(const SourceEntry& entry) {
    return (uint64_t{entry.sizeHigh} << 32) | entry.sizeLow;
}

// False for "." and "..", and for volume labels: entries no walk acts on.
bool isListingEntry(const WIN32_FIND_DATAA& entry);

// An element of the entry table the walks share, and its name; the table and
// the names may move when entries are added, so callers hold a reference or
// a name only while nothing can add entries.
SourceEntry& entryAt(int32_t index);
char* entryName(int32_t index);
// Makes the table (a run's first call) or grows it.
void createEntryTable();
// Grows the table when index is just past its end; an index further out is
// the assertion stop.
void ensureEntry(int32_t index);

// Hands each file of the list from base to top (skipping emptied names) to
// `visit`, with its entry, and gathers the folders at the front of the list
// in listing order; returns the end of the folders.
template <typename Visit>
int32_t visitFilesGatherFolders(int32_t base, int32_t top, Visit visit) {
    int32_t folderEnd = base;
    for (int32_t i = base; i < top; ++i) {
        SourceEntry& entry = entryAt(i);
        if (entry.marks & kEntryDone) continue;
        if (isFolder(entry)) {
            if (i != folderEnd) entryAt(folderEnd) = entry;
            ++folderEnd;
            continue;
        }
        visit(entryName(i), entry);
    }
    return folderEnd;
}

// Starts the listing of the folder `folder` names, unless that folder has
// become a link or junction since its parent was listed (the last error then
// says ERROR_BAD_PATHNAME).
HANDLE listFolder(SearchPattern& folder, WIN32_FIND_DATAA& entry);

class FolderLinks;
// Stores the entries of an open source listing that the filters let
// through, from `top` upward, counting the files, and notes in `links` the
// files that have other names; closes the listing and returns the code it
// ended with (ERROR_NO_MORE_FILES when complete).
DWORD storeSourceListing(HANDLE find, WIN32_FIND_DATAA& entry, SearchPattern& source,
                         int32_t& top, FolderLinks* links = nullptr);

// Shows what the walk works on and refreshes the progress display.
void showPatterns(const char* sourcePattern, const char* targetPattern);
