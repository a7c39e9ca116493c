#include "engine/exclude_filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/conventions.h"
#include "platform/windows_api.h"
#include "report/run_state.h"
#include "test_support.h"

namespace {

// Texts are written with '/' and turned into the platform's separator.
std::string native(std::string text) {
    for (char& c : text) {
        if (c == '/') c = platform::kPathSeparator;
    }
    return text;
}

WIN32_FIND_DATAA entry(const char* name, bool folder) {
    WIN32_FIND_DATAA data{};
    data.dwFileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    std::strncpy(data.cFileName, name, sizeof data.cFileName - 1);
    return data;
}

class IsExcludedTest : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override { resetRunState(); }

    static void filters(std::initializer_list<const char*> texts) {
        for (const char* text : texts) addExcludeFilter(native(text).c_str());
    }
    static int file(const char* folder, const char* name) {
        return isExcluded(native(folder).c_str(), entry(name, false));
    }
    static int folder(const char* folder, const char* name) {
        return isExcluded(native(folder).c_str(), entry(name, true));
    }
};

TEST_F(IsExcludedTest, WithoutFiltersNothingIsExcludedOrCounted) {
    EXPECT_EQ(file("/src/", "a.tmp"), 0);
    EXPECT_EQ(folder("/src/", "tmp"), 0);
    EXPECT_EQ(runState.totalFilesExcluded, 0);
    EXPECT_EQ(runState.totalFilesConsidered, 0);
}

TEST_F(IsExcludedTest, EachExcludedEntryCountsOnceAsExcludedAndConsidered) {
    filters({"*.tmp", "a*"});
    EXPECT_EQ(file("/src/", "a.tmp"), 1);  // both filters match; counted once
    EXPECT_EQ(file("/src/", "b.tmp"), 1);
    EXPECT_EQ(file("/src/", "b.txt"), 0);
    EXPECT_EQ(runState.totalFilesExcluded, 2);
    EXPECT_EQ(runState.totalFilesConsidered, 2);
}

TEST_F(IsExcludedTest, LaterFilterExcludesWhenEarlierOnesDoNot) {
    filters({"*.bak", "~*"});
    EXPECT_EQ(file("/src/", "~draft"), 1);
    EXPECT_EQ(file("/src/", "draft"), 0);
}

TEST_F(IsExcludedTest, PlainPatternTakesFilesButNeverFolders) {
    filters({"*.tmp"});
    EXPECT_EQ(file("/src/", "a.TMP"), 1);
    EXPECT_EQ(folder("/src/", "x.tmp"), 0);
    EXPECT_EQ(runState.totalFilesExcluded, 1);
}

TEST_F(IsExcludedTest, ThreeLetterExtensionTakesLongerOnesInFilters) {
    filters({"*.htm"});
    EXPECT_EQ(file("/site/", "page.htm"), 1);
    EXPECT_EQ(file("/site/", "page.html"), 1);
    resetRunState();
    filters({"*.ht"});
    EXPECT_EQ(file("/site/", "page.ht"), 1);
    EXPECT_EQ(file("/site/", "page.htm"), 0);
    EXPECT_EQ(file("/site/", "page.html"), 0);
}

TEST_F(IsExcludedTest, EmptyFilterExcludesNothing) {
    filters({""});
    EXPECT_EQ(file("/src/", "a"), 0);
    EXPECT_EQ(folder("/src/", "a"), 0);
}

TEST_F(IsExcludedTest, RelativeFilterComparesTheLastFoldersOfThePath) {
    filters({"sub/*.obj"});
    EXPECT_EQ(file("/src/sub/", "a.obj"), 1);
    EXPECT_EQ(file("/src/sub/", "a.c"), 0);
    EXPECT_EQ(file("/src/other/", "a.obj"), 0);
    EXPECT_EQ(file("/sub/deeper/", "a.obj"), 0);
    resetRunState();
    filters({"x/sub/*.obj"});
    EXPECT_EQ(file("/src/sub/", "a.obj"), 0);
    EXPECT_EQ(file("/x/sub/", "a.obj"), 1);
    resetRunState();
    filters({"src/sub/*.obj"});
    EXPECT_EQ(file("/src/sub/", "a.obj"), 1);
    EXPECT_EQ(file("/top/src/sub/", "a.obj"), 1);
}

TEST_F(IsExcludedTest, RelativeFilterWithMoreFoldersThanThePathDoesNotApply) {
    filters({"a/src/sub/*.obj"});
    EXPECT_EQ(file("/src/sub/", "a.obj"), 0);
    EXPECT_EQ(file("/a/src/sub/", "a.obj"), 1);
}

TEST_F(IsExcludedTest, RootedFilterNeedsThePathFromTheRoot) {
    filters({"/src/sub/*.obj"});
    EXPECT_EQ(file("/src/sub/", "a.obj"), 1);
    EXPECT_EQ(file("/top/src/sub/", "a.obj"), 0);
    EXPECT_EQ(file("/src/", "a.obj"), 0);
    resetRunState();
    filters({"/sub/*.obj"});
    EXPECT_EQ(file("/src/sub/", "a.obj"), 0);
    EXPECT_EQ(file("/sub/", "a.obj"), 1);
}

TEST_F(IsExcludedTest, RootedFilterWithoutFoldersAppliesInTheRootOnly) {
    filters({"/core"});
    EXPECT_EQ(file("/", "core"), 1);
    EXPECT_EQ(folder("/", "core"), 1);
    EXPECT_EQ(file("/src/", "core"), 0);
}

TEST_F(IsExcludedTest, TrailingSeparatorTakesEverythingInsideButNotTheFolder) {
    filters({"tmp/"});
    EXPECT_EQ(folder("/a/", "tmp"), 0);
    EXPECT_EQ(file("/a/tmp/", "x.c"), 1);
    EXPECT_EQ(folder("/a/tmp/", "deeper"), 1);
    EXPECT_EQ(file("/a/tmp/deeper/", "x.c"), 0);
    EXPECT_EQ(file("/", "x.c"), 0);
}

TEST_F(IsExcludedTest, FolderFilterTakesTheNamedEntryFileOrFolder) {
    filters({"src/tmp"});
    EXPECT_EQ(folder("/src/", "tmp"), 1);
    EXPECT_EQ(file("/x/src/", "tmp"), 1);
    EXPECT_EQ(file("/x/src/", "tmp2"), 0);
    EXPECT_EQ(folder("/other/", "tmp"), 0);
}

TEST_F(IsExcludedTest, FolderPartsUseWildcardsAndIgnoreCase) {
    filters({"S?C/B*/*.OBJ"});
    EXPECT_EQ(file("/top/src/build/", "main.obj"), 1);
    EXPECT_EQ(file("/top/src/bin/", "Main.Obj"), 1);
    EXPECT_EQ(file("/top/srcx/build/", "main.obj"), 0);
    EXPECT_EQ(file("/top/src/out/", "main.obj"), 0);
}

TEST_F(IsExcludedTest, DrivePrefixIsSkippedOnlyWhereDrivesExist) {
    filters({"/src/sub/*.obj", "/D:/src/sub/*.h"});
    // Without drives, "D:" is the first folder name of the path.
    EXPECT_EQ(file("D:/src/sub/", "a.obj"), platform::kDriveLetters ? 1 : 0);
    EXPECT_EQ(file("D:/src/sub/", "a.h"), platform::kDriveLetters ? 0 : 1);
}

}  // namespace
