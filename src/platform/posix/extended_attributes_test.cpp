#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/extended_attributes.h"
#include "platform/fault_injection.h"
#include "platform/posix/scratch_folder.h"
#include "platform/windows_api.h"

namespace posix {
namespace {

using platform::faults::Call;
using platform::faults::Fault;

// The kernel's own form of an ACL: a version word, then (tag, permissions,
// id) entries sorted by tag.
std::string aclValue(uint16_t namedUserPermissions, uint16_t maskPermissions) {
    struct Entry {
        uint16_t tag, permissions;
        uint32_t id;
    };
    const Entry entries[] = {{0x01, 6, 0xFFFFFFFFu},
                             {0x02, namedUserPermissions, 65534},
                             {0x04, 4, 0xFFFFFFFFu},
                             {0x10, maskPermissions, 0xFFFFFFFFu},
                             {0x20, 0, 0xFFFFFFFFu}};
    std::string value("\x02\x00\x00\x00", 4);
    value.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return value;
}

std::string valueOf(const std::string& path, const char* name) {
    char buffer[512];
    ssize_t size = lgetxattr(path.c_str(), name, buffer, sizeof buffer);
    return size < 0 ? "<none>" : std::string(buffer, static_cast<size_t>(size));
}

bool setValue(const std::string& path, const char* name, const std::string& value) {
    return lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

HANDLE openItself(const std::string& path) {
    return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

platform::AttributeOutcome copyBetween(const std::string& source, const std::string& target) {
    HANDLE from = openItself(source);
    HANDLE to = openItself(target);
    EXPECT_NE(from, INVALID_HANDLE_VALUE);
    EXPECT_NE(to, INVALID_HANDLE_VALUE);
    platform::AttributeOutcome refused = platform::copyExtendedAttributes(from, to);
    CloseHandle(from);
    CloseHandle(to);
    return refused;
}

class ExtendedAttributes : public ::testing::Test {
protected:
    void SetUp() override {
        source = scratch.file("source", "data", 0640);
        target = scratch.file("target", "data", 0600);
        if (!setValue(source, "user.probe", "1"))
            GTEST_SKIP() << "the scratch file system takes no user attributes";
    }
    ScratchFolder scratch;
    std::string source, target;
};

TEST_F(ExtendedAttributes, CarriesUserAttributesAndTheAclAndRemovesWhatTheSourceLacks) {
    ASSERT_TRUE(setValue(source, "user.comment", std::string("a\0b", 3)));
    ASSERT_TRUE(setValue(source, "system.posix_acl_access", aclValue(4, 4)));
    ASSERT_TRUE(setValue(target, "user.gone", "old"));
    ASSERT_TRUE(setValue(target, "user.comment", "old"));

    EXPECT_FALSE(copyBetween(source, target).refused());
    EXPECT_FALSE(copyBetween(source, target).changed) << "a second copy finds nothing to do";

    EXPECT_EQ(valueOf(target, "user.comment"), std::string("a\0b", 3));
    EXPECT_EQ(valueOf(target, "user.probe"), "1");
    EXPECT_EQ(valueOf(target, "system.posix_acl_access"), valueOf(source, "system.posix_acl_access"));
    EXPECT_EQ(valueOf(target, "user.gone"), "<none>");
    struct stat status;
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u) << "the ACL gives the mode its group (mask) bits";
}

TEST_F(ExtendedAttributes, CarriesAFoldersDefaultAcl) {
    std::string from = scratch.folder("from", 0750), to = scratch.folder("to", 0700);
    ASSERT_TRUE(setValue(from, "system.posix_acl_default", aclValue(5, 5)));
    EXPECT_FALSE(copyBetween(from, to).refused());
    EXPECT_EQ(valueOf(to, "system.posix_acl_default"), valueOf(from, "system.posix_acl_default"));
}

TEST_F(ExtendedAttributes, ARefusedNameIsToldAndTheOthersStillArrive) {
    ASSERT_TRUE(setValue(source, "user.second", "2"));
    platform::AttributeOutcome refused;
    {
        platform::faults::Scope faults;
        platform::faults::arm(Fault(Call::SetExtendedAttribute, ERROR_NOT_SUPPORTED).onPath("target"));
        refused = copyBetween(source, target);
    }

    EXPECT_EQ(refused.code, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_TRUE(refused.name == "user.probe" || refused.name == "user.second") << refused.name;
    const bool oneArrived = valueOf(target, "user.probe") == "1" || valueOf(target, "user.second") == "2";
    EXPECT_TRUE(oneArrived) << "only the first set was refused";
}

TEST_F(ExtendedAttributes, ALinkCarriesNothingAndFailsNothing) {
    std::string link = scratch.link("link", "source");
    std::string linkCopy = scratch.link("linkCopy", "source");
    platform::AttributeOutcome outcome = copyBetween(link, linkCopy);
    EXPECT_FALSE(outcome.refused());
    EXPECT_FALSE(outcome.changed);
    EXPECT_EQ(valueOf(linkCopy, "user.probe"), "<none>");
}

TEST(StatusChangeTime, TheListingTellsWhenAnEntrysStatusChanged) {
    ScratchFolder scratch;
    std::string path = scratch.file("file", "x");
    struct stat status;
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(path.c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_EQ(platform::statusChangeTimeOf(entry),
              static_cast<uint64_t>(status.st_ctim.tv_sec) * 1000000000u +
                  static_cast<uint64_t>(status.st_ctim.tv_nsec));
}

}  // namespace
}  // namespace posix
