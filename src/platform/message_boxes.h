// Where message boxes appear: the plain box, or a presenter that a progress
// display installs to show them inside itself.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// Message boxes normally go to the terminal. A progress display that owns
// the terminal installs its own presenter so that boxes appear inside it;
// null restores the plain one.
using MessageBoxPresenter = int (*)(const char* text, const char* caption, UINT type);
void setMessageBoxPresenter(MessageBoxPresenter presenter);

// A plain message box on the terminal, whatever presenter is installed: the
// presenter falls back to it while it has nothing on the screen yet.
int plainMessageBox(const char* text, const char* caption, UINT type);

}  // namespace platform
