// Reading windows: their text (the caption a window keeps, so also for a
// window of another process), and whether a window is a message box (the
// dialog class with the message in static 0xFFFF).
#pragma once

#include <string>

#include "platform/windows_api.h"

namespace platform {

// A message box writes its text into the static control with this id.
inline constexpr int kMessageTextId = 0xFFFF;

std::string windowText(HWND window);
bool isMessageBox(HWND window);

}  // namespace platform
