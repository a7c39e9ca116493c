#include "engine/link_groups.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "engine/search_pattern.h"
#include "platform/name_lookup.h"
#include "platform/windows_api.h"
#include "test_support.h"

namespace {

class LinkGroupsTest : public testing::Test {
protected:
    void SetUp() override { forgetLinkGroups(); }
    void TearDown() override { forgetLinkGroups(); }

    WIN32_FIND_DATAA entry(const std::string& name) {
        WIN32_FIND_DATAA found{};
        EXPECT_TRUE(platform::lookUpName((dir / name).c_str(), &found)) << name;
        return found;
    }
    std::string file(const std::string& name) {
        writeFile(dir / name, name);
        return dir / name;
    }
    void link(const std::string& existing, const std::string& name) {
        ASSERT_EQ(::link((dir / existing).c_str(), (dir / name).c_str()), 0);
    }
    // The identity a source listing notes for the file of that name.
    FileIdentity identity(const std::string& name) {
        FolderLinks links;
        links.note(7, entry(name));
        const FileIdentity* noted = links.find(7);
        EXPECT_NE(noted, nullptr) << name;
        return noted != nullptr ? *noted : FileIdentity{};
    }
    bool linkedAsSource(const FileIdentity* source, const std::string& targetName) {
        return ::linkedAsSource(source, folder, entry(targetName));
    }

    TempDir dir;
    SearchPattern folder{(dir.path() + "/*.*").c_str(), 1};
};

TEST_F(LinkGroupsTest, OnlyPlainFilesWithOtherNamesAreNoted) {
    file("single");
    file("linked");
    link("linked", "other name");
    ASSERT_EQ(::symlink("linked", (dir / "symbolic").c_str()), 0);
    FolderLinks links;
    links.note(10, entry("single"));
    links.note(20, entry("linked"));
    links.note(30, entry("symbolic"));
    links.note(40, entry("other name"));
    EXPECT_EQ(links.find(10), nullptr);
    EXPECT_EQ(links.find(30), nullptr);
    ASSERT_NE(links.find(20), nullptr);
    ASSERT_NE(links.find(40), nullptr);
    EXPECT_EQ(*links.find(20), *links.find(40));
    EXPECT_EQ(links.find(25), nullptr);
}

TEST_F(LinkGroupsTest, TargetNamesOfOneFileMustBelongToOneSourceFile) {
    // Target: t1 and t2 one file; source: two files of one name each.
    file("t1");
    link("t1", "t2");
    file("lone");
    EXPECT_TRUE(linkedAsSource(nullptr, "lone"));
    EXPECT_TRUE(linkedAsSource(nullptr, "t1"));
    EXPECT_FALSE(linkedAsSource(nullptr, "t2"));
}

TEST_F(LinkGroupsTest, AGroupsTargetNamesMustAllBeItsFirstCopy) {
    file("s");
    link("s", "s2");
    const FileIdentity source = identity("s");
    file("first");
    file("separate");
    link("first", "linked");
    EXPECT_TRUE(linkedAsSource(&source, "first"));
    EXPECT_TRUE(linkedAsSource(&source, "linked"));
    EXPECT_FALSE(linkedAsSource(&source, "separate"));
}

TEST_F(LinkGroupsTest, ATargetFileClaimedByAnotherSourceFileIsNoGroupsCopy) {
    file("s");
    link("s", "s2");
    const FileIdentity source = identity("s");
    file("shared");
    link("shared", "shared too");
    EXPECT_TRUE(linkedAsSource(nullptr, "shared"));
    EXPECT_FALSE(linkedAsSource(&source, "shared too"));
    // Not taken as the group's copy either: the group's next name is not
    // linked to it.
    file("elsewhere");
    EXPECT_TRUE(linkedAsSource(&source, "elsewhere"));
}

}  // namespace
