#include "report/log_file.h"

#include <cstring>

#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/fatal_message.h"
#include "report/run_state.h"
#include "support/text_buffer.h"

namespace {

bool logIsOpen() { return runState.logHandle != INVALID_HANDLE_VALUE; }

TextBuffer temporaryLogName() {
    TextBuffer name(runState.logFileName.text(), 10);
    name.append(".~~~");
    return name;
}

}  // namespace

void openLog() {
    if (runState.logFileName.data == nullptr) return;
    DeleteFileA(runState.logFileName.text());
    TextBuffer temporary = temporaryLogName();
    runState.logHandle = CreateFileA(temporary.text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!logIsOpen()) fatalMessage(1, "KAZ - Unable to create log file");
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

void writeLogName(const char* name) {
    // A tab separates names in a copy list as a blank does, so it is quoted too.
    if (name != nullptr && std::strpbrk(name, " +,;=[]\t") != nullptr) {
        writeLog3("\"", name, "\"");
    } else {
        writeLog(name);
    }
}

void writeLogPair(const char* first, const char* second) {
    writeLogName(first);
    writeLog(" ");
    writeLogName(second);
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
    TextBuffer temporary = temporaryLogName();
    DeleteFileA(runState.logFileName.text());
    MoveFileA(temporary.text(), runState.logFileName.text());
}
