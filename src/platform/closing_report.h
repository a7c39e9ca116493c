// Showing the closing report of a run that has no log.
#pragma once

namespace platform {

// The closing report of a run without a log: a message box on Windows, the
// caption and the text on standard output elsewhere.
void showReport(const char* text, const char* caption);

// Called before the closing report is written to standard output, so that a
// display on the same terminal can step aside first; null for none.
using ReportHook = void (*)();
void setReportHook(ReportHook hook);

}  // namespace platform
