// The three delay boxes of the progress dialog (UI thread only): their spin
// ranges and character filter, the hand-over of their values on Enter, and
// the values they show.
#pragma once

#include "platform/windows_api.h"
#include "shell/progress_dialog.h"

// Sets the spin ranges, fills the boxes with the dialog's values and puts
// the character filter on each box.
void attachDelayBoxes(HWND window, ProgressDialog& dialog);
// Enter in the dialog. With the focus in a delay box, checks the three boxes
// in order: the first bad one is complained about and keeps the focus;
// when all are good their values are handed over and the focus goes to
// Cancel. Elsewhere Enter does nothing.
void takeDelayBoxes(HWND window, ProgressDialog& dialog);
// A box shows a value the dialog was given from elsewhere (the command-line
// delays at the first refresh); what the user is typing is left alone
// otherwise.
void followDelayValues(HWND window, ProgressDialog& dialog);
