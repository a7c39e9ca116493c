#include "transfer/folder_maker.h"

#include <cstring>
#include <string>

#include "platform/anchors.h"
#include "platform/conventions.h"
#include "platform/owner_copy.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "support/text_buffer.h"
#include "transfer/attribute_copy.h"

namespace {

// Whether the text ends in a root: the separator, or a drive's colon.
bool endsInRoot(const char* text) {
    size_t length = std::strlen(text);
    if (length == 0) return false;
    char last = text[length - 1];
    return last == platform::kPathSeparator || (platform::kDriveLetters && last == ':');
}

bool isBareDrive(const char* text) {
    return platform::kDriveLetters && std::strlen(text) == 2 && text[1] == ':';
}

// The folder that holds `folder`, cut at its last separator; false when the
// folder has no separator or the only one begins it.
bool parentOf(const char* folder, TextBuffer& parent) {
    const char* last = std::strrchr(folder, platform::kPathSeparator);
    if (last == nullptr || last == folder) return false;
    parent = TextBuffer(folder, 10);
    parent.data[last - folder] = '\0';
    return true;
}

// The nearest folder above `folder` that is there (as a folder or as a link
// the user's path may go through); "" when there is none.
std::string existingAncestor(const char* folder) {
    TextBuffer current(folder, 10);
    TextBuffer parent;
    while (parentOf(current.text(), parent)) {
        if (GetFileAttributesA(parent.text()) != INVALID_FILE_ATTRIBUTES) return parent.text();
        current = std::move(parent);
    }
    return "";
}

}  // namespace

int makeTargetFolder(const char* sourcePath, const char* targetPath, const char*) {
    if (targetPath == nullptr) return 0;
    TextBuffer target(targetPath, 10);
    char* targetCut = std::strrchr(target.data, platform::kPathSeparator);
    if (targetCut == nullptr) return 0;
    *targetCut = '\0';
    if (sourcePath != nullptr) {
        TextBuffer source(sourcePath, 10);
        char* sourceCut = std::strrchr(source.data, platform::kPathSeparator);
        if (sourceCut != nullptr) {
            *sourceCut = '\0';
            return createFolder(source.text(), target.text());
        }
    }
    return createFolder(nullptr, target.text());
}

int createFolder(const char* sourceFolder, const char* folder) {
    ++runState.totalDirectoriesCreated;
    return createFolderPath(sourceFolder, folder);
}

int createFolderPath(const char* sourceFolder, const char* folder) {
    if (folder == nullptr) return 0;
    TextBuffer target(folder, 10);
    trimFolderName(target.data);
    TextBuffer source;
    if (sourceFolder != nullptr) {
        source = TextBuffer(sourceFolder, 10);
        trimFolderName(source.data);
    }
    bool hasSource = source.data != nullptr;
    if (target.empty() || isBareDrive(target.text())) return 0;

    int result = 1;
    if (!runState.trialRun) {
        result = CreateDirectoryA(target.text(), nullptr) ? 1 : 0;
        if (result == 0 && GetLastError() == ERROR_PATH_NOT_FOUND) {
            TextBuffer parent;
            if (parentOf(target.text(), parent) && !endsInRoot(parent.text())) {
                // The folders made on the way are made from the nearest one
                // that is there, never through a link that appears meanwhile.
                platform::FolderAnchor base(existingAncestor(target.text()).c_str());
                TextBuffer sourceParent;
                bool hasSourceParent = hasSource && parentOf(source.text(), sourceParent) &&
                                       !endsInRoot(sourceParent.text());
                result = createFolderPath(hasSourceParent ? sourceParent.text() : nullptr,
                                          parent.text());
                if (result == 1) result = CreateDirectoryA(target.text(), nullptr) ? 1 : 0;
            }
        }
    }
    if (result != 1) return result;

    ++runState.foldersCreated;
    if (!runState.quiet && (runState.verbose || runState.dos)) {
        writeLog("MKDIR ");
        writeLogPath(target.text());
        writeLog("\r\n");
    }
    if (!runState.trialRun && hasSource) {
        // Failing to carry the source's owner or attributes costs nothing
        // but the look of the copy; the folder itself is there.
        DWORD attributes = GetFileAttributesA(source.text());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            platform::copyOwner(source.text(), target.text());
            // Before the mode, which then keeps the owner's rights in the ACL too.
            carryExtendedAttributesByName(source.text(), target.text());
            SetFileAttributesA(target.text(), attributes);
        }
    }
    return result;
}

void trimFolderName(char* text) {
    if (text == nullptr) return;
    size_t length = std::strlen(text);
    if (length == 0) return;
    const char separator = platform::kPathSeparator;
    if (length == 1 && text[0] == separator) return;
    if (platform::kDriveLetters && length == 3 && text[0] >= 'A' && text[0] <= 'Z' &&
        text[1] == ':')
        return;
    if (text[length - 1] == separator) {
        text[length - 1] = '\0';
        return;
    }
    // Windows drops a name's final dot itself; elsewhere "data." is a name of
    // its own, and cutting the dot would make a different folder.
    if (!platform::kDriveLetters) return;
    if (text[length - 1] == '.' && length > 1 && text[length - 2] != '.' &&
        text[length - 2] != separator)
        text[length - 1] = '\0';
}
