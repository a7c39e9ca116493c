#include "engine/reference_folder.h"

#include <gtest/gtest.h>

#include "platform/conventions.h"

namespace {

std::string withSeparators(std::string path) {
    for (char& c : path)
        if (c == '/') c = platform::kPathSeparator;
    return path;
}

TEST(ReferenceFolder, ShortcutNamesFollowTheFolderTheListingWasTakenFrom) {
    EXPECT_EQ(referenceFolderOf(withSeparators("@/srv/links").c_str()),
              withSeparators("/srv/links/"));
    EXPECT_EQ(referenceFolderOf(withSeparators("@/srv/links/").c_str()),
              withSeparators("/srv/links/"));
    EXPECT_EQ(referenceFolderOf("@links"), withSeparators("links/"));
    // A bare "@" lists the root; its names are the root's, not the current
    // folder's.
    EXPECT_EQ(referenceFolderOf("@"), withSeparators("/"));
}

}  // namespace
