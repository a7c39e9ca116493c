#include "engine/run_summary.h"

#include <cstdio>
#include <string>

#include "engine/delete_tree.h"
#include "platform/windows_api.h"
#include "report/error_name.h"
#include "report/log_file.h"
#include "report/progress.h"
#include "report/progress_dialog.h"
#include "report/progress_text.h"
#include "report/run_state.h"
#include "support/heap.h"
#include "transfer/busy_retry.h"

namespace {

void writeLine(const char* label, const char* insert, const char* suffix, int32_t value) {
    writeLog3(label, insert, suffix);
    writeLogNumber(value);
    writeLog("\r\n");
}

void writeBytesLine(const char* label, const char* insert, const char* suffix, double bytes) {
    char text[400];
    std::snprintf(text, sizeof text, "%1.0f", bytes);
    writeLog3(label, insert, suffix);
    writeLog2(text, "\r\n");
}

// Each megabyte of tape holds 1024 blocks of 1024 bytes; a part block
// needs a whole megabyte.
int32_t tapeMegabytes() {
    auto blocks = static_cast<uint32_t>(runState.blocks1024);
    return static_cast<int32_t>((blocks + 1023u) / 1024u);
}

void writeExceptionList() {
    const EntryList& list = runState.exceptionList;
    if (list.count == 0) return;
    writeLog(":-------- Exception List --------\r\n");
    for (int32_t i = 0; i < list.count; ++i) {
        const ListEntry& entry = list.entries[i];
        writeLog(": KAZ - ");
        if (entry.code != 0) {
            writeLog2(errorName(entry.code), "(");
            writeLogNumber(static_cast<int32_t>(entry.code));
            writeLog(")\r\n");
        } else {
            writeLog2(resultMessages[entry.messageIndex], "\r\n");
        }
        writeLog(": ");
        writeLogPair(entry.firstName, entry.secondName);
        writeLog("\r\n");
    }
    writeLog(":-------- End of Exception List --------\r\n");
}

void writeDeleteLimit() {
    std::string limit = deleteLimitReport();
    if (!limit.empty()) writeLog3(": KAZ - ", limit.c_str(), "\r\n");
}

void writeRunTime() {
    runState.lastTicks = timeGetTime();
    uint32_t elapsed = runState.lastTicks - runState.runStartTicks;
    writeLog3(": KAZ run time:          ", runTimeText(elapsed).c_str(), "\r\n");
}

void writeStorageEstimates(const char* x) {
    writeLine(": Estimated Clusters", x, " used       ", runState.estimatedClusters);
    writeLine(": 1024 byte blocks", x, " used         ", runState.blocks1024);
    writeLine(": 512 byte blocks", x, " used          ", runState.blocks512);
    writeLine(": Estimated MB of tape", x, " used     ", tapeMegabytes());
}

void writeBusyLines(const char* y) {
    writeLine(": Total busy source opens:", y, "      ", runState.busySourceOpens);
    writeLine(": Total busy target opens:", y, "      ", runState.busyTargetOpens);
    // A verify run copies what it found busy: those files were not verified.
    if (runState.copiedNotVerified > 0)
        writeLine(": Total files copied, not verified:", "", "", runState.copiedNotVerified);
    if (runState.attributesNotCarried > 0)
        writeLine(": Total entries, attributes not carried:", "", "", runState.attributesNotCarried);
}

void writeTreeStatistics(const char* x, const char* y, const std::string& perMinute) {
    const RunState& s = runState;
    writeLine(": Total directories", x, " considered: ", s.totalDirectoriesConsidered);
    writeLine(": Total directories", x, " created:    ", s.totalDirectoriesCreated);
    writeLine(": Total directories", x, " deleted:    ", s.totalDirectoriesDeleted);
    writeLine(": Total files", x, " considered:       ", s.totalFilesConsidered);
    writeLine(": Total files", x, " copied:           ", s.totalFilesCopied);
    writeLine(": Total files", x, " copied in error:  ", s.exceptionCount);
    writeLine(": Total files", x, " deleted:          ", s.totalFilesDeleted);
    writeLine(": Total files", x, " excluded:         ", s.totalFilesExcluded);
    writeBusyLines(y);
    writeBytesLine(": Total bytes", x, " copied:           ", s.bytesCopied);
    writeBytesLine(": Total virtual bytes", x, " copied:   ", s.virtualBytesCopied);
    writeStorageEstimates(x);
    if (s.bytesCopied == 0) {
        writeLog(": Virtual Compression ratio:    ****:1\r\n");
    } else {
        char ratio[400];
        std::snprintf(ratio, sizeof ratio, "%1.3f:1", s.virtualBytesCopied / s.bytesCopied);
        writeLog3(": Virtual Compression ratio:    ", ratio, "\r\n");
    }
    writeLog3(": Virtual MB/minute:            ", perMinute.c_str(), "\r\n");
}

void writeReplayStatistics(const char* x, const char* y, const std::string& perMinute) {
    const RunState& s = runState;
    writeLine(": Total files", x, " considered:       ", s.totalFilesConsidered);
    if (s.verify) {
        writeLine(": Total files", x, " verified:         ", s.totalFilesCopied);
        writeLine(": Total files", x, " verified in error:", s.exceptionCount);
        writeBytesLine(": Total bytes", x, " verified:         ", s.bytesCopied);
    } else {
        writeLine(": Total files", x, " copied:           ", s.totalFilesCopied);
        writeLine(": Total files", x, " copied in error:  ", s.exceptionCount);
        writeStorageEstimates(x);
    }
    writeBusyLines(y);
    writeLog3(": MB/minute:                    ", perMinute.c_str(), "\r\n");
}

void writeRecopyEntries(const EntryList& list) {
    for (int32_t i = 0; i < list.count; ++i) {
        const ListEntry& entry = list.entries[i];
        writeLog(": Due to error ");
        if (entry.code != 0) {
            writeLogNumber(static_cast<int32_t>(entry.code));
            writeLog3(" - ", errorName(entry.code), "\r\n");
        } else {
            writeLog2(resultMessages[entry.messageIndex], "\r\n");
        }
        writeLogEntry("COPY ", entry.firstName, entry.secondName);
    }
}

// The files still to copy: those left busy, then those whose copy failed
// otherwise, so that a replay of the log finishes the job. Synchronized is
// said only of a run in which nothing failed.
void writeRecopyList() {
    const EntryList& busy = runState.busyList;
    const EntryList& failed = runState.recopyList;
    if (busy.count == 0 && failed.count == 0) {
        if (runState.exceptionList.count == 0 && runState.copiedNotVerified == 0) {
            writeLog(":None - Source and Target synchronized.\r\n");
        } else {
            writeLog(":None to copy again - Source and Target not synchronized, see the "
                     "exceptions.\r\n");
        }
        return;
    }
    writeLog(":-------- File Recopy List --------\r\n");
    writeRecopyEntries(busy);
    writeRecopyEntries(failed);
    writeLog(":-------- End of File Recopy List --------\r\n");
}

void freeTransferBuffers() {
    heapFree(runState.transferBuffer1);
    runState.transferBuffer1 = nullptr;
    heapFree(runState.transferBuffer2);
    runState.transferBuffer2 = nullptr;
}

}  // namespace

void writeEndReport() {
    retryBusyFiles();
    writeLog(runState.verify ? ":-------- End of File Verify List --------\r\n"
                             : ":-------- End of File Copy List --------\r\n");
    writeExceptionList();
    writeDeleteLimit();
    runState.forceRefresh = 1;
    refreshProgress();
    const char* x = runState.trialRun ? " to be" : "";
    const char* y = runState.trialRun ? "      " : "";
    writeRunTime();
    std::string perMinute = dialogField(runState.progressDialog, kMegabytesPerMinuteField);
    if (runState.scriptHandle == INVALID_HANDLE_VALUE) {
        writeTreeStatistics(x, y, perMinute);
    } else {
        writeReplayStatistics(x, y, perMinute);
    }
    writeLog(": \r\n:COPY\r\n");
    writeRecopyList();
    freeTransferBuffers();
}
