#include "shell/progress_panel.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/panel_terminal.h"
#include "platform/windows_api.h"

namespace {

constexpr size_t kColumnWidth = 33;
constexpr size_t kRightColumn = 40;
constexpr size_t kCancelColumn = 63;
constexpr size_t kDelaysRow = 10;
// The one-column layout of narrow terminals ends its values here.
constexpr size_t kNarrowWidth = 39;
constexpr const char* kDelaysIndent = "        ";
constexpr const char* kCancelButton = "[ Cancel ]";
constexpr const char* kBoxLabels[3] = {"Open", "Source", "Target"};
constexpr const char* kQuestionPrompt = "[y/n] ";

// A label and its value, the value right-aligned to the column's width.
std::string labelled(const char* indent, const char* label, const std::string& value,
                     size_t width = kColumnWidth) {
    std::string text = std::string(indent) + label;
    size_t used = text.size() + value.size();
    text.append(used < width ? width - used : 1, ' ');
    return text + value;
}

std::string twoColumns(const std::string& left, const std::string& right) {
    std::string text = left;
    text.resize(std::max(text.size() + 1, kRightColumn), ' ');
    return text + right;
}

// Where the box of each delay starts on the delays row, and the row itself.
std::string delaysRow(const std::string texts[3], size_t starts[3]) {
    std::string row = "Delays";
    for (int i = 0; i < 3; ++i) {
        row += std::string(i == 0 ? "  " : "  ") + kBoxLabels[i] + " [";
        starts[i] = row.size();
        std::string shown = texts[i];
        shown.resize(kDelayBoxWidth, ' ');
        row += shown + "]";
    }
    row.resize(kCancelColumn, ' ');
    return row + kCancelButton;
}

// Where a delay box's text or the Cancel button starts.
struct Place {
    size_t row = 0, column = 0;
};

struct Layout {
    std::vector<std::string> lines;
    bool boxesShown = true;
    Place boxes[3];
    Place cancel;
};

// At most `width` bytes, never ending inside a UTF-8 character.
std::string cut(const std::string& text, size_t width) {
    if (text.size() <= width) return text;
    size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// Lines longer than `width` go on in the next lines, broken at a blank
// where there is one (a message must be read whole).
std::vector<std::string> wrapped(const std::vector<std::string>& lines, size_t width) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        std::string rest = line;
        while (rest.size() > width) {
            size_t blank = rest.rfind(' ', width);
            if (blank != std::string::npos && blank > 0) {
                out.push_back(rest.substr(0, blank));
                rest.erase(0, blank + 1);
                continue;
            }
            std::string head = cut(rest, width);
            if (head.empty()) head = rest.substr(0, std::max<size_t>(width, 1));
            out.push_back(head);
            rest.erase(0, head.size());
        }
        out.push_back(rest);
    }
    return out;
}

Layout wideLayout(const PanelFigures& figures, const std::string texts[3]) {
    Layout layout;
    layout.lines = panelLines(figures);
    size_t starts[3];
    layout.lines.push_back(delaysRow(texts, starts));
    for (int i = 0; i < 3; ++i) layout.boxes[i] = {kDelaysRow, starts[i]};
    layout.cancel = {kDelaysRow, kCancelColumn};
    return layout;
}

// One column: the actual figures, then the virtual ones, then the rest, the
// three delay boxes one under the other.
Layout narrowLayout(const PanelFigures& f, const std::string texts[3]) {
    auto item = [&f](const char* indent, const char* label, ProgressField which) {
        return labelled(indent, label, f.fields[which], kNarrowWidth);
    };
    Layout layout;
    std::vector<std::string>& lines = layout.lines;
    lines = {f.title,
             f.fields[kTopLineField],
             "Actual",
             item("  ", "Files Processed", kFilesProcessedField),
             item("  ", "Megabytes Processed", kMegabytesField),
             item("  ", "Files Created", kFilesCreatedField),
             item("  ", "Files Deleted", kFilesDeletedField),
             item("  ", "Folders Created", kFoldersCreatedField),
             item("  ", "Folders Deleted", kFoldersDeletedField),
             "Virtual",
             item("  ", "Files Processed", kVirtualFilesProcessedField),
             item("  ", "Megabytes Processed", kVirtualMegabytesField),
             item("  ", "Megabytes/Minute", kMegabytesPerMinuteField),
             item("  ", "V-Compression Ratio", kCompressionRatioField),
             item("", "Busy Files", kBusyFilesField),
             item("", "Exception Files", kExceptionFilesField),
             item("", "Run Time", kRunTimeField)};
    for (int i = 0; i < 3; ++i) {
        std::string row = i == 0 ? "Delays  " : kDelaysIndent;
        row += std::string(kBoxLabels[i]) + " [";
        layout.boxes[i] = {lines.size(), row.size()};
        std::string shown = texts[i];
        shown.resize(kDelayBoxWidth, ' ');
        row += shown + "]";
        if (i == 2) {
            row += "  ";
            layout.cancel = {lines.size(), row.size()};
            row += kCancelButton;
        }
        lines.push_back(row);
    }
    return layout;
}

// A plain progress line of the figures that fit whole, and Cancel.
Layout compactLayout(const PanelFigures& f, size_t width) {
    const std::pair<const char*, ProgressField> shown[] = {
        {"Files Processed", kFilesProcessedField}, {"Megabytes Processed", kMegabytesField},
        {"Busy Files", kBusyFilesField},           {"Exception Files", kExceptionFilesField},
        {"Run Time", kRunTimeField}};
    std::string line;
    for (const auto& [label, which] : shown) {
        std::string value = f.fields[which];
        value.erase(0, std::min(value.find_first_not_of(' '), value.size()));
        std::string item = (line.empty() ? "" : "  ") + std::string(label) + " " + value;
        if (line.size() + item.size() > width) break;
        line += item;
    }
    Layout layout;
    layout.boxesShown = false;
    layout.lines = {line, kCancelButton};
    layout.cancel = {1, 0};
    return layout;
}

// Whether the lines from `from` on fit the width: figures are never cut.
bool fits(const Layout& layout, size_t from, size_t width) {
    for (size_t i = from; i < layout.lines.size(); ++i) {
        if (layout.lines[i].size() > width) return false;
    }
    return true;
}

// Shown as '?': a control character would move the cursor or change the
// terminal behind the painter's back.
void showControlsPlainly(std::string& text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c == '\t' ? ' ' : c;
        }
    }
    while (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    return lines;
}

bool plainAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

void appendLine(std::string& out, const ScreenLine& line, size_t from) {
    if (line.markTo > line.markFrom && line.markTo <= line.text.size()) {
        out += line.text.substr(from, line.markFrom - from);
        out += "\x1b[7m" + line.text.substr(line.markFrom, line.markTo - line.markFrom) + "\x1b[27m";
        out += line.text.substr(line.markTo);
    } else {
        out += line.text.substr(from);
    }
}

void toColumn(std::string& out, size_t column) {
    out += '\r';
    if (column > 0) out += "\x1b[" + std::to_string(column) + "C";
}

}  // namespace

std::vector<std::string> panelLines(const PanelFigures& f) {
    auto field = [&f](ProgressField which) -> const std::string& { return f.fields[which]; };
    std::vector<std::string> lines;
    lines.push_back(f.title);
    lines.push_back(field(kTopLineField));
    lines.push_back(twoColumns("Actual", "Virtual"));
    lines.push_back(twoColumns(labelled("  ", "Files Processed", field(kFilesProcessedField)),
                               labelled("  ", "Files Processed", field(kVirtualFilesProcessedField))));
    lines.push_back(twoColumns(labelled("  ", "Megabytes Processed", field(kMegabytesField)),
                               labelled("  ", "Megabytes Processed", field(kVirtualMegabytesField))));
    lines.push_back(twoColumns(labelled("  ", "Files Created", field(kFilesCreatedField)),
                               labelled("  ", "Megabytes/Minute", field(kMegabytesPerMinuteField))));
    lines.push_back(twoColumns(labelled("  ", "Files Deleted", field(kFilesDeletedField)),
                               labelled("  ", "V-Compression Ratio", field(kCompressionRatioField))));
    lines.push_back(twoColumns(labelled("  ", "Folders Created", field(kFoldersCreatedField)),
                               labelled("", "Busy Files", field(kBusyFilesField))));
    lines.push_back(twoColumns(labelled("  ", "Folders Deleted", field(kFoldersDeletedField)),
                               labelled("", "Exception Files", field(kExceptionFilesField))));
    lines.push_back(twoColumns("", labelled("", "Run Time", field(kRunTimeField))));
    return lines;
}

void PanelControls::followValues(const int32_t values[3]) {
    for (int i = 0; i < 3; ++i) {
        values_[i] = values[i];
        if (!boxes_[i].edited) boxes_[i].text = std::to_string(values[i]);
    }
}

void PanelControls::showBox(const std::string& caption, const std::string& text, bool question) {
    message_ = splitLines(text);
    message_.insert(message_.begin(), caption);
    if (question) message_.push_back(kQuestionPrompt);
    question_ = question;
}

void PanelControls::closeBox() {
    message_.clear();
    question_ = false;
}

void PanelControls::focusBox(int box) {
    for (DelayBox& b : boxes_) b.selected = false;
    focus_ = static_cast<PanelFocus>(box);
    // Entering a box selects its text, so typing replaces it.
    boxes_[box].selected = true;
}

void PanelControls::moveFocus(int step) {
    int next = (static_cast<int>(focus_) + step + kFocusCount) % kFocusCount;
    if (next == kFocusCancel) {
        for (DelayBox& b : boxes_) b.selected = false;
        focus_ = kFocusCancel;
    } else {
        focusBox(next);
    }
}

KeyOutcome PanelControls::typeInto(DelayBox& box, char c) {
    KeyOutcome outcome;
    std::string text = box.selected ? std::string() : box.text;
    // One minus sign, anywhere; no more than the box holds.
    if (static_cast<unsigned char>(c) < 32 || !delayCharacterTaken(text, c) ||
        text.size() + 1 > kDelayBoxWidth) {
        outcome.bell = true;
        return outcome;
    }
    box.text = text + c;
    box.edited = true;
    box.selected = false;
    return outcome;
}

// The spin arrows: one step from the number in the box, within the range.
KeyOutcome PanelControls::step(DelayBox& box, int direction, int32_t current) {
    long long value = current;
    if (!readWholeNumber(box.text, value)) value = current;
    value = std::clamp<long long>(value, kDelayMinimum, kDelayMaximum);
    value = std::clamp<long long>(value + direction, kDelayMinimum, kDelayMaximum);
    box.text = std::to_string(value);
    box.edited = true;
    box.selected = false;
    return {};
}

// Enter in a delay box: all three values are checked in order; the first
// bad one keeps the focus with its text selected, and nothing is handed
// over until all three are good.
KeyOutcome PanelControls::validate() {
    KeyOutcome outcome;
    int32_t checked[3];
    for (int i = 0; i < 3; ++i) {
        const char* complaint = checkDelayText(boxes_[i].text, checked[i]);
        if (complaint != nullptr) {
            message_ = {complaint};
            question_ = false;
            focusBox(i);
            return outcome;
        }
    }
    outcome.delaysTaken = true;
    for (int i = 0; i < 3; ++i) {
        outcome.delays[i] = values_[i] = checked[i];
        boxes_[i] = DelayBox{std::to_string(checked[i]), false, false};
    }
    focus_ = kFocusCancel;
    return outcome;
}

KeyOutcome PanelControls::key(const platform::KeyPress& press) {
    using platform::PanelKey;
    KeyOutcome outcome;
    if (question_) {
        char c = press.key == PanelKey::Character ? press.character : 0;
        if (c == 'y' || c == 'Y' || c == 'n' || c == 'N') {
            outcome.answer = c == 'y' || c == 'Y' ? IDYES : IDNO;
            closeBox();
        } else {
            outcome.bell = true;
        }
        return outcome;
    }
    // A notice stays until the next key.
    message_.clear();
    if (compact_) {
        // Only Cancel is on the screen: no key reaches a box nobody sees.
        for (DelayBox& b : boxes_) b.selected = false;
        focus_ = kFocusCancel;
        switch (press.key) {
            case PanelKey::Escape: outcome.cancel = true; break;
            case PanelKey::Character:
                if (press.character == ' ') outcome.cancel = true;
                else outcome.bell = true;
                break;
            case PanelKey::Backspace:
            case PanelKey::Other: outcome.bell = true; break;
            default: break;
        }
        return outcome;
    }
    bool inBox = focus_ != kFocusCancel;
    switch (press.key) {
        case PanelKey::Tab:
        case PanelKey::Right: moveFocus(1); break;
        case PanelKey::BackTab:
        case PanelKey::Left: moveFocus(-1); break;
        case PanelKey::Up:
        case PanelKey::Down:
            if (inBox) return step(boxes_[focus_], press.key == PanelKey::Up ? 1 : -1, values_[focus_]);
            moveFocus(press.key == PanelKey::Up ? -1 : 1);
            break;
        case PanelKey::Escape: outcome.cancel = true; break;
        case PanelKey::Enter:
            if (inBox) return validate();
            break;
        case PanelKey::Backspace:
            if (!inBox) {
                outcome.bell = true;
            } else {
                DelayBox& box = boxes_[focus_];
                if (box.selected) box.text.clear();
                else if (!box.text.empty()) box.text.pop_back();
                box.selected = false;
                box.edited = true;
            }
            break;
        case PanelKey::Character:
            if (inBox) return typeInto(boxes_[focus_], press.character);
            // The space bar presses the focused button.
            if (press.character == ' ') outcome.cancel = true;
            else outcome.bell = true;
            break;
        case PanelKey::Other: outcome.bell = true; break;
        default: break;
    }
    return outcome;
}

PanelScreen PanelControls::screen(const PanelFigures& figures, size_t maxRows) const {
    std::string texts[3];
    for (int i = 0; i < 3; ++i) texts[i] = boxes_[i].text;
    // Nothing is written into the last column: a terminal that erases from
    // the cursor there would take the last character with it.
    size_t width = columns_ == 0 ? std::string::npos : std::max<size_t>(columns_, 2) - 1;
    Layout layout = wideLayout(figures, texts);
    if (!fits(layout, 2, width) || layout.lines.size() > maxRows) {
        layout = narrowLayout(figures, texts);
        if (!fits(layout, 2, width) || layout.lines.size() > maxRows) {
            layout = compactLayout(figures, width);
        }
    }
    compact_ = !layout.boxesShown;
    PanelScreen screen;
    for (std::string& line : layout.lines) screen.lines.push_back({cut(line, width)});
    PanelFocus focus = compact_ ? kFocusCancel : focus_;
    if (focus == kFocusCancel) {
        ScreenLine& line = screen.lines[layout.cancel.row];
        line.markFrom = layout.cancel.column;
        line.markTo = layout.cancel.column + std::string(kCancelButton).size();
    } else {
        const DelayBox& box = boxes_[focus];
        const Place& place = layout.boxes[focus];
        if (box.selected) {
            screen.lines[place.row].markFrom = place.column;
            screen.lines[place.row].markTo = place.column + box.text.size();
        }
        screen.cursorRow = static_cast<int>(place.row);
        screen.cursorColumn = place.column + std::min(box.text.size(), kDelayBoxWidth);
    }
    // A message taller than the terminal loses its middle lines, never its
    // first one (the caption) or its last one (the question).
    std::vector<std::string> message = columns_ == 0 ? message_ : wrapped(message_, width);
    size_t room = maxRows > screen.lines.size() ? maxRows - screen.lines.size() : 0;
    while (message.size() > room && message.size() > 2) message.erase(message.end() - 2);
    for (const std::string& line : message) screen.lines.push_back({line});
    for (ScreenLine& line : screen.lines) showControlsPlainly(line.text);
    if (question_) {
        screen.cursorRow = static_cast<int>(screen.lines.size() - 1);
        screen.cursorColumn = screen.lines.back().text.size();
    }
    return screen;
}

void PanelPainter::redrawAll() { fresh_ = true; }

void PanelPainter::moveTo(std::string& out, size_t row) {
    if (row >= existing_) {
        if (row_ != existing_ - 1) moveTo(out, existing_ - 1);
        for (; existing_ <= row; ++existing_) out += "\n";
        row_ = row;
        return;
    }
    if (row < row_) out += "\x1b[" + std::to_string(row_ - row) + "A";
    if (row > row_) out += "\x1b[" + std::to_string(row - row_) + "B";
    row_ = row;
}

std::string PanelPainter::paint(const PanelScreen& screen) {
    // Without wrapping a long path is cut at the edge instead of pushing the
    // lines below it down, which would break the rewrite in place.
    std::string out = "\x1b[?25l\x1b[?7l";
    if (fresh_ && painted_) {
        moveTo(out, 0);
        out += "\r\x1b[J";
    }
    if (fresh_) shown_.clear();
    for (size_t row = 0; row < screen.lines.size(); ++row) {
        const ScreenLine& line = screen.lines[row];
        if (row < shown_.size() && shown_[row] == line) continue;
        moveTo(out, row);
        const ScreenLine* old = row < shown_.size() ? &shown_[row] : nullptr;
        bool spans = old != nullptr && old->markTo == old->markFrom && line.markTo == line.markFrom &&
                     plainAscii(old->text) && plainAscii(line.text);
        if (!spans) {
            out += '\r';
            appendLine(out, line, 0);
            out += "\x1b[K";
            continue;
        }
        // Only the bytes that changed, on lines where a byte is a column.
        const std::string& a = old->text;
        const std::string& b = line.text;
        size_t from = 0;
        while (from < a.size() && from < b.size() && a[from] == b[from]) ++from;
        toColumn(out, from);
        if (a.size() == b.size()) {
            size_t to = b.size();
            while (to > from && a[to - 1] == b[to - 1]) --to;
            out += b.substr(from, to - from);
        } else {
            out += b.substr(from) + "\x1b[K";
        }
    }
    if (screen.lines.size() < shown_.size()) {
        moveTo(out, screen.lines.size());
        out += "\r\x1b[J";
    }
    shown_ = screen.lines;
    fresh_ = false;
    painted_ = true;
    if (screen.cursorRow >= 0) {
        moveTo(out, static_cast<size_t>(screen.cursorRow));
        toColumn(out, screen.cursorColumn);
        out += "\x1b[?25h";
    } else {
        moveTo(out, shown_.size());
        out += '\r';
    }
    return out;
}

std::string PanelPainter::close() {
    std::string out;
    if (!painted_) return out;
    moveTo(out, shown_.size());
    out += "\r\x1b[?25h\x1b[?7h";
    painted_ = false;
    fresh_ = true;
    shown_.clear();
    row_ = 0;
    existing_ = 1;
    return out;
}
