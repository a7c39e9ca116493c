#include "report/log_file.h"

#include <cstring>
#include <string>

#include "platform/conventions.h"
#include "platform/file_identity.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/fatal_message.h"
#include "report/run_state.h"
#include "support/text_buffer.h"

namespace {

bool logIsOpen() { return runState.logHandle != INVALID_HANDLE_VALUE; }


}  // namespace

void openLog() {
    if (runState.logFileName.data == nullptr) return;
    DeleteFileA(runState.logFileName.text());
    runState.temporaryLogName = TextBuffer(runState.logFileName.text(), 10);
    runState.temporaryLogName.append(".~~~");
    const char* temporary = runState.temporaryLogName.text();
    const char* separator = std::strrchr(temporary, platform::kPathSeparator);
    runState.temporaryLogEntryName = separator != nullptr ? separator + 1 : temporary;
    runState.logHandle = CreateFileA(runState.temporaryLogName.text(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!logIsOpen()) fatalMessage(1, "KAZ - Unable to create log file");
}

bool isRunLog(const char* folderPrefix, const char* name) {
    if (!logIsOpen() || !platform::sameName(name, runState.temporaryLogEntryName.c_str()))
        return false;
    std::string path = std::string(folderPrefix) + name;
    return platform::isSameFile(runState.logHandle, path.c_str());
}

void writeLog(const char* text) {
    if (!logIsOpen() || text == nullptr) return;
    auto n = static_cast<uint32_t>(std::strlen(text));
    if (runState.logBufferUsed + n >= RunState::kLogBufferSize) {
        flushLog();
        if (n >= RunState::kLogBufferSize) {
            writeLogDirect(text, n);
            return;
        }
    }
    std::memcpy(runState.logBuffer + runState.logBufferUsed, text, n);
    runState.logBufferUsed += n;
}

void writeLog2(const char* first, const char* second) {
    writeLog(first);
    writeLog(second);
}

void writeLog3(const char* first, const char* second, const char* third) {
    writeLog(first);
    writeLog(second);
    writeLog(third);
}

void writeLogNumber(int32_t value) {
    char digits[16];
    char* p = digits + sizeof digits;
    *--p = '\0';
    // Works on the magnitude as unsigned so that the smallest value prints too.
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    writeLog(p);
}

namespace {

// A tab separates names in a copy list as a blank does, so it is quoted too;
// a leading colon would make the line a comment.
bool needsQuotes(const char* name) {
    return std::strpbrk(name, " +,;=[]\t") != nullptr || name[0] == ':';
}

}  // namespace

void writeLogPath(const char* path) {
    if (path == nullptr) return;
    // A line break inside a name would end the line early and start one that
    // a replay reads as a pair of its own; each is written as '?' instead.
    const char* rest = path;
    while (const char* brk = std::strpbrk(rest, "\r\n")) {
        std::string piece(rest, brk);
        piece += '?';
        writeLog(piece.c_str());
        rest = brk + 1;
    }
    writeLog(rest);
}

void writeLogName(const char* name) {
    if (name != nullptr && needsQuotes(name)) {
        writeLog("\"");
        writeLogPath(name);
        writeLog("\"");
    } else {
        writeLogPath(name);
    }
}

void writeLogPair(const char* first, const char* second) {
    writeLogName(first);
    writeLog(" ");
    writeLogName(second);
}

bool nameFitsListLine(const char* name) {
    if (std::strpbrk(name, "\r\n") != nullptr) return false;
    // Inside quotes a quote ends the name; unquoted it only may not lead.
    if (std::strchr(name, '"') == nullptr) return true;
    return !needsQuotes(name) && name[0] != '"';
}

bool writeLogEntry(const char* prefix, const char* first, const char* second) {
    if (nameFitsListLine(first) && nameFitsListLine(second)) {
        writeLog(prefix);
        writeLogPair(first, second);
        writeLog("\r\n");
        return true;
    }
    writeLog2(": KAZ - Left out of the list, a name holds a quote or a line break: ", prefix);
    writeLogPair(first, second);
    writeLog("\r\n");
    return false;
}

void writeDebugTrace(int32_t point) {
    DWORD code = GetLastError();
    if (!runState.debug) return;
    writeLog(": debug - line = ");
    writeLogNumber(point);
    writeLog(", code = ");
    writeLogNumber(static_cast<int32_t>(code));
    writeLog3(", ", errorName(code), "\n");
    SetLastError(code);
}

void flushLog() {
    if (!logIsOpen() || runState.logBufferUsed == 0) return;
    uint32_t count = runState.logBufferUsed;
    // Cleared first, so that a failing write is not retried by the fatal
    // message's own flush.
    runState.logBufferUsed = 0;
    writeLogDirect(runState.logBuffer, count);
}

void writeLogDirect(const char* bytes, uint32_t count) {
    if (!logIsOpen() || count == 0) return;
    DWORD written = 0;
    if (!WriteFile(runState.logHandle, bytes, count, &written, nullptr) || written != count) {
        DWORD code = GetLastError();
        fatalMessage2(1, "Error writing to log file ", errorName(code));
    }
}

void closeLog() {
    if (!logIsOpen()) return;
    flushLog();
    CloseHandle(runState.logHandle);
    runState.logHandle = INVALID_HANDLE_VALUE;
    DeleteFileA(runState.logFileName.text());
    MoveFileA(runState.temporaryLogName.text(), runState.logFileName.text());
}
