// /verify compares the trees byte by byte and changes nothing.
#include <gtest/gtest.h>

#include "win32/e2e_support.h"

using namespace wintest;

namespace {
class WindowsVerify : public testing::Test, public KazRun {};
}  // namespace

TEST_F(WindowsVerify, OneChangedByteIsFoundAndNothingIsChanged) {
    buildSourceTree(source);
    ASSERT_EQ(mirror(), 0);
    std::string changed = target + "\\docs\\deep\\big.bin";
    FILETIME time = lastWriteTime(changed);
    std::string content = readFile(changed);
    content[content.size() / 2] ^= 0x20;
    writeFile(changed, content);
    setLastWriteTime(changed, time);
    std::string before = snapshot(target);

    // A difference found is work undone.
    ASSERT_EQ(mirror({"/verify"}), 2);
    EXPECT_EQ(snapshot(target), before);
    std::string text = logText();
    EXPECT_NE(text.find("KAZ will verify the following:\r\n"), std::string::npos) << text;
    std::string pair = source + "\\docs\\deep\\big.bin " + changed + "\r\n";
    EXPECT_NE(text.find(": KAZ - Error source and target not the same  : " + pair),
              std::string::npos)
        << text;
    EXPECT_EQ(statLine(text, ": Total files copied in error:"),
              ": Total files copied in error:  1\r\n");
}
