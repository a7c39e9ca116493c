#include "shell/progress_panel.h"

#include <cstdio>
#include <mutex>

#include "platform/platform.h"

namespace {

constexpr const char* kNoWrap = "\x1b[?7l";
constexpr const char* kWrap = "\x1b[?7h";
constexpr const char* kClearLine = "\x1b[2K";
constexpr const char* kClearToEnd = "\x1b[K";

std::mutex panelMutex;
PanelWriter panelWriter = nullptr;
PanelFigures shown;
size_t linesOnScreen = 0;
bool presenterInstalled = false;

// False when there is nowhere to draw.
bool writeOut(const std::string& text) {
    if (panelWriter != nullptr) {
        panelWriter(text.data(), text.size());
        return true;
    }
    if (!platform::standardErrorIsTerminal()) return false;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    return true;
}

int presentBelowPanel(const char* text, const char* caption, UINT type);

void takeBoxes() {
    if (presenterInstalled) return;
    platform::setMessageBoxPresenter(presentBelowPanel);
    presenterInstalled = true;
}

void giveBackBoxes() {
    if (!presenterInstalled) return;
    platform::setMessageBoxPresenter(nullptr);
    presenterInstalled = false;
}

// A box is written below the panel and stays readable: the panel is not
// rewritten over it, the next draw starts a new one below the box.
int presentBelowPanel(const char* text, const char* caption, UINT type) {
    {
        std::lock_guard<std::mutex> lock(panelMutex);
        if (linesOnScreen != 0) {
            // Wipes what the terminal echoed below the panel (a "^C").
            writeOut(std::string("\r") + kClearLine);
            linesOnScreen = 0;
        }
        giveBackBoxes();
    }
    int answer = MessageBoxA(nullptr, text, caption, type);
    std::lock_guard<std::mutex> lock(panelMutex);
    takeBoxes();
    return answer;
}

bool anyField(const PanelFigures& figures) {
    for (const std::string& field : figures.fields) {
        if (!field.empty()) return true;
    }
    return false;
}

std::string row(const char* label, const std::string& value) {
    char text[160];
    std::snprintf(text, sizeof text, "%-21s%12s", label, value.c_str());
    return text;
}

}  // namespace

std::vector<std::string> panelLines(const PanelFigures& f) {
    auto field = [&f](ProgressField which) -> const std::string& { return f.fields[which]; };
    std::vector<std::string> lines;
    lines.push_back(field(kTopLineField));
    lines.push_back("Actual                                 Virtual");
    lines.push_back("  " + row("Files Processed", field(kFilesProcessedField)) + "      " +
                    row("Files Processed", field(kVirtualFilesProcessedField)));
    lines.push_back("  " + row("Megabytes Processed", field(kMegabytesField)) + "      " +
                    row("Megabytes Processed", field(kVirtualMegabytesField)));
    lines.push_back("  " + row("Files Created", field(kFilesCreatedField)) + "      " +
                    row("Megabytes/Minute", field(kMegabytesPerMinuteField)));
    lines.push_back("  " + row("Files Deleted", field(kFilesDeletedField)) + "      " +
                    row("V-Compression Ratio", field(kCompressionRatioField)));
    lines.push_back("  " + row("Folders Created", field(kFoldersCreatedField)) + "    " +
                    row("Busy Files", field(kBusyFilesField)));
    lines.push_back("  " + row("Folders Deleted", field(kFoldersDeletedField)) + "    " +
                    row("Exception Files", field(kExceptionFilesField)));
    char delays[128];
    std::snprintf(delays, sizeof delays, "Delays  Open %d  Source %d  Target %d", f.delayOpen,
                  f.delaySource, f.delayTarget);
    char runTime[96];
    std::snprintf(runTime, sizeof runTime, "Run Time %14s", field(kRunTimeField).c_str());
    lines.push_back(std::string(runTime) + "    " + delays);
    return lines;
}

void drawProgressPanel(const PanelFigures& figures) {
    if (!anyField(figures)) return;
    std::lock_guard<std::mutex> lock(panelMutex);
    if (linesOnScreen != 0 && figures == shown) return;
    std::vector<std::string> lines = panelLines(figures);
    // Without wrapping a long path is cut at the edge instead of pushing the
    // lines below it down, which would break the rewrite in place.
    std::string out = kNoWrap;
    if (linesOnScreen != 0) out += "\x1b[" + std::to_string(linesOnScreen) + "A";
    // Each line from its first column: a question answered without a line
    // end leaves the cursor after its prompt.
    for (const std::string& line : lines) out += std::string("\r") + kClearLine + line + "\n";
    out += kClearToEnd;
    out += kWrap;
    if (!writeOut(out)) return;
    shown = figures;
    linesOnScreen = lines.size();
    takeBoxes();
}

void closeProgressPanel() {
    std::lock_guard<std::mutex> lock(panelMutex);
    giveBackBoxes();
    linesOnScreen = 0;
}

void setPanelWriter(PanelWriter writer) {
    std::lock_guard<std::mutex> lock(panelMutex);
    panelWriter = writer;
}
