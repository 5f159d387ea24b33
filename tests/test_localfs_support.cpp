// The folder services and the texts of the local operation dialogs.
#include "localfs/lfs_support.h"
#include "tests/test_localfs_fixture.h"

namespace qb::test {
namespace {

TEST(LocalFolderServices, EnsureLocalFolder) {
    struct Case {
        const char* name;
        const char* path;
        bool ok;
        std::vector<std::string> created;
    };
    const Case cases[] = {
        {"existing folder", "have", true, {}},
        {"link to a folder", "link", true, {}},
        {"missing folder", "have/new", true, {"have/new"}},
        {"missing parents too", "a/b/c", true, {"a", "a/b", "a/b/c"}},
        {"existing file", "file", false, {}},
        {"below a file", "file/x/y", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("have");
        t.File("file", "f");
        t.Link("link", t.Path("have"));
        ScriptedUser user;
        EXPECT_EQ(EnsureLocalFolder(t.Path(c.path), &user), c.ok);
        std::multiset<std::string> expected;
        for (const auto& rel : c.created) {
            expected.insert("FolderCreated " + t.Path(rel));
            EXPECT_TRUE(S_ISDIR(t.Stat(rel).st_mode)) << rel;
        }
        EXPECT_EQ(user.Events(), expected);
    }
}

TEST(LocalFolderServices, CreateLocalFolderPathStopsAtAFile) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.File("file", "f");
    ScriptedUser user;
    EXPECT_TRUE(CreateLocalFolderPath(t.Path("x//y/"), &user));
    EXPECT_TRUE(S_ISDIR(t.Stat("x/y").st_mode));
    EXPECT_FALSE(CreateLocalFolderPath(t.Path("file/z"), &user));
    EXPECT_FALSE(CreateLocalFolderPath("/", &user));
    EXPECT_EQ(user.Events(), (std::multiset<std::string>{"FolderCreated " + t.Path("x"),
                                                         "FolderCreated " + t.Path("x/y")}));
}

TEST(LocalFolderServices, DeleteAndRemoveNotifyOnlyWhatWasDone) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.File("f", "f");
    t.Dir("empty");
    t.Dir("full");
    t.File("full/x", "x");
    t.Dir("target");
    t.Link("link", t.Path("target"));
    ScriptedUser user;
    EXPECT_TRUE(DeleteLocalFile(t.Path("f"), &user));
    EXPECT_FALSE(DeleteLocalFile(t.Path("f"), &user));
    EXPECT_TRUE(DeleteLocalFile(t.Path("link"), &user));
    EXPECT_TRUE(RemoveLocalFolder(t.Path("empty"), &user));
    EXPECT_FALSE(RemoveLocalFolder(t.Path("full"), &user));
    EXPECT_TRUE(t.Exists("target"));
    EXPECT_EQ(user.Events(), (std::multiset<std::string>{"FileDeleted " + t.Path("f"),
                                                         "FileDeleted " + t.Path("link"),
                                                         "FolderDeleted " + t.Path("empty")}));
}

TEST(LocalOperationTexts, SizesAndReplaceLines) {
    struct Case {
        FileSize size;
        const char* text;
    };
    for (const Case& c : {Case{0, "0"}, Case{999, "999"}, Case{1000, "1,000"},
                          Case{1234567, "1,234,567"}, Case{4294967296ULL, "4,294,967,296"}}) {
        EXPECT_EQ(lfs::GroupThousands(c.size), c.text);
    }
    auto lines = lfs::ReplaceGroupLines("/a/b", 12345, 0);
    EXPECT_EQ(lines[0], "/a/b");
    EXPECT_EQ(lines[1], "Size : 12,345 Bytes");
    EXPECT_EQ(lines[2].rfind("Modified : ", 0), 0u);
    EXPECT_GT(lines[2].size(), std::string("Modified : ").size());
    // A path is put in literally, even one that looks like a format.
    EXPECT_EQ(lfs::FormatPath(lfs::kFailedDeleteFile, "/x/%s%d"), "Failed to delete file\n/x/%s%d");
}

TEST(LocalOperationTexts, DialogAnswersForUnfilledOrCancelledQuestions) {
    CLFSData data;
    ScriptedUser user;
    // A replace question without statuses closes at once with Cancel.
    EXPECT_EQ(AnswerAskReplace(data, &user), lfs::REPLACE_CANCEL);
    EXPECT_TRUE(user.ReplaceQuestions().empty());
    // An empty error text is not shown.
    EXPECT_EQ(AnswerShowError(data, &user), IDCANCEL);
    EXPECT_TRUE(user.Messages().empty());
}

} // namespace
} // namespace qb::test
