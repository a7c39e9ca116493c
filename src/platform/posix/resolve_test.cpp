#include <gtest/gtest.h>
#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/posix/scratch_folder.h"
#include "platform/real_path.h"

namespace posix {
namespace {

std::string resolved(const std::string& path) {
    std::string result;
    return platform::resolvePath(path.c_str(), result) ? result : "<false>";
}

class ResolvePath : public testing::Test {
protected:
    void SetUp() override {
        scratch.folder("a");
        scratch.folder("a/b");
        scratch.file("a/file", "x");
        char buffer[PATH_MAX];
        // /tmp may itself be a link.
        ASSERT_NE(realpath(scratch.root().c_str(), buffer), nullptr);
        root = buffer;
    }
    ScratchFolder scratch;
    std::string root;
};

TEST_F(ResolvePath, DotsAndMissingPartsAreWorkedOutBelowTheLongestExistingFolder) {
    EXPECT_EQ(resolved(scratch.path("a/./b/../b/")), root + "/a/b");
    EXPECT_EQ(resolved(scratch.path("a//b/../../a")), root + "/a");
    EXPECT_EQ(resolved("/.."), "/");
    EXPECT_EQ(resolved(scratch.path("a/b/new/deeper")), root + "/a/b/new/deeper");
    // Climbing out of the missing part goes on from the real folder.
    EXPECT_EQ(resolved(scratch.path("a/new/x/../../b/c")), root + "/a/b/c");
    EXPECT_EQ(resolved(scratch.path("a/file/below")), root + "/a/file/below");
}

TEST_F(ResolvePath, LinksAreFollowedAndDotDotClimbsFromWhereTheyLead) {
    scratch.folder("elsewhere");
    scratch.link("elsewhere/to-b", "../a/b");
    scratch.link("absolute", root + "/a");
    scratch.link("first", "elsewhere/to-b");
    scratch.link("dangling", "a/not-yet");
    // Lexically elsewhere/to-b/.. would be elsewhere; physically it is a.
    EXPECT_EQ(resolved(scratch.path("elsewhere/to-b/..")), root + "/a");
    EXPECT_EQ(resolved(scratch.path("elsewhere/to-b/new/sub")), root + "/a/b/new/sub");
    EXPECT_EQ(resolved(scratch.path("absolute/b/../file")), root + "/a/file");
    EXPECT_EQ(resolved(scratch.path("first/x")), root + "/a/b/x");
    EXPECT_EQ(resolved(scratch.path("dangling/sub")), root + "/a/not-yet/sub");
}

TEST_F(ResolvePath, ALinkLoopStillEndsWithAPath) {
    scratch.link("loop1", "loop2");
    scratch.link("loop2", "loop1");
    std::string result = resolved(scratch.path("loop1/x"));
    EXPECT_EQ(result.rfind(root + "/loop", 0), 0u) << result;
    EXPECT_EQ(result.substr(result.size() - 2), "/x") << result;
}

TEST_F(ResolvePath, RelativePathsStartAtTheWorkingFolderAndEmptyOnesFail) {
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(scratch.path("a").c_str()), 0);
    std::string inside = resolved("b/../b/new");
    std::string parent = resolved("..");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(inside, root + "/a/b/new");
    EXPECT_EQ(parent, root);
    EXPECT_EQ(resolved(""), "<false>");
}

}  // namespace
}  // namespace posix
