// Backing up and restoring the folders of a reference folder end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

void makeFolder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

std::string shellQuoted(const std::string& path) { return "'" + path + "'"; }

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string hostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    std::string host = name;
    return host.substr(0, host.find('.'));
}

void expectIdentical(const std::string& a, const std::string& b) {
    int status = -1;
    std::string diff = shell("diff -r --no-dereference " + shellQuoted(a) + " " + shellQuoted(b),
                             &status);
    EXPECT_EQ(status, 0) << a << " against " << b << "\n" << diff;
}

// Two linked folders (one by an absolute link, one by a relative link), and
// a link to a file, a text file and a subfolder that are not shortcuts.
class ReferenceTest : public testing::Test {
protected:
    void SetUp() override {
        real = std::filesystem::canonical(dir.path()).string();
        makeFolder(data1);
        makeFolder(data1 + "/sub");
        makeFolder(data1 + "/sub/empty");
        writeFile(data1 + "/a.txt", "alpha\n");
        writeFile(data1 + "/name with blanks", "blanks\n");
        writeFile(data1 + "/sub/b.txt", std::string(200000, 'b'));
        makeFolder(data2);
        writeFile(data2 + "/c.txt", "gamma\n");
        makeFolder(reference);
        ::symlink(data1.c_str(), (reference + "/first").c_str());
        ::symlink("../data2", (reference + "/second").c_str());
        ::symlink((data1 + "/a.txt").c_str(), (reference + "/to-a-file").c_str());
        writeFile(reference + "/note.txt", "not a shortcut\n");
        makeFolder(reference + "/folder");
    }

    TempDir dir;
    std::string real;
    std::string data1 = dir / "data1";
    std::string data2 = dir / "data2";
    std::string reference = dir / "ref";
    std::string backup = dir / "backup";
    std::string log = dir / "run.log";
};

}  // namespace

TEST_F(ReferenceTest, BackupMirrorsEveryLinkedFolderUnderTheMachineName) {
    RunResult r = runKaz({"@" + reference, backup, log, "-nowarn"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string machine = backup + "/" + hostName();
    expectIdentical(data1, machine + real + "/data1");
    expectIdentical(data2, machine + real + "/data2");
    std::string text = readFile(log);
    EXPECT_NE(text.find("Source: @" + reference + "\r\n"), std::string::npos) << text;
    for (const char* other : {"/to-a-file", "/note.txt", "/folder"}) {
        EXPECT_NE(text.find(": Unknown ShortCut in Reference folder\r\n:     " + reference + other +
                            "\r\n"),
                  std::string::npos)
            << other << "\n"
            << text;
    }
    EXPECT_EQ(count(text, "Unknown ShortCut"), 3);
    // The counters of both folders add up in one report.
    EXPECT_NE(text.find(": Total files copied:           4\r\n"), std::string::npos) << text;
}

TEST_F(ReferenceTest, NouncLeavesTheMachineNameOut) {
    RunResult r = runKaz({"@" + reference, backup, log, "-nowarn", "-nounc"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIdentical(data1, backup + real + "/data1");
    expectIdentical(data2, backup + real + "/data2");
    EXPECT_FALSE(fileExists(backup + "/" + hostName()));
}

TEST_F(ReferenceTest, RestoreBringsChangedFoldersBackToTheBackup) {
    ASSERT_EQ(runKaz({"@" + reference, backup, "-nowarn"}).exitCode, 0);
    std::string saved = dir / "saved";
    shell("cp -a " + shellQuoted(data1) + " " + shellQuoted(saved));
    writeFile(data1 + "/a.txt", "changed after the backup\n");
    writeFile(data1 + "/new.txt", "made after the backup\n");
    ::unlink((data1 + "/name with blanks").c_str());
    shell("rm -rf " + shellQuoted(data1 + "/sub"));
    ::unlink((data2 + "/c.txt").c_str());

    RunResult r = runKaz({backup, "@" + reference, "-nowarn"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIdentical(saved, data1);
    EXPECT_EQ(readFile(data2 + "/c.txt"), "gamma\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(ReferenceTest, EmptyReferenceFolderRunsNoWalk) {
    std::string empty = dir / "empty-ref";
    makeFolder(empty);
    RunResult r = runKaz({"@" + empty, backup, log, "-nowarn"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fileExists(backup));
    std::string text = readFile(log);
    EXPECT_NE(text.find(":-------- File Copy List --------\r\n:-------- End of File Copy List "
                        "--------\r\n"),
              std::string::npos)
        << text;
    for (const char* line : {": Total directories created:    0\r\n",
                             ": Total files considered:       0\r\n",
                             ": Total files copied:           0\r\n",
                             ": Total bytes copied:           0\r\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_NE(text.find(":None - Source and Target synchronized.\r\n"), std::string::npos);
}

TEST_F(ReferenceTest, BackupInsideALinkedFolderIsRefused) {
    std::string inside = data1 + "/backup";
    RunResult r = runKaz({"@" + reference, inside, "-nowarn"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Error, destination is subdirectory of source."), std::string::npos)
        << r.err;
    EXPECT_FALSE(fileExists(inside));
}

TEST_F(ReferenceTest, RestoreFromABackupWithoutTheFolderLeavesItAlone) {
    makeFolder(backup);
    std::string before = shell("ls -lR " + shellQuoted(data1) + " " + shellQuoted(data2));
    RunResult r = runKaz({backup, "@" + reference, "-nowarn"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Error in source path (" + backup + "/"), std::string::npos) << r.err;
    EXPECT_EQ(shell("ls -lR " + shellQuoted(data1) + " " + shellQuoted(data2)), before);
}
