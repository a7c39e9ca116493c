#include "run/final_report.h"

#include <cstdio>
#include <string>

#include "engine/delete_tree.h"
#include "platform/closing_report.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/run_state.h"
#include "support/text_buffer.h"

namespace {

constexpr int kMostLines = 15;
const char* const kMore = "more... Suggest you use log file\r\n";

void appendNumber(TextBuffer& text, DWORD value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(value));
    text.append(digits);
}

void appendNames(TextBuffer& text, const ListEntry& entry) {
    text.append(entry.firstName);
    text.append(" ");
    text.append(entry.secondName);
    text.append("\r\n");
}

void appendExceptions(TextBuffer& text, int& lines) {
    const EntryList& list = runState.exceptionList;
    text.append("-------- Exception List --------\r\n");
    lines = 1;
    for (int32_t i = 0; i < list.count; ++i) {
        if (lines > kMostLines) {
            text.append(kMore);
            return;
        }
        const ListEntry& entry = list.entries[i];
        text.append("KAZ - ");
        if (entry.code != 0) {
            text.append(errorName(entry.code));
            text.append("(");
            appendNumber(text, entry.code);
            text.append(")\r\n");
        } else {
            text.append(resultMessages[entry.messageIndex]);
            text.append("\r\n");
        }
        appendNames(text, entry);
        lines += 2;
    }
}

void appendBusyFiles(TextBuffer& text, int& lines) {
    const EntryList& list = runState.busyList;
    text.append(":-------- File Busy List --------\r\n");
    lines += 1;
    for (int32_t i = 0; i < list.count; ++i) {
        if (i > 0 && lines > kMostLines) {
            text.append(kMore);
            return;
        }
        const ListEntry& entry = list.entries[i];
        if (entry.code != 0) {
            appendNumber(text, entry.code);
            text.append(" - ");
            text.append(errorName(entry.code));
        } else {
            text.append(resultMessages[entry.messageIndex]);
        }
        text.append("\r\n");
        appendNames(text, entry);
        lines += 2;
    }
}

}  // namespace

void buildClosingMessage(TextBuffer& text) {
    std::string limit = deleteLimitReport();
    if (!limit.empty()) {
        text.append("KAZ - ");
        text.append(limit.c_str());
        text.append("\r\n");
    }
    if (runState.exceptionList.count == 0 && runState.busyList.count == 0) {
        if (limit.empty()) text.append("KAZ completed without error");
        return;
    }
    int lines = 0;
    if (runState.exceptionList.count > 0) appendExceptions(text, lines);
    if (runState.busyList.count > 0) appendBusyFiles(text, lines);
}

void showClosingMessage() {
    TextBuffer text(1000u);
    buildClosingMessage(text);
    platform::showReport(text.text(), "KAZ - message");
}
