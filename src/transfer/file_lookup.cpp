#include "transfer/file_lookup.h"

#include <string>

#include "platform/name_lookup.h"
#include "platform/windows_api.h"
#include "report/log_file.h"
#include "report/run_state.h"

namespace {

std::string binaryDigits(DWORD value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + (value & 1u)));
        value >>= 1;
    } while (value != 0);
    return digits;
}

}  // namespace

void lookupFileInfo(BY_HANDLE_FILE_INFORMATION& record, const char* name) {
    record = BY_HANDLE_FILE_INFORMATION{};
    WIN32_FIND_DATAA data;
    if (!platform::lookUpName(name, &data)) return;
    record.dwFileAttributes = data.dwFileAttributes;
    record.ftCreationTime = data.ftCreationTime;
    record.ftLastAccessTime = data.ftLastAccessTime;
    record.ftLastWriteTime = data.ftLastWriteTime;
    record.nFileSizeHigh = data.nFileSizeHigh;
    record.nFileSizeLow = data.nFileSizeLow;
    if (runState.test) {
        std::string line = ": /test FindFirstFile " + binaryDigits(record.dwFileAttributes) + "\r\n";
        writeLog(line.c_str());
    }
}
