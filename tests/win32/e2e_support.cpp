#include "win32/e2e_support.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace wintest {

void buildSourceTree(const std::string& root) {
    makeFolders(root + "\\docs\\deep\\deeper");
    makeFolders(root + "\\empty");
    writeFile(root + "\\zero", "");
    writeFile(root + "\\one", "1");
    writeFile(root + "\\docs\\block", std::string(131072, 'b'));
    std::string big(300 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
    writeFile(root + "\\docs\\deep\\big.bin", big);
    writeFile(root + "\\docs\\deep\\deeper\\leaf.txt", "leaf\r\n");
    writeFile(root + "\\name with blanks.txt", "blanks\r\n");
    writeFile(root + "\\a,b;c=[d]+e.txt", "punctuation\r\n");
    writeFile(root + "\\readonly.txt", "do not touch\r\n");
    writeFile(root + "\\hidden.txt", "hidden\r\n");
    long long second = 400000000;  // 2012
    for (const char* name : {"\\zero", "\\one", "\\docs\\block", "\\docs\\deep\\big.bin",
                             "\\docs\\deep\\deeper\\leaf.txt", "\\name with blanks.txt",
                             "\\a,b;c=[d]+e.txt", "\\readonly.txt", "\\hidden.txt"}) {
        setLastWriteTime(root + name, second += 3601);
    }
    setAttributes(root + "\\readonly.txt", FILE_ATTRIBUTE_READONLY);
    setAttributes(root + "\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
    size_t a = text.find(from);
    if (a == std::string::npos) return "";
    size_t b = text.find(to, a + from.size());
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

int countOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

std::string statLine(const std::string& log, const std::string& label) {
    size_t at = log.find(label);
    if (at == std::string::npos) return "";
    return log.substr(at, log.find("\r\n", at) + 2 - at);
}

int runWithoutBoxes(const std::vector<std::string>& arguments) {
    std::vector<MessageBoxSeen> boxes;
    int exitCode = runKazAnswering(arguments, IDOK, boxes);
    for (const MessageBoxSeen& box : boxes) {
        ADD_FAILURE() << "unexpected message box: " << box.caption << "\n" << box.text;
    }
    return exitCode;
}

std::string snapshot(const std::string& root) {
    std::string listing;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((root + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return listing;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        listing += root + "\\" + name + " " + std::to_string(entry.nFileSizeLow) + " " +
                   std::to_string(entry.ftLastWriteTime.dwLowDateTime) + " " +
                   std::to_string(entry.dwFileAttributes) + "\n";
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) listing += snapshot(root + "\\" + name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return listing;
}

KazRun::KazRun()
    : source(folder_ / "source"), target(folder_ / "target"), log(folder_ / "run.log") {}

int KazRun::mirror(const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {source, target, log, "/nowarn"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runWithoutBoxes(arguments);
}

}  // namespace wintest
