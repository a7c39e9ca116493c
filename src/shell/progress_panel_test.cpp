#include "shell/progress_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "platform/platform.h"

namespace {

std::string drawn;
void capture(const char* bytes, size_t count) { drawn.append(bytes, count); }

const std::regex kCursorUp("\x1b\\[[0-9]+A");

class Panel : public testing::Test {
protected:
    void SetUp() override {
        drawn.clear();
        setPanelWriter(capture);
    }
    void TearDown() override {
        closeProgressPanel();
        setPanelWriter(nullptr);
    }
    static PanelFigures sample() {
        PanelFigures f;
        const char* values[kProgressFieldCount] = {"     1:02:03", "/home/ann/report.doc", "11",
                                                   "21", "1.234", "5.678", "60.500", "4.60:1",
                                                   "31", "13", "15", "14", "16", "32"};
        for (int i = 0; i < kProgressFieldCount; ++i) f.fields[i] = values[i];
        f.delayOpen = 100;
        f.delaySource = -1;
        f.delayTarget = 250;
        return f;
    }
};

}  // namespace

TEST_F(Panel, EachFigureStandsByItsLabelWithinEightyColumns) {
    std::vector<std::string> lines = panelLines(sample());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    EXPECT_EQ(lines.front(), "/home/ann/report.doc");
    for (const char* pattern :
         {"\nActual +Virtual\n", "Files Processed +11 +Files Processed +21\n",
          "Megabytes Processed +1\\.234 +Megabytes Processed +5\\.678\n",
          "Files Created +13 +Megabytes/Minute +60\\.500\n",
          "Files Deleted +14 +V-Compression Ratio +4\\.60:1\n",
          "Folders Created +15 +Busy Files +31\n", "Folders Deleted +16 +Exception Files +32\n",
          "Run Time +1:02:03 +Delays +Open 100 +Source -1 +Target 250\n"}) {
        EXPECT_TRUE(std::regex_search(text, std::regex(pattern))) << pattern;
    }
    PanelFigures widest;
    for (std::string& field : widest.fields) field = "99999999.999";
    widest.fields[kRunTimeField] = "        59.999";
    widest.delayOpen = widest.delaySource = widest.delayTarget = 10000;
    lines = panelLines(widest);
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_LE(lines[i].size(), 80u) << lines[i];
}

TEST_F(Panel, RedrawsInPlaceOnlyWhenSomethingChanged) {
    drawProgressPanel(PanelFigures{});
    EXPECT_EQ(drawn, "");  // nothing before the first refresh
    PanelFigures f = sample();
    size_t height = panelLines(f).size();
    drawProgressPanel(f);
    EXPECT_FALSE(std::regex_search(drawn, kCursorUp));
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\n'), static_cast<long>(height));
    EXPECT_NE(drawn.find("\x1b[?7h"), std::string::npos);  // wrapping given back
    drawn.clear();
    drawProgressPanel(f);
    EXPECT_EQ(drawn, "");
    f.fields[kFilesProcessedField] = "12";
    drawProgressPanel(f);
    EXPECT_NE(drawn.find("\x1b[" + std::to_string(height) + "A"), std::string::npos);
    EXPECT_TRUE(std::regex_search(drawn, std::regex("Files Processed +12 ")));
}

TEST_F(Panel, MessageBoxGoesBelowAndIsNotOverwritten) {
    PanelFigures f = sample();
    drawProgressPanel(f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Program terminated due to Cancel", "KAZ - message", MB_OK),
              IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "KAZ - message\nProgram terminated due to Cancel\n");
    // The same figures again, as a new panel under the box.
    drawn.clear();
    drawProgressPanel(f);
    EXPECT_NE(drawn, "");
    EXPECT_FALSE(std::regex_search(drawn, kCursorUp));
    // Once closed, boxes are plain again and a new panel starts afresh.
    closeProgressPanel();
    drawn.clear();
    testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "text", "KAZ", MB_OK);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(drawn, "");
    drawProgressPanel(f);
    EXPECT_FALSE(std::regex_search(drawn, kCursorUp));
}

TEST_F(Panel, WithoutATerminalNothingIsDrawn) {
    setPanelWriter(nullptr);
    testing::internal::CaptureStderr();
    drawProgressPanel(sample());
    MessageBoxA(nullptr, "text", "KAZ", MB_OK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "KAZ\ntext\n");
}
