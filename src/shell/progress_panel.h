// The progress dialog as a panel on a terminal: its title, the fields under
// their labels, the three delay boxes and Cancel, and room below for a
// message box. PanelControls holds what the user edits and turns keys into
// the dialog's actions; PanelPainter turns a screen into the terminal
// output that changes the previous screen into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/panel_terminal.h"
#include "shell/delay_entry.h"
#include "shell/progress_dialog.h"

struct PanelFigures {
    std::string title = "KAZ";
    std::string fields[kProgressFieldCount];
    bool operator==(const PanelFigures&) const = default;
};

// One line of the panel; the bytes from markFrom up to markTo are shown in
// reverse video (the focus or a selection).
struct ScreenLine {
    std::string text;
    size_t markFrom = 0, markTo = 0;
    bool operator==(const ScreenLine&) const = default;
};

struct PanelScreen {
    std::vector<ScreenLine> lines;
    // Where the cursor stands; a row of -1 hides it.
    int cursorRow = -1;
    size_t cursorColumn = 0;
};

enum PanelFocus { kFocusOpen, kFocusSource, kFocusTarget, kFocusCancel, kFocusCount };

// What a key asks of the dialog.
struct KeyOutcome {
    bool bell = false;
    bool cancel = false;
    // The three delays passed the check and are to be handed over.
    bool delaysTaken = false;
    int32_t delays[3] = {-1, -1, -1};
    // The answer to the open message box (IDYES, IDNO), 0 while none.
    int answer = 0;
};

// Characters a delay box holds: "-10000" fits.
inline constexpr size_t kDelayBoxWidth = 6;

class PanelControls {
public:
    // The focus starts in the first box, its text selected.
    PanelControls() { boxes_[0].selected = true; }
    // The values the dialog holds now; boxes the user is not editing show them.
    void followValues(const int32_t values[3]);
    KeyOutcome key(const platform::KeyPress& press);
    // A message box in the panel; a question waits for its answer by key.
    void showBox(const std::string& caption, const std::string& text, bool question);
    void closeBox();
    bool questionOpen() const { return question_; }
    PanelFocus focus() const { return focus_; }
    const std::string& boxText(int box) const { return boxes_[box].text; }
    // The terminal's width in columns (0: no limit). The panel takes the
    // layout that fits it whole: the two columns of the dialog, one column
    // on narrower terminals, else a plain progress line with Cancel.
    void fitWidth(size_t columns) { columns_ = columns; }
    // The panel for these figures, at most maxRows lines high.
    PanelScreen screen(const PanelFigures& figures, size_t maxRows = 1000) const;

private:
    struct DelayBox {
        std::string text = "-1";
        bool edited = false;
        bool selected = false;
    };
    void moveFocus(int step);
    void focusBox(int box);
    KeyOutcome typeInto(DelayBox& box, char c);
    KeyOutcome step(DelayBox& box, int direction, int32_t current);
    KeyOutcome validate();

    DelayBox boxes_[3];
    int32_t values_[3] = {-1, -1, -1};
    PanelFocus focus_ = kFocusOpen;
    std::vector<std::string> message_;
    bool question_ = false;
    size_t columns_ = 0;
    // The last screen had no delay boxes, only Cancel; keys follow it.
    mutable bool compact_ = false;
};

// The panel's fixed lines, for the figures alone (no focus, no message).
std::vector<std::string> panelLines(const PanelFigures& figures);

class PanelPainter {
public:
    // The output that turns what is on the terminal into `screen`; the first
    // call draws from the cursor's line down.
    std::string paint(const PanelScreen& screen);
    // Everything is drawn afresh at the next paint (after a resize or a stop).
    void redrawAll();
    // Leaves the cursor on the line below the panel, visible, wrapping on.
    std::string close();
    bool painted() const { return painted_; }

private:
    void moveTo(std::string& out, size_t row);
    std::vector<ScreenLine> shown_;
    bool painted_ = false;
    bool fresh_ = true;
    size_t row_ = 0;       // the cursor's row, counted from the panel's top
    size_t existing_ = 1;  // rows the panel has made on the terminal
};
