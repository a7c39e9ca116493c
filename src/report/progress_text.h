// The figures that both the progress display and the end-of-run report
// show.
#pragma once

#include <cstdint>
#include <string>

// Seconds with milliseconds below a minute ("%14.3f"), then minutes and
// seconds ("%9d:%02d"), then hours, minutes and seconds ("%6d:%02d:%02d").
std::string runTimeText(uint32_t elapsedMilliseconds);
// Megabytes (10^6 bytes) per minute of run time, "%1.3f"; "0.000" when no
// millisecond has passed yet.
std::string megabytesPerMinuteText(double virtualBytes, uint32_t elapsedMilliseconds);

