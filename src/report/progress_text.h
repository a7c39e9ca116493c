// The figures that both the progress display and the end-of-run report
// show, and the display's memory of what it showed last.
#pragma once

#include <cstdint>
#include <string>

struct ProgressDialog;

// Seconds with milliseconds below a minute ("%14.3f"), then minutes and
// seconds ("%9d:%02d"), then hours, minutes and seconds ("%6d:%02d:%02d").
std::string runTimeText(uint32_t elapsedMilliseconds);
// Megabytes (10^6 bytes) per minute of run time, "%1.3f"; "0.000" when no
// millisecond has passed yet.
std::string megabytesPerMinuteText(double virtualBytes, uint32_t elapsedMilliseconds);

// What the display showed last; -1 (all bits set) is never a real value, so
// the first refresh shows every field.
struct ProgressMemory {
    int32_t lastShownSeconds = -1, lastShownMinutes = -1, lastShownHours = -1;
    uint32_t lastShownFilesProcessed = UINT32_MAX, lastShownVirtualFilesProcessed = UINT32_MAX;
    uint32_t lastShownBusyCount = UINT32_MAX, lastShownFilesCreated = UINT32_MAX;
    uint32_t lastShownFoldersCreated = UINT32_MAX, lastShownFilesDeleted = UINT32_MAX;
    uint32_t lastShownFoldersDeleted = UINT32_MAX, lastShownExceptionCount = UINT32_MAX;
    double lastShownBytes = -1.0, lastShownVirtualBytes = -1.0;
    // The dialog whose delay boxes were given the command-line delays.
    ProgressDialog* delaysStartedFor = nullptr;
    bool repainted = false;
    uint32_t lastRepaintTicks = 0;
};
extern ProgressMemory progressMemory;
