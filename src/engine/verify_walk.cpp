#include "engine/verify_walk.h"

#include <string>
#include <vector>

#include "engine/paired_verify.h"
#include "engine/search_pattern.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/progress.h"
#include "report/run_state.h"
#include "support/wait.h"
#include "transfer/file_copy.h"
#include "transfer/file_verify.h"

namespace {

constexpr int kSourceCheckLine = 3179;
constexpr int kTargetCheckLine = 3191;

// Stores the source folder's entries above base; returns the new top.
int32_t listSource(SearchPattern& source, const char* targetPattern, int32_t base) {
    waitFor(runState.delayOpen);
    WIN32_FIND_DATAA entry;
    HANDLE find = listFolder(source, entry);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return base;
        if (code == ERROR_BAD_PATHNAME) {
            // A link took the folder's place: it is not read through.
            reportError("Error listing source folder", code, 0, source.pattern(), targetPattern);
            return base;
        }
        // Kept as written, misspelling included: logs and messages are read by
        // people's scripts.
        fatalWithCode("MOXEL - Error in source path (", source.pattern(), code);
    }
    int32_t top = base;
    DWORD code = storeSourceListing(find, entry, source, top);
    // Files a cut-short listing never showed were not verified: say so.
    if (code != ERROR_NO_MORE_FILES) {
        reportError("Error listing source folder", code, 0, source.pattern(), targetPattern);
    }
    return top;
}

// Compares this folder's files and gathers its folders at the front of the
// list; returns the end of the folders.
int32_t verifyFiles(SearchPattern& source, SearchPattern& target, int32_t base, int32_t top) {
    std::vector<FileToVerify> files;
    const int32_t folderEnd =
        visitFilesGatherFolders(base, top, [&](const char* name, const SourceEntry& entry) {
            files.push_back({name, entrySize(entry), entry.attributes});
        });
    verifyFolderFiles(source, target, files);
    return folderEnd;
}

// A target folder that a link has taken the place of is a difference: it is
// reported, and nothing is compared through it.
bool targetFolderIsLink(SearchPattern& source, SearchPattern& target, const char* name) {
    DWORD attributes = GetFileAttributesA(target.withName(name));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    std::string sourceFolder = source.withName(name);
    reportError("Error listing target folder", ERROR_BAD_PATHNAME, 0, sourceFolder.c_str(),
                target.withName(name));
    return true;
}

}  // namespace

int verifyFolder(const char* sourcePattern, const char* targetPattern, int32_t baseIndex) {
    showPatterns(sourcePattern, "");
    SearchPattern source(sourcePattern, kSourceCheckLine);
    SearchPattern target(targetPattern, kTargetCheckLine);
    int32_t top = listSource(source, targetPattern, baseIndex);
    showPatterns(sourcePattern, targetPattern);
    int32_t folderEnd = verifyFiles(source, target, baseIndex, top);
    showPatterns(sourcePattern, targetPattern);
    for (int32_t i = baseIndex; i < folderEnd; ++i) {
        if (targetFolderIsLink(source, target, entryName(i))) continue;
        std::string childSource = source.childPattern(entryName(i));
        std::string childTarget = target.childPattern(entryName(i));
        verifyFolder(childSource.c_str(), childTarget.c_str(), folderEnd);
    }
    showPatterns(sourcePattern, targetPattern);
    return 0;
}
