#include "platform/panel_terminal.h"
#include "platform/windows_api.h"
#include "shell/progress_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

using platform::KeyPress;
using platform::PanelKey;

// Just enough of a terminal to replay what the painter writes: the lines it
// leaves, where the cursor is, whether it shows, and how many characters it
// had to print.
struct Terminal {
    std::vector<std::string> rows{""};
    size_t row = 0, column = 0;
    bool cursorShown = true;
    size_t printed = 0;

    void feed(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            char c = bytes[i];
            if (c == '\r') {
                column = 0;
            } else if (c == '\n') {
                if (++row == rows.size()) rows.emplace_back();
            } else if (c == '\x1b') {
                size_t end = i + 2;
                while (end < bytes.size() && !std::isalpha(static_cast<unsigned char>(bytes[end]))) ++end;
                std::string params = bytes.substr(i + 2, end - i - 2);
                control(params, bytes[end]);
                i = end;
            } else {
                std::string& line = rows[row];
                if (line.size() <= column) line.resize(column + 1, ' ');
                line[column++] = c;
                ++printed;
            }
        }
    }
    void control(const std::string& params, char final) {
        size_t n = params.empty() || params[0] == '?' ? 1 : std::stoul(params);
        switch (final) {
            case 'A': row -= std::min(row, n); break;
            case 'B': row = std::min(row + n, rows.size() - 1); break;
            case 'C': column += n; break;
            case 'K': if (rows[row].size() > column) rows[row].resize(column); break;
            case 'J':
                if (rows[row].size() > column) rows[row].resize(column);
                for (size_t r = row + 1; r < rows.size(); ++r) rows[r].clear();
                break;
            case 'h': if (params == "?25") cursorShown = true; break;
            case 'l': if (params == "?25") cursorShown = false; break;
            default: break;
        }
    }
    // The rows with their trailing blanks dropped and empty rows at the end cut.
    std::vector<std::string> text() const {
        std::vector<std::string> out;
        for (std::string line : rows) {
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out.push_back(line);
        }
        while (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }
};

std::vector<std::string> expected(const PanelScreen& screen) {
    std::vector<std::string> out;
    for (const ScreenLine& line : screen.lines) {
        std::string text = line.text;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out.push_back(text);
    }
    return out;
}

PanelFigures sample() {
    PanelFigures f;
    f.title = "KAZ /home/ann /backup/ann run.log -delaysource=20";
    const char* values[kProgressFieldCount] = {"     1:02:03", "/home/ann/report.doc", "11",
                                               "21", "1.234", "5.678", "60.500", "4.60:1",
                                               "31", "13", "15", "14", "16", "32"};
    for (int i = 0; i < kProgressFieldCount; ++i) f.fields[i] = values[i];
    return f;
}

KeyPress key(PanelKey which) { return KeyPress{which, 0}; }
KeyPress typed(char c) { return KeyPress{PanelKey::Character, c}; }

class Controls : public testing::Test {
protected:
    void SetUp() override {
        int32_t values[3] = {0, 20, -1};
        controls.followValues(values);
    }
    KeyOutcome type(const std::string& keys) {
        KeyOutcome last;
        for (char c : keys) last = controls.key(typed(c));
        return last;
    }
    std::string delaysRow() const { return controls.screen(sample()).lines[10].text; }
    std::string messageRow() const {
        PanelScreen screen = controls.screen(sample());
        return screen.lines.size() > 11 ? screen.lines[11].text : "";
    }
    PanelControls controls;
};

}  // namespace

TEST(PanelLayout, EveryLabelAndFigureOfTheDialogWithinEightyColumns) {
    std::vector<std::string> lines = panelLines(sample());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    EXPECT_EQ(lines[0], "KAZ /home/ann /backup/ann run.log -delaysource=20");
    EXPECT_EQ(lines[1], "/home/ann/report.doc");
    for (const char* pattern :
         {"\nActual +Virtual\n", "  Files Processed +11 +Files Processed +21\n",
          "  Megabytes Processed +1\\.234 +Megabytes Processed +5\\.678\n",
          "  Files Created +13 +Megabytes/Minute +60\\.500\n",
          "  Files Deleted +14 +V-Compression Ratio +4\\.60:1\n",
          "  Folders Created +15 +Busy Files +31\n", "  Folders Deleted +16 +Exception Files +32\n",
          "\n +Run Time +1:02:03\n"}) {
        EXPECT_TRUE(std::regex_search(text, std::regex(pattern))) << pattern;
    }
    PanelFigures widest;
    for (std::string& field : widest.fields) field = "99999999.999";
    widest.fields[kRunTimeField] = "        59.999";
    lines = panelLines(widest);
    for (size_t i = 2; i < lines.size(); ++i) EXPECT_LE(lines[i].size(), 80u) << lines[i];
    // The values of a column end in the same place.
    EXPECT_EQ(lines[3].find_last_of('9'), lines[8].find_last_of('9'));
    EXPECT_EQ(lines[3].rfind('9'), lines[9].rfind('9'));
}

TEST_F(Controls, DelaysRowShowsTheValuesTheBoxesAndCancel) {
    std::string row = delaysRow();
    EXPECT_TRUE(std::regex_match(row, std::regex("Delays +Open \\[0 +\\] +Source \\[20 +\\] +"
                                                 "Target \\[-1 +\\] +\\[ Cancel \\]")))
        << row;
    EXPECT_LE(row.size(), 80u);
    // The first box has the focus, its text selected, the cursor after it.
    PanelScreen screen = controls.screen(sample());
    EXPECT_EQ(row.substr(screen.lines[10].markFrom, screen.lines[10].markTo - screen.lines[10].markFrom), "0");
    EXPECT_EQ(screen.cursorRow, 10);
    EXPECT_EQ(screen.cursorColumn, row.find("[0") + 2);
}

TEST_F(Controls, TabAndArrowsGoRoundTheBoxesAndCancel) {
    EXPECT_EQ(controls.focus(), kFocusOpen);
    controls.key(key(PanelKey::Tab));
    EXPECT_EQ(controls.focus(), kFocusSource);
    controls.key(key(PanelKey::Right));
    EXPECT_EQ(controls.focus(), kFocusTarget);
    controls.key(key(PanelKey::Tab));
    EXPECT_EQ(controls.focus(), kFocusCancel);
    PanelScreen screen = controls.screen(sample());
    EXPECT_EQ(screen.cursorRow, -1);
    EXPECT_EQ(screen.lines[10].text.substr(screen.lines[10].markFrom), "[ Cancel ]");
    controls.key(key(PanelKey::Tab));
    EXPECT_EQ(controls.focus(), kFocusOpen);
    controls.key(key(PanelKey::BackTab));
    EXPECT_EQ(controls.focus(), kFocusCancel);
    controls.key(key(PanelKey::Left));
    EXPECT_EQ(controls.focus(), kFocusTarget);
    // On Cancel the up and down arrows move the focus too.
    controls.key(key(PanelKey::Tab));
    controls.key(key(PanelKey::Down));
    EXPECT_EQ(controls.focus(), kFocusOpen);
}

TEST_F(Controls, TypingReplacesTheSelectionAndTakesOnlyDigitsAndOneMinus) {
    controls.key(key(PanelKey::Tab));
    EXPECT_FALSE(type("5").bell);
    EXPECT_FALSE(type("0").bell);
    EXPECT_EQ(controls.boxText(kFocusSource), "50");
    EXPECT_TRUE(type("x").bell);
    EXPECT_TRUE(type(" ").bell);
    EXPECT_TRUE(controls.key(key(PanelKey::Other)).bell);
    EXPECT_EQ(controls.boxText(kFocusSource), "50");
    // A minus sign anywhere, once.
    EXPECT_FALSE(type("-").bell);
    EXPECT_TRUE(type("-").bell);
    EXPECT_EQ(controls.boxText(kFocusSource), "50-");
    controls.key(key(PanelKey::Backspace));
    controls.key(key(PanelKey::Backspace));
    EXPECT_EQ(controls.boxText(kFocusSource), "5");
    EXPECT_FALSE(type("-").bell);
    // The box holds six characters.
    EXPECT_FALSE(type("123").bell);
    EXPECT_EQ(controls.boxText(kFocusSource), "5-123");
    EXPECT_FALSE(type("4").bell);
    EXPECT_TRUE(type("5").bell);
    EXPECT_EQ(controls.boxText(kFocusSource), "5-1234");
    // The selection may hold the minus that a typed one replaces.
    controls.key(key(PanelKey::Tab));
    controls.key(key(PanelKey::BackTab));
    EXPECT_FALSE(type("-").bell);
    EXPECT_EQ(controls.boxText(kFocusSource), "-");
    // Nothing is handed over by typing alone.
    EXPECT_FALSE(type("7").delaysTaken);
}

TEST_F(Controls, ArrowsStepTheValueWithinTheRange) {
    controls.key(key(PanelKey::Tab));
    controls.key(key(PanelKey::Up));
    EXPECT_EQ(controls.boxText(kFocusSource), "21");
    controls.key(key(PanelKey::Tab));
    controls.key(key(PanelKey::Down));
    EXPECT_EQ(controls.boxText(kFocusTarget), "-1");
    controls.key(key(PanelKey::Up));
    EXPECT_EQ(controls.boxText(kFocusTarget), "0");
    type("9999");
    controls.key(key(PanelKey::Up));
    controls.key(key(PanelKey::Up));
    EXPECT_EQ(controls.boxText(kFocusTarget), "10000");
    // An out-of-range text steps from the nearest end.
    controls.key(key(PanelKey::BackTab));
    type("20000");
    controls.key(key(PanelKey::Down));
    EXPECT_EQ(controls.boxText(kFocusSource), "9999");
    EXPECT_EQ(controls.focus(), kFocusSource);
}

TEST_F(Controls, EnterHandsOverAllThreeOrShowsWhyNot) {
    controls.key(key(PanelKey::Tab));
    type("20000");
    KeyOutcome outcome = controls.key(key(PanelKey::Enter));
    EXPECT_FALSE(outcome.delaysTaken);
    EXPECT_EQ(messageRow(), "Please enter an integer between -1 and 10000.");
    EXPECT_EQ(controls.focus(), kFocusSource);
    // The message goes with the next key.
    type("5");
    EXPECT_EQ(messageRow(), "");
    type("-");
    controls.key(key(PanelKey::Enter));
    EXPECT_EQ(messageRow(), "Please enter an integer.");
    // The first bad box in order gets the focus, wherever Enter was pressed.
    controls.key(key(PanelKey::Tab));
    outcome = controls.key(key(PanelKey::Enter));
    EXPECT_FALSE(outcome.delaysTaken);
    EXPECT_EQ(controls.focus(), kFocusSource);
    controls.key(key(PanelKey::Backspace));  // the whole selection
    type("-01");
    // A bad Target box holds up all three.
    controls.key(key(PanelKey::Tab));
    type("-");
    outcome = controls.key(key(PanelKey::Enter));
    EXPECT_FALSE(outcome.delaysTaken);
    EXPECT_EQ(controls.focus(), kFocusTarget);
    type("-1");
    outcome = controls.key(key(PanelKey::Enter));
    ASSERT_TRUE(outcome.delaysTaken);
    EXPECT_EQ(outcome.delays[0], 0);
    EXPECT_EQ(outcome.delays[1], -1);
    EXPECT_EQ(outcome.delays[2], -1);
    EXPECT_EQ(controls.boxText(kFocusSource), "-1");
    EXPECT_EQ(controls.focus(), kFocusCancel);
    EXPECT_EQ(messageRow(), "");
    // Enter anywhere else does nothing.
    outcome = controls.key(key(PanelKey::Enter));
    EXPECT_FALSE(outcome.delaysTaken || outcome.cancel || outcome.bell);
}

TEST_F(Controls, BoxesFollowTheDialogUntilTheUserEditsThem) {
    controls.key(key(PanelKey::Tab));
    type("3");
    int32_t values[3] = {100, 200, 300};
    controls.followValues(values);
    EXPECT_EQ(controls.boxText(kFocusOpen), "100");
    EXPECT_EQ(controls.boxText(kFocusSource), "3");
    EXPECT_EQ(controls.boxText(kFocusTarget), "300");
    KeyOutcome outcome = controls.key(key(PanelKey::Enter));
    EXPECT_EQ(outcome.delays[1], 3);
    int32_t later[3] = {100, 4, 300};
    controls.followValues(later);
    EXPECT_EQ(controls.boxText(kFocusSource), "4");
}

TEST_F(Controls, EscapeAndTheCancelButtonAskForCancel) {
    EXPECT_TRUE(controls.key(key(PanelKey::Escape)).cancel);
    // Space types nothing into a box; on Cancel it presses the button.
    EXPECT_FALSE(type(" ").cancel);
    controls.key(key(PanelKey::BackTab));
    EXPECT_TRUE(type(" ").cancel);
    EXPECT_TRUE(type("a").bell);
    EXPECT_TRUE(controls.key(key(PanelKey::Backspace)).bell);
    EXPECT_TRUE(controls.key(key(PanelKey::Escape)).cancel);
}

TEST_F(Controls, AQuestionTakesOnlyItsAnswer) {
    controls.showBox("KAZ", "Rozidivid - Terminate program?", true);
    PanelScreen screen = controls.screen(sample());
    ASSERT_EQ(screen.lines.size(), 14u);
    EXPECT_EQ(screen.lines[11].text, "KAZ");
    EXPECT_EQ(screen.lines[12].text, "Rozidivid - Terminate program?");
    EXPECT_EQ(screen.cursorRow, 13);
    EXPECT_EQ(screen.cursorColumn, screen.lines[13].text.size());
    for (PanelKey other : {PanelKey::Escape, PanelKey::Enter, PanelKey::Tab, PanelKey::Up}) {
        KeyOutcome outcome = controls.key(key(other));
        EXPECT_TRUE(outcome.bell);
        EXPECT_FALSE(outcome.cancel);
        EXPECT_EQ(outcome.answer, 0);
    }
    EXPECT_EQ(controls.boxText(kFocusOpen), "0");
    EXPECT_EQ(controls.key(typed('N')).answer, IDNO);
    EXPECT_FALSE(controls.questionOpen());
    EXPECT_EQ(controls.screen(sample()).lines.size(), 11u);
    controls.showBox("KAZ", "Do you wish to proceed?", true);
    EXPECT_EQ(controls.key(typed('y')).answer, IDYES);
}

TEST_F(Controls, ANoticeStaysUntilTheNextKeyAndFitsTheTerminal) {
    controls.showBox("KAZ - message", "first\r\nsecond\r\nthird\r\nfourth\r\n", false);
    PanelScreen screen = controls.screen(sample());
    ASSERT_EQ(screen.lines.size(), 16u);
    EXPECT_EQ(screen.lines[12].text, "first");
    EXPECT_EQ(screen.lines[15].text, "fourth");
    EXPECT_EQ(screen.cursorRow, 10);
    screen = controls.screen(sample(), 13);
    ASSERT_EQ(screen.lines.size(), 13u);
    EXPECT_EQ(screen.lines[11].text, "KAZ - message");
    EXPECT_EQ(screen.lines[12].text, "fourth");
    controls.key(key(PanelKey::Tab));
    EXPECT_EQ(controls.screen(sample()).lines.size(), 11u);
}

TEST_F(Controls, BelowSeventyFourColumnsOneColumnWithEveryFigureWhole) {
    for (size_t columns : {73u, 60u, 40u}) {
        controls.fitWidth(columns);
        PanelScreen screen = controls.screen(sample(), 23);
        ASSERT_EQ(screen.lines.size(), 20u) << columns;
        std::string text;
        for (const ScreenLine& line : screen.lines) {
            EXPECT_LT(line.text.size(), columns) << line.text;
            text += line.text + "\n";
        }
        EXPECT_EQ(screen.lines[0].text, sample().title.substr(0, std::min<size_t>(columns - 1, 49)));
        for (const char* pattern :
             {"\nActual\n  Files Processed +11\n  Megabytes Processed +1\\.234\n"
              "  Files Created +13\n  Files Deleted +14\n  Folders Created +15\n"
              "  Folders Deleted +16\nVirtual\n  Files Processed +21\n"
              "  Megabytes Processed +5\\.678\n  Megabytes/Minute +60\\.500\n"
              "  V-Compression Ratio +4\\.60:1\nBusy Files +31\nException Files +32\n"
              "Run Time +1:02:03\nDelays  Open \\[0 +\\]\n +Source \\[20 +\\]\n"
              " +Target \\[-1 +\\]  \\[ Cancel \\]\n$"}) {
            EXPECT_TRUE(std::regex_search(text, std::regex(pattern))) << text;
        }
        // The focus and the cursor are in the first box.
        EXPECT_EQ(screen.cursorRow, 17);
        EXPECT_EQ(screen.lines[17].text.substr(screen.lines[17].markFrom, 1), "0");
    }
    // Each box on its own row; Cancel after the last.
    controls.key(key(PanelKey::Tab));
    PanelScreen screen = controls.screen(sample(), 23);
    EXPECT_EQ(screen.cursorRow, 18);
    EXPECT_EQ(screen.cursorColumn, screen.lines[18].text.find("[20") + 3);
    controls.key(key(PanelKey::Tab));
    controls.key(key(PanelKey::Tab));
    screen = controls.screen(sample(), 23);
    EXPECT_EQ(screen.cursorRow, -1);
    EXPECT_EQ(screen.lines[19].text.substr(screen.lines[19].markFrom), "[ Cancel ]");
    // At 74 columns and more the two columns of the dialog.
    controls.fitWidth(74);
    EXPECT_EQ(controls.screen(sample(), 23).lines.size(), 11u);
}

TEST_F(Controls, WhereTheFiguresDoNotFitAPlainProgressLineAndCancel) {
    PanelFigures figures = sample();
    figures.fields[kRunTimeField] = "         2.500";
    controls.fitWidth(39);
    PanelScreen screen = controls.screen(figures, 23);
    ASSERT_EQ(screen.lines.size(), 2u);
    EXPECT_EQ(screen.lines[0].text, "Files Processed 11");
    EXPECT_EQ(screen.lines[1].text, "[ Cancel ]");
    EXPECT_EQ(screen.lines[1].markFrom, 0u);
    EXPECT_EQ(screen.lines[1].markTo, 10u);
    EXPECT_EQ(screen.cursorRow, -1);
    // Too few rows for either panel.
    controls.fitWidth(120);
    EXPECT_EQ(controls.screen(figures, 10).lines[0].text,
              "Files Processed 11  Megabytes Processed 1.234  Busy Files 31  Exception Files 32"
              "  Run Time 2.500");
    EXPECT_EQ(controls.screen(figures, 10).lines.size(), 2u);
    controls.fitWidth(60);
    EXPECT_EQ(controls.screen(figures, 19).lines.size(), 2u);
    // A figure too long for the one column: never cut, the line instead.
    figures.fields[kCompressionRatioField] = "12345678901234567890.00:1";
    controls.fitWidth(40);
    EXPECT_EQ(controls.screen(figures, 23).lines.size(), 2u);
    // Only Cancel is there to take keys: no box is typed into unseen.
    EXPECT_EQ(controls.focus(), kFocusOpen);
    EXPECT_TRUE(type("5").bell);
    EXPECT_EQ(controls.boxText(kFocusOpen), "0");
    EXPECT_FALSE(controls.key(key(PanelKey::Tab)).bell);
    EXPECT_EQ(controls.focus(), kFocusCancel);
    EXPECT_FALSE(controls.key(key(PanelKey::Enter)).delaysTaken);
    EXPECT_TRUE(type(" ").cancel);
    EXPECT_TRUE(controls.key(key(PanelKey::Escape)).cancel);
}

TEST_F(Controls, MessagesGoOnInTheNextLineOnNarrowTerminals) {
    controls.fitWidth(30);
    controls.showBox("KAZ", "Rozidivid - Terminate program?", true);
    PanelScreen screen = controls.screen(sample(), 29);
    ASSERT_EQ(screen.lines.size(), 6u);
    EXPECT_EQ(screen.lines[2].text, "KAZ");
    EXPECT_EQ(screen.lines[3].text, "Rozidivid - Terminate");
    EXPECT_EQ(screen.lines[4].text, "program?");
    EXPECT_EQ(screen.lines[5].text, "[y/n] ");
    EXPECT_EQ(screen.cursorRow, 5);
}

TEST_F(Controls, ControlCharactersInTextsAreShownAsQuestionMarks) {
    PanelFigures figures = sample();
    figures.title = "KAZ /home/ann /backup/ann run\n.log";
    figures.fields[kTopLineField] = "/home/ann/a\x1b[2Jb\rc\x7f";
    controls.showBox("KAZ - message", "Cannot open /home/ann/x\x1b]0;y\x07", false);
    for (size_t columns : {0u, 60u}) {
        controls.fitWidth(columns);
        PanelScreen screen = controls.screen(figures, 40);
        EXPECT_EQ(screen.lines[0].text, "KAZ /home/ann /backup/ann run?.log");
        EXPECT_EQ(screen.lines[1].text, "/home/ann/a?[2Jb?c?");
        EXPECT_EQ(screen.lines.back().text, "Cannot open /home/ann/x?]0;y?");
    }
}

TEST(PanelPainter, TheTerminalShowsExactlyEachScreen) {
    PanelControls controls;
    PanelPainter painter;
    Terminal terminal;
    PanelFigures figures = sample();
    PanelScreen screen = controls.screen(figures);
    terminal.feed(painter.paint(screen));
    EXPECT_EQ(terminal.text(), expected(screen));
    EXPECT_EQ(terminal.row, 10u);
    EXPECT_TRUE(terminal.cursorShown);
    // The same screen again prints nothing.
    size_t before = terminal.printed;
    terminal.feed(painter.paint(screen));
    EXPECT_EQ(terminal.printed, before);
    // One counter: only its characters are printed.
    figures.fields[kFilesProcessedField] = "12";
    screen = controls.screen(figures);
    before = terminal.printed;
    terminal.feed(painter.paint(screen));
    EXPECT_EQ(terminal.text(), expected(screen));
    EXPECT_EQ(terminal.printed - before, 1u);
    // A longer path, a message box below, and back again.
    figures.fields[kTopLineField] = "/home/ann/a much longer name/report.doc";
    controls.showBox("KAZ", "Rozidivid - Terminate program?", true);
    screen = controls.screen(figures);
    terminal.feed(painter.paint(screen));
    EXPECT_EQ(terminal.text(), expected(screen));
    controls.key(typed('n'));
    figures.fields[kTopLineField] = "/home/ann/b";
    screen = controls.screen(figures);
    terminal.feed(painter.paint(screen));
    EXPECT_EQ(terminal.text(), expected(screen));
    // Drawn afresh after a resize, in the same place.
    painter.redrawAll();
    terminal.feed(painter.paint(screen));
    EXPECT_EQ(terminal.text(), expected(screen));
    // Closing leaves the cursor below the panel, shown.
    controls.key(key(PanelKey::Tab));
    controls.key(key(PanelKey::Tab));
    controls.key(key(PanelKey::Tab));
    terminal.feed(painter.paint(controls.screen(figures)));
    EXPECT_FALSE(terminal.cursorShown);
    std::string closing = painter.close();
    EXPECT_NE(closing.find("\x1b[?7h"), std::string::npos);
    terminal.feed(closing);
    EXPECT_TRUE(terminal.cursorShown);
    EXPECT_EQ(terminal.row, 11u);
    EXPECT_EQ(terminal.column, 0u);
}

TEST(PanelPainter, StartsOnTheCursorLineAndNeverAboveIt) {
    PanelControls controls;
    PanelPainter painter;
    Terminal terminal;
    terminal.feed("$ kaz a b\r\n");
    std::string first = painter.paint(controls.screen(sample()));
    EXPECT_FALSE(std::regex_search(first, std::regex("\x1b\\[[0-9]+A")));
    terminal.feed(first);
    PanelFigures figures = sample();
    figures.fields[kRunTimeField] = "     1:02:04";
    terminal.feed(painter.paint(controls.screen(figures)));
    terminal.feed(painter.close());
    std::vector<std::string> rows = terminal.text();
    ASSERT_GE(rows.size(), 12u);
    EXPECT_EQ(rows[0], "$ kaz a b");
    EXPECT_EQ(rows[1], figures.title);
    EXPECT_NE(rows[10].find("1:02:04"), std::string::npos);
    EXPECT_EQ(terminal.row, 12u);
}
