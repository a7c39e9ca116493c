// The progress display: counters and run time computed at most once a
// second and handed to the progress dialog; the Cancel check.
#pragma once

// Checks Cancel (ending the run when it is confirmed), then updates the
// display if a second has passed or a refresh was forced.
void refreshProgress();
// The display part of refreshProgress alone, for callers that must tidy up
// before a Cancel ends the run: they check Cancel themselves.
void refreshProgressDisplay();
// Non-zero when the user confirmed a Cancel request.
int checkCancel();
void setShownSource(const char* text);
void setShownTarget(const char* text);
void setShownExcludes(const char* text);
