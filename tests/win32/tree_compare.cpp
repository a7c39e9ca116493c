#include "win32/tree_compare.h"

#include <windows.h>

#include <map>

#include "win32/win_support.h"

namespace wintest {

namespace {

// The entries of a folder by name, "." and ".." left out.
std::map<std::string, WIN32_FIND_DATAA> listFolder(const std::string& folder) {
    std::map<std::string, WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") entries[name] = entry;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return entries;
}

const DWORD kComparedAttributes =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

std::string compareEntries(const std::string& path, const WIN32_FIND_DATAA& a,
                           const WIN32_FIND_DATAA& b, const std::string& left,
                           const std::string& right) {
    std::string differences;
    if ((a.dwFileAttributes & kComparedAttributes) != (b.dwFileAttributes & kComparedAttributes)) {
        differences += path + ": attributes differ\n";
    }
    if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (b.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            differences += treeDifferences(left, right);
        }
        return differences;
    }
    if (a.nFileSizeLow != b.nFileSizeLow || a.nFileSizeHigh != b.nFileSizeHigh) {
        differences += path + ": sizes differ\n";
    } else if (readFile(left) != readFile(right)) {
        differences += path + ": contents differ\n";
    }
    if (CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) != 0) {
        differences += path + ": last-write times differ\n";
    }
    return differences;
}

}  // namespace

std::string treeDifferences(const std::string& left, const std::string& right) {
    std::map<std::string, WIN32_FIND_DATAA> a = listFolder(left);
    std::map<std::string, WIN32_FIND_DATAA> b = listFolder(right);
    std::string differences;
    for (const auto& [name, entry] : a) {
        auto other = b.find(name);
        if (other == b.end()) {
            differences += left + "\\" + name + ": missing on the right\n";
            continue;
        }
        differences += compareEntries(left + "\\" + name, entry, other->second,
                                      left + "\\" + name, right + "\\" + name);
    }
    for (const auto& [name, entry] : b) {
        if (a.find(name) == a.end()) differences += right + "\\" + name + ": only on the right\n";
    }
    return differences;
}

}  // namespace wintest
