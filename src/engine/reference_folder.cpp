#include "engine/reference_folder.h"

#include <cstring>
#include <string>

#include "engine/path_checks.h"
#include "engine/run_driver.h"
#include "platform/anchors.h"
#include "platform/conventions.h"
#include "platform/shortcuts.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/run_state.h"
#include "support/text_buffer.h"

namespace {

constexpr size_t kWildCardLength = 3;  // "*.*"

const std::string kSeparator(1, platform::kPathSeparator);

// The other side's folder, without "*.*" and without a separator at its end,
// so that the relative part (which begins with one) can follow it.
std::string rootFolder(const char* argument) {
    TextBuffer pattern(argument, 10);
    makeSearchPattern(pattern);
    std::string root(pattern.text(), pattern.length() - kWildCardLength);
    if (!root.empty() && root.back() == platform::kPathSeparator) root.pop_back();
    return root;
}

std::string computerName() {
    char name[MAX_PATH + 1] = "";
    DWORD size = MAX_PATH;
    if (!GetComputerNameA(name, &size)) return "";
    return name;
}

// The folder a shortcut names (ending in the separator, in machine-name
// form unless -nounc asks for the local form) and its place below the root.
bool resolveShortcut(const char* shortcutPath, std::string& folder, std::string& relative) {
    if (!platform::readFolderShortcut(shortcutPath, folder) || folder.empty()) return false;
    if (folder.back() != platform::kPathSeparator) folder += platform::kPathSeparator;
    std::string machine = runState.noUnc ? "" : computerName();
    if (platform::kDriveLetters) {
        // A drive path becomes the network name of this machine, the drive
        // letter standing for the share.
        if (!machine.empty() && folder.size() >= 2 && folder[1] == ':') {
            std::string network = kSeparator + kSeparator + machine + kSeparator + folder[0] +
                                  folder.substr(2);
            if (network.size() < MAX_PATH) folder = network;
        }
        if (folder.size() >= 2 && folder[0] == platform::kPathSeparator &&
            folder[1] == platform::kPathSeparator) {
            relative = folder.substr(1);
        } else if (folder.size() >= 2 && folder[1] == ':') {
            relative = kSeparator + folder[0] + folder.substr(2);
        } else {
            return false;
        }
        return true;
    }
    // Without drives the folder stays a local path; the machine only names
    // its place below the root.
    relative = machine.empty() ? folder : kSeparator + machine + folder;
    return true;
}

void writeUnknownShortcut(const std::string& shortcutPath) {
    writeLog(": Unknown ShortCut in Reference folder\r\n");
    writeLog(":     ");
    writeLogPath(shortcutPath.c_str());
    writeLog("\r\n");
}

}  // namespace

std::string referenceFolderOf(const char* argument) {
    std::string reference = argument;
    if (!reference.empty()) reference.erase(0, 1);
    // A bare "@" names the root, which is also the folder that was listed.
    if (reference.empty() || reference.back() != platform::kPathSeparator) {
        reference += platform::kPathSeparator;
    }
    return reference;
}

int runReferenceFolder(int mode) {
    const bool toTree = mode == ReferenceToTree;
    const std::string reference =
        referenceFolderOf((toTree ? runState.sourceArg : runState.targetArg).text());
    const std::string root =
        rootFolder((toTree ? runState.targetArg : runState.sourceArg).text());
    if (runState.referenceFind == INVALID_HANDLE_VALUE) return 0;
    // The folders of every shortcut lie below this root: none of them is
    // reached through a link that appears in it, to the end of the run.
    platform::anchorFolder(root.empty() ? kSeparator.c_str() : root.c_str());
    WIN32_FIND_DATAA entry = runState.referenceFindData;
    do {
        const char* name = entry.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        std::string shortcutPath = reference + name;
        std::string folder, relative;
        if (!resolveShortcut(shortcutPath.c_str(), folder, relative)) {
            writeUnknownShortcut(shortcutPath);
            continue;
        }
        std::string shortcutSide = folder + "*.*";
        std::string rootSide = root + relative + "*.*";
        const std::string& source = toTree ? shortcutSide : rootSide;
        const std::string& target = toTree ? rootSide : shortcutSide;
        // The same checks as a folder pair: a backup root inside a linked
        // folder would copy into itself, and a restore from a folder the
        // backup lacks would empty the linked folder.
        checkPathRelation(source.c_str(), target.c_str());
        if (walkFolderPair(source.c_str(), target.c_str(), mode) != 0) return 1;
    } while (FindNextFileA(runState.referenceFind, &entry));
    return 0;
}
