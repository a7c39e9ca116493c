// The progress dialog as a plain panel on a terminal: the dialog's fields
// under their labels, rewritten in place, with message boxes below it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/progress_dialog.h"

struct PanelFigures {
    std::string fields[kProgressFieldCount];
    int32_t delayOpen = -1, delaySource = -1, delayTarget = -1;
    bool operator==(const PanelFigures&) const = default;
};

// The panel's lines, without line ends.
std::vector<std::string> panelLines(const PanelFigures& figures);

// Draws the figures over the panel drawn before, or below whatever a message
// box wrote since then. Nothing is drawn before the first refresh has filled
// a field, nor when the figures on screen are the same.
void drawProgressPanel(const PanelFigures& figures);
// Leaves the cursor below the panel and gives message boxes back their
// plain form; a later draw starts a new panel.
void closeProgressPanel();

// Where the panel goes; null (the default) means standard error when it is a
// terminal, and nowhere otherwise.
using PanelWriter = void (*)(const char* bytes, size_t count);
void setPanelWriter(PanelWriter writer);
