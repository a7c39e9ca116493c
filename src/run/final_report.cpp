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

// A line for work left undone that is on neither list; false when there is
// none to show.
bool appendUndone(TextBuffer& text, const std::string& what) {
    if (what.empty()) return false;
    text.append("KAZ - ");
    text.append(what.c_str());
    text.append("\r\n");
    return true;
}

std::string countedText(const char* what, int32_t count) {
    return count > 0 ? what + std::to_string(count) : std::string();
}

}  // namespace

void buildClosingMessage(TextBuffer& text) {
    bool undone = appendUndone(text, deleteLimitReport());
    undone |= appendUndone(
        text, countedText("Extended attributes not carried: entries ", runState.attributesNotCarried));
    undone |= appendUndone(
        text, countedText("Copied, not verified: files ", runState.copiedNotVerified));
    if (runState.exceptionList.count == 0 && runState.busyList.count == 0) {
        if (!undone) text.append("KAZ completed without error");
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
