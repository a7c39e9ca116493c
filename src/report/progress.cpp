#include "report/progress.h"

#include <cstdio>

#include "platform/cancel_signals.h"
#include "platform/windows_api.h"
#include "report/fatal_message.h"
#include "report/progress_dialog.h"
#include "report/progress_text.h"
#include "report/run_state.h"


namespace {

constexpr uint32_t kRefreshInterval = 1000;
constexpr uint32_t kStartPhase = 100;

void show(ProgressField field, const char* text) {
    setDialogField(runState.progressDialog, field, text);
}

void showCount(ProgressField field, uint32_t value, uint32_t& lastShown) {
    if (value == lastShown) return;
    lastShown = value;
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    show(field, text);
}

void showMegabytes(ProgressField field, double bytes, double& lastShown) {
    if (bytes == lastShown) return;
    lastShown = bytes;
    char text[64];
    std::snprintf(text, sizeof text, "%1.3f", bytes * 0.000001);
    show(field, text);
}

void showRunTime(uint32_t elapsed) {
    ProgressMemory& m = runState.progressMemory;
    uint32_t s = elapsed / 1000, mins = s / 60;
    auto seconds = static_cast<int32_t>(s % 60);
    auto minutes = static_cast<int32_t>(mins % 60);
    auto hours = static_cast<int32_t>(mins / 60);
    bool changed =
        seconds != m.lastShownSeconds || minutes != m.lastShownMinutes || hours != m.lastShownHours;
    if (!changed && elapsed >= 1000) return;
    m.lastShownSeconds = seconds;
    m.lastShownMinutes = minutes;
    m.lastShownHours = hours;
    show(kRunTimeField, runTimeText(elapsed).c_str());
}

void showFields(uint32_t elapsed) {
    RunState& s = runState;
    ProgressMemory& m = runState.progressMemory;
    showRunTime(elapsed);
    if (s.shownSourceChanged) {
        s.shownSourceChanged = 0;
        show(kTopLineField, s.shownSource.text());
    }
    showCount(kFilesProcessedField, s.filesProcessed, m.lastShownFilesProcessed);
    showCount(kVirtualFilesProcessedField, s.virtualFilesProcessed,
              m.lastShownVirtualFilesProcessed);
    showMegabytes(kMegabytesField, s.bytesCopied, m.lastShownBytes);
    showMegabytes(kVirtualMegabytesField, s.virtualBytesCopied, m.lastShownVirtualBytes);
    show(kMegabytesPerMinuteField, megabytesPerMinuteText(s.virtualBytesCopied, elapsed).c_str());
    if (s.bytesCopied == 0) {
        show(kCompressionRatioField, "*****:1");
    } else {
        char ratio[64];
        std::snprintf(ratio, sizeof ratio, "%1.2f:1", s.virtualBytesCopied / s.bytesCopied);
        show(kCompressionRatioField, ratio);
    }
    showCount(kBusyFilesField, static_cast<uint32_t>(s.busyList.count), m.lastShownBusyCount);
    showCount(kFilesCreatedField, s.filesCreated, m.lastShownFilesCreated);
    showCount(kFoldersCreatedField, s.foldersCreated, m.lastShownFoldersCreated);
    showCount(kFilesDeletedField, s.filesDeleted, m.lastShownFilesDeleted);
    showCount(kFoldersDeletedField, s.foldersDeleted, m.lastShownFoldersDeleted);
    auto exceptions = static_cast<uint32_t>(s.exceptionList.count);
    if (exceptions != m.lastShownExceptionCount) {
        m.lastShownExceptionCount = exceptions;
        char text[16];
        std::snprintf(text, sizeof text, "%d", s.exceptionList.count);
        show(kExceptionFilesField, text);
    }
}

// The delay boxes start from the command-line delays: the first hand-over
// for a dialog fills them from the run state (the command line has been
// read by then), so that it does not replace the switches with the boxes'
// start values.
void takeDelays() {
    RunState& s = runState;
    ProgressDialog* dialog = s.progressDialog;
    if (dialog == nullptr) return;
    if (runState.progressMemory.delaysStartedFor != dialog) {
        runState.progressMemory.delaysStartedFor = dialog;
        dialog->delayOpenValue = s.delayOpen;
        dialog->delaySourceValue = s.delaySource;
        dialog->delayTargetValue = s.delayTarget;
    }
    s.delayOpen = dialog->delayOpenValue.load();
    s.delaySource = dialog->delaySourceValue.load();
    s.delayTarget = dialog->delayTargetValue.load();
}

// A refresh during the first 100 ms of a run is never skipped; the drawing
// still keeps to once a second unless the refresh was forced.
void repaint(bool forced) {
    ProgressMemory& m = runState.progressMemory;
    uint32_t now = runState.lastTicks;
    if (!forced && m.repainted && now - m.lastRepaintTicks < kRefreshInterval) return;
    m.repainted = true;
    m.lastRepaintTicks = now;
    repaintDialog(runState.progressDialog);
}

}  // namespace

std::string runTimeText(uint32_t elapsed) {
    uint32_t s = elapsed / 1000, m = s / 60, h = m / 60;
    char text[64];
    if (h != 0) {
        std::snprintf(text, sizeof text, "%6d:%02d:%02d", static_cast<int>(h),
                      static_cast<int>(m % 60), static_cast<int>(s % 60));
    } else if (m != 0) {
        std::snprintf(text, sizeof text, "%9d:%02d", static_cast<int>(m),
                      static_cast<int>(s % 60));
    } else {
        std::snprintf(text, sizeof text, "%14.3f", elapsed * 0.001);
    }
    return text;
}

std::string megabytesPerMinuteText(double virtualBytes, uint32_t elapsed) {
    if (elapsed == 0) return "0.000";
    char text[64];
    std::snprintf(text, sizeof text, "%1.3f",
                  (virtualBytes * 0.000001) / (elapsed * 0.000016666666666666667));
    return text;
}

int checkCancel() {
    std::atomic<int32_t>& request = runState.cancelRequested;
    int32_t seen = request.load();
    if (seen == 0) return 0;
    if (seen == platform::kCancelConfirmed) return 1;
    // Kept as written, misspelling included: logs and messages are read by
    // people's scripts.
    if (MessageBoxA(dialogWindow(runState.progressDialog), "Rozidivid - Terminate program?",
                    "KAZ", MB_YESNO) == IDYES) {
        return 1;
    }
    // No forgets the question and any Cancel made while it was open, but not
    // a confirmed one (a SIGTERM) that came meanwhile.
    int32_t asked = seen;
    if (request.compare_exchange_strong(asked, 0)) return 0;
    if (asked == platform::kCancelConfirmed) return 1;
    request.store(0);
    return 0;
}

void refreshProgress() {
    if (checkCancel()) fatalMessage(1, "Program terminated due to Cancel");
    refreshProgressDisplay();
}

void refreshProgressDisplay() {
    RunState& s = runState;
    s.lastTicks = timeGetTime();
    uint32_t sinceRefresh = s.lastTicks - s.lastRefreshTicks;
    uint32_t elapsed = s.lastTicks - s.runStartTicks;
    bool forced = s.forceRefresh != 0;
    if (!forced && sinceRefresh < kRefreshInterval && elapsed >= kStartPhase) return;
    s.forceRefresh = 0;
    s.lastRefreshTicks = s.lastTicks;
    showFields(elapsed);
    takeDelays();
    repaint(forced);
}

void setShownSource(const char* text) {
    runState.shownSource.assign(text);
    runState.shownSourceChanged = 1;
}

void setShownTarget(const char* text) {
    runState.shownTarget.assign(text);
    runState.shownTargetChanged = 1;
}

void setShownExcludes(const char* text) {
    runState.shownExcludes.assign(text);
    runState.shownExcludesChanged = 1;
}
