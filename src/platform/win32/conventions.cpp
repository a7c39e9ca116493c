// Conventions and process-wide facts of the Windows build.
#include <cstring>

#include "platform/access_time.h"
#include "platform/arguments.h"
#include "platform/conventions.h"
#include "platform/copy_offload.h"
#include "platform/entry_details.h"
#include "platform/extended_attributes.h"
#include "platform/owner_copy.h"
#include "platform/panel_terminal.h"
#include "platform/real_path.h"
#include "platform/text_case.h"
#include "platform/windows_api.h"

namespace platform {

const char kPathSeparator = '\\';
const char kSwitchPrefix = '/';
const int kMaxPath = MAX_PATH;
const bool kDriveLetters = true;

namespace {

// Windows compares file names by their upper-case forms in the ANSI code
// page; the table holds that form of every byte.
struct CaseFold {
    unsigned char upper[256];
    CaseFold() {
        for (int i = 0; i < 256; ++i) upper[i] = static_cast<unsigned char>(i);
        CharUpperBuffA(reinterpret_cast<char*>(upper + 1), 255);
    }
};

const CaseFold& fold() {
    static const CaseFold table;
    return table;
}

unsigned char folded(char c) { return fold().upper[static_cast<unsigned char>(c)]; }

}  // namespace

bool sameName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (folded(*a) != folded(*b)) return false;
        if (*a == '\0') return true;
    }
}

bool sameNamePrefix(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (folded(a[i]) != folded(b[i])) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

// The C runtime's comparison, in the "C" locale: ASCII letters only, unlike
// the code-page folding of names above.
bool sameTextIgnoringCase(const char* a, const char* b, size_t n) {
    return _strnicmp(a, b, n) == 0;
}

// FNV-1a over the folded bytes, so that names equal but for case agree.
size_t nameHash(const char* name) {
    size_t hash = static_cast<size_t>(14695981039346656037ull);
    for (; *name != '\0'; ++name) {
        hash ^= folded(*name);
        hash *= static_cast<size_t>(1099511628211ull);
    }
    return hash;
}

// Windows hands over the command line as one text; the program splits it.
void setProcessArguments(int, char**) {}

char** processArgumentVector(int*, const char**) { return nullptr; }

// The Windows build shows the progress dialog, never a terminal panel.
bool standardErrorIsTerminal() { return false; }

// Reads on Windows may move the access time: it is always put back.
bool readsKeepAccessTime(HANDLE) { return false; }

// Files keep the owner Windows gives them.
BOOL copyOwner(const char*, const char*) { return TRUE; }
BOOL copyOwnerOfOpen(HANDLE, HANDLE) { return TRUE; }
bool carriesOwners() { return false; }
// Read-only is given by name after the close: a copy discarded before it
// takes its name could not be deleted once read-only.
bool givePermissionsOfOpen(HANDLE, DWORD) { return false; }

bool resolvePath(const char* path, std::string& resolved) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return false;
    resolved.assign(full, length);
    return true;
}

// No copy offload: the caller reads and writes.
BOOL copyFileRange(HANDLE, HANDLE, DWORD, DWORD* copied) {
    *copied = 0;
    return FALSE;
}

// Windows' find record holds no permission bits, owner or link count.
EntryDetails detailsOf(const WIN32_FIND_DATAA&) {
    return EntryDetails{};
}

// ACLs and alternate data streams are not carried on Windows.
AttributeOutcome copyExtendedAttributes(HANDLE, HANDLE) { return {}; }

uint64_t statusChangeTimeOf(const WIN32_FIND_DATAA&) { return 0; }

}  // namespace platform
