// The local delete, copy and move workers on a real file system.
#include "localfs/lfs_operation.h"
#include "tests/test_localfs_fixture.h"

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <dlfcn.h>
#include <sys/resource.h>

namespace {

// Renames from one folder into another fail as if the two were on
// different file systems while this is set (the worker is not running when
// it changes).
struct {
    bool on = false;
    std::string from;
    std::string to;
} g_crossDevice;

} // namespace

// Stands in for the C library's rename for the whole test program.
extern "C" int rename(const char* from, const char* to) noexcept {
    using RenameFn = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<RenameFn>(::dlsym(RTLD_NEXT, "rename"));
    if (g_crossDevice.on && std::string_view(from).starts_with(g_crossDevice.from) &&
        std::string_view(to).starts_with(g_crossDevice.to)) {
        errno = EXDEV;
        return -1;
    }
    return real(from, to);
}

namespace qb::test {
namespace {

CLFSFile FileItem(const std::string& path) {
    return CLFSFile(path, CLFSFile::KIND_FILE);
}
CLFSFile FolderItem(const std::string& path) {
    return CLFSFile(path, CLFSFile::KIND_FOLDER);
}

// Answers on the worker's own thread, as a console front end does, and
// hands each display refresh to `onDisplay`.
class InlineDialog : public CLFSInlineDialog {
public:
    using DisplayHook = std::function<void(CLFSData&, const CLFSDisplay&)>;
    InlineDialog(CLFSData& data, ScriptedUser& user, DisplayHook onDisplay)
        : CLFSInlineDialog(data, &user, &user), m_onDisplay(std::move(onDisplay)) {}

protected:
    void OnDisplay(const CLFSDisplay& shown) override {
        if (m_onDisplay) {
            m_onDisplay(m_data, shown);
        }
    }

private:
    DisplayHook m_onDisplay;
};

struct CopyJob {
    bool move = false;
    std::string sourceFolder;
    std::vector<CLFSFile> items;
    std::string destFolder;
    std::function<void(CLFSData&)> tune = {};
    InlineDialog::DisplayHook onDisplay = {};
};

int RunCopy(ScriptedUser& user, const CopyJob& job) {
    CLFSOperation op(CLFSOperation::Kind::CopyMove);
    CLFSData& data = op.Data();
    data.m_bMove = job.move;
    data.m_fileSourceFolder.m_strPath = job.sourceFolder;
    data.m_fileDestFolder.m_strPath = job.destFolder;
    for (const auto& item : job.items) {
        data.m_arrSource.Add(item);
    }
    data.m_pNotifier = &user;
    if (job.tune) {
        job.tune(data);
    }
    InlineDialog dialog(data, user, job.onDisplay);
    data.SetVisible();
    op.Start(dialog);
    return op.Wait();
}

int RunDelete(ScriptedUser& user, const std::vector<CLFSFile>& items) {
    CLFSOperation op(CLFSOperation::Kind::Delete);
    for (const auto& item : items) {
        op.Data().m_arrSource.Add(item);
    }
    op.Data().m_pNotifier = &user;
    InlineDialog dialog(op.Data(), user, {});
    op.Start(dialog);
    return op.Wait();
}

// Makes renames from `from` into `to` fail with EXDEV while alive.
class CrossDevice {
public:
    CrossDevice(const std::string& from, const std::string& to) {
        g_crossDevice = {true, from, to};
    }
    ~CrossDevice() { g_crossDevice = {}; }
    CrossDevice(const CrossDevice&) = delete;
    CrossDevice& operator=(const CrossDevice&) = delete;
};

std::string Blob(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xff);
    }
    return data;
}

// ---------------------------------------------------------------------------
// Delete

TEST(LocalDelete, RemovesReadOnlyTreesAndNeverFollowsLinks) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    AsOrdinaryUser(t.Root(), [&] {
        t.Dir("outside");
        t.File("outside/keep", "k");
        t.Dir("outside/dir");
        t.File("outside/dir/keep2", "k2");
        t.Dir("root");
        t.File("root/a", "a", 0444);
        t.Dir("root/sub");
        t.File("root/sub/b", "b", 0444);
        t.Dir("root/sub/deep");
        t.File("root/sub/deep/c", "c", 0400);
        t.Link("root/sub/to-file", t.Path("outside/keep"));
        t.Link("root/to-dir", t.Path("outside/dir"));
        t.Link("chosen-link", t.Path("outside/dir"));
        ::chmod(t.Path("root/sub/deep").c_str(), 0500);
        ::chmod(t.Path("root/sub").c_str(), 0555);
        ::chmod(t.Path("root").c_str(), 0555);

        ScriptedUser user;
        EXPECT_EQ(RunDelete(user, {FolderItem(t.Path("root")), FolderItem(t.Path("chosen-link"))}),
                  IDOK);

        EXPECT_FALSE(t.Exists("root"));
        EXPECT_FALSE(t.Exists("chosen-link"));
        EXPECT_EQ(t.Read("outside/keep"), "k");
        EXPECT_EQ(t.Read("outside/dir/keep2"), "k2");
        EXPECT_TRUE(user.Messages().empty());
        std::multiset<std::string> expected{
            "FileDeleted " + t.Path("root/a"),          "FileDeleted " + t.Path("root/to-dir"),
            "FileDeleted " + t.Path("root/sub/b"),      "FileDeleted " + t.Path("root/sub/to-file"),
            "FileDeleted " + t.Path("root/sub/deep/c"), "FolderDeleted " + t.Path("root/sub/deep"),
            "FolderDeleted " + t.Path("root/sub"),      "FolderDeleted " + t.Path("root"),
            "FolderDeleted " + t.Path("chosen-link"),
        };
        EXPECT_EQ(user.Events(), expected);
    });
}

TEST(LocalDelete, FailedFileAsksOkToGoOnCancelToStop) {
    struct Case {
        int answer;
        int result;
        bool laterDeleted;
    };
    for (const Case& c : {Case{IDOK, IDOK, true}, Case{IDCANCEL, IDCANCEL, false}}) {
        SCOPED_TRACE(c.answer);
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.File("a", "a");
        t.File("b", "b");
        ScriptedUser user;
        user.messageAnswers = {c.answer};
        int result = RunDelete(
            user, {FileItem(t.Path("a")), FileItem(t.Path("missing")), FileItem(t.Path("b"))});
        EXPECT_EQ(result, c.result);
        EXPECT_FALSE(t.Exists("a"));
        EXPECT_EQ(t.Exists("b"), !c.laterDeleted);
        auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, "Failed to delete file\n" + t.Path("missing"));
        EXPECT_EQ(messages[0].style, 17u);
    }
}

TEST(LocalDelete, FolderLeftNonEmptyIsReportedAndTheNextItemStillGoes) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.Dir("tree");
    t.Dir("tree/sub");
    t.File("tree/sub/stuck", "s");
    t.File("tree/sub/gone", "g");
    t.File("next", "n");
    if (!t.MakeUndeletable("tree/sub/stuck")) {
        GTEST_SKIP() << "needs root to make a file that cannot be deleted";
    }
    ScriptedUser user;
    EXPECT_EQ(RunDelete(user, {FolderItem(t.Path("tree")), FileItem(t.Path("next"))}), IDOK);

    auto messages = user.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Failed to delete file\n" + t.Path("tree/sub/stuck"));
    EXPECT_EQ(messages[0].style, 17u);
    EXPECT_EQ(messages[1].text, "Failed to delete folder\n" + t.Path("tree/sub"));
    EXPECT_EQ(messages[1].style, 16u);
    EXPECT_FALSE(t.Exists("tree/sub/gone"));
    EXPECT_TRUE(t.Exists("tree/sub/stuck"));
    EXPECT_FALSE(t.Exists("next"));
}

// ---------------------------------------------------------------------------
// Copy and move

TEST(LocalCopy, ReplaceQuestionAnswers) {
    using Files = std::map<std::string, std::string>;
    struct Case {
        const char* name;
        bool move;
        std::map<std::string, int> answers;
        std::size_t questions; // 0: not checked
        int result;
        Files dest;                      // expected in dest/d (all three)
        std::vector<std::string> source; // left in src/d
    };
    const Files allNew{{"f1", "new1"}, {"f2", "new2"}, {"f3", "new3"}};
    const Case cases[] = {
        {"yes to all asks once",
         false,
         {{"f1", lfs::REPLACE_YES_TO_ALL},
          {"f2", lfs::REPLACE_YES_TO_ALL},
          {"f3", lfs::REPLACE_YES_TO_ALL}},
         1,
         IDOK,
         allNew,
         {"f1", "f2", "f3"}},
        {"no keeps both files",
         false,
         {{"f2", lfs::REPLACE_NO}},
         3,
         IDOK,
         {{"f1", "new1"}, {"f2", "old2"}, {"f3", "new3"}},
         {"f1", "f2", "f3"}},
        {"no in a move keeps the source and its folder",
         true,
         {{"f2", lfs::REPLACE_NO}},
         3,
         IDOK,
         {{"f1", "new1"}, {"f2", "old2"}, {"f3", "new3"}},
         {"f2"}},
        {"yes to all in a move",
         true,
         {{"f1", lfs::REPLACE_YES_TO_ALL},
          {"f2", lfs::REPLACE_YES_TO_ALL},
          {"f3", lfs::REPLACE_YES_TO_ALL}},
         1,
         IDOK,
         allNew,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("src");
        t.Dir("src/d");
        t.Dir("dst");
        t.Dir("dst/d");
        for (int i = 1; i <= 3; ++i) {
            std::string n = std::to_string(i);
            t.File("src/d/f" + n, "new" + n);
            t.File("dst/d/f" + n, "old" + n);
        }
        ScriptedUser user;
        user.replaceAnswers = c.answers;
        EXPECT_EQ(
            RunCopy(user, {c.move, t.Path("src"), {FolderItem(t.Path("src/d"))}, t.Path("dst")}),
            c.result);
        if (c.questions) {
            EXPECT_EQ(user.ReplaceQuestions().size(), c.questions);
        }
        for (const auto& [name, content] : c.dest) {
            EXPECT_EQ(t.Read("dst/d/" + name), content) << name;
        }
        EXPECT_EQ(t.List("dst/d"), (std::vector<std::string>{"f1", "f2", "f3"}));
        if (c.move && c.source.empty()) {
            EXPECT_FALSE(t.Exists("src/d"));
        } else {
            EXPECT_EQ(t.List("src/d"), c.source);
        }
    }
}

TEST(LocalCopy, ReplaceQuestionShowsBothFilesAndCancelStops) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.Dir("src");
    t.Dir("dst");
    t.File("src/a", "12345");
    t.File("dst/a", "old");
    t.File("src/b", "b");
    ScriptedUser user;
    user.replaceAnswers = {{"a", lfs::REPLACE_CANCEL}};
    EXPECT_EQ(RunCopy(user, {false,
                             t.Path("src"),
                             {FileItem(t.Path("src/a")), FileItem(t.Path("src/b"))},
                             t.Path("dst")}),
              IDCANCEL);
    auto questions = user.ReplaceQuestions();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].m_bFilled);
    EXPECT_EQ(questions[0].m_existing.m_strFullName, t.Path("dst/a"));
    EXPECT_EQ(questions[0].m_existing.m_nSize, 3u);
    EXPECT_EQ(questions[0].m_with.m_strFullName, t.Path("src/a"));
    EXPECT_EQ(questions[0].m_with.m_nSize, 5u);
    EXPECT_EQ(t.Read("dst/a"), "old");
    EXPECT_FALSE(t.Exists("dst/b"));
}

TEST(LocalCopy, KeepsContentPermissionsAndModificationTime) {
    struct Case {
        std::size_t size;
        mode_t mode;
    };
    constexpr std::size_t kBlock = 64 * 1024;
    for (const Case& c : {Case{0, 0644}, Case{1, 0444}, Case{kBlock, 0750}, Case{kBlock + 1, 0600},
                          Case{3 * kBlock * 16 + 7, 0640}}) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes");
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("src");
        t.Dir("dst");
        std::string content = Blob(c.size, 1);
        t.File("src/f", content, c.mode);
        struct timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 123'456'789}};
        ASSERT_EQ(::utimensat(AT_FDCWD, t.Path("src/f").c_str(), times, 0), 0);

        ScriptedUser user;
        EXPECT_EQ(RunCopy(user, {false,
                                 t.Path("src"),
                                 {FileItem(t.Path("src/f"))},
                                 t.Path("dst"),
                                 [&](CLFSData& d) { d.m_nBlockSize = kBlock; },
                                 {}}),
                  IDOK);
        EXPECT_TRUE(t.Read("dst/f") == content);
        struct stat st = t.Stat("dst/f");
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(st.st_mtim.tv_sec, 1'000'000'000);
        EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'789);
        EXPECT_EQ(t.List("dst"), std::vector<std::string>{"f"});
        EXPECT_EQ(user.Events(), std::multiset<std::string>{"FileCreated " + t.Path("dst/f")});
    }
}

// Kernel files report no length but have content: they are read to the
// end.
TEST(LocalCopy, FilesThatReportNoLengthAreReadToTheEnd) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(expected.empty());
    ScriptedUser user;
    EXPECT_EQ(RunCopy(user, {false, "/proc/self", {FileItem("/proc/self/cmdline")}, t.Root()}),
              IDOK);
    EXPECT_EQ(t.Read("cmdline"), expected);
}

TEST(LocalCopy, LinksInsideFoldersAreCopiedAsLinks) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.Dir("src");
    t.Dir("src/d");
    t.Dir("outside");
    t.File("outside/big", "not to be copied");
    t.Link("src/d/absolute", t.Path("outside"));
    t.Link("src/d/relative", "../../outside/big");
    t.Link("src/d/dangling", "nowhere");
    t.Dir("dst");
    ScriptedUser user;
    EXPECT_EQ(RunCopy(user, {false, t.Path("src"), {FolderItem(t.Path("src/d"))}, t.Path("dst")}),
              IDOK);
    for (const char* name : {"absolute", "relative", "dangling"}) {
        std::string rel = std::string("dst/d/") + name;
        EXPECT_TRUE(S_ISLNK(t.Stat(rel).st_mode)) << name;
        EXPECT_EQ(std::filesystem::read_symlink(t.Path(rel)),
                  std::filesystem::read_symlink(t.Path(std::string("src/d/") + name)));
    }
    EXPECT_EQ(t.List("dst/d"), (std::vector<std::string>{"absolute", "dangling", "relative"}));
}

TEST(LocalCopy, CancelInTheMiddleOfAFileLeavesNoPartialFile) {
    struct Case {
        const char* name;
        bool move;
        bool destExists;
    };
    for (const Case& c : {Case{"new file", false, false}, Case{"replacing", false, true},
                          Case{"move to another file system", true, false}}) {
        SCOPED_TRACE(c.name);
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("src");
        t.Dir("dst");
        std::string content = Blob(4 << 20, 2);
        t.File("src/big", content);
        if (c.destExists) {
            t.File("dst/big", "old");
        }
        CrossDevice crossDevice(t.Path("src"), t.Path("dst"));
        ScriptedUser user;
        std::vector<int> seen;
        int result = RunCopy(user, {c.move,
                                    t.Path("src"),
                                    {FileItem(t.Path("src/big"))},
                                    t.Path("dst"),
                                    [](CLFSData& d) {
                                        d.m_nBlockSize = 64 * 1024;
                                        d.m_progressInterval = std::chrono::milliseconds(0);
                                    },
                                    [&](CLFSData& d, const CLFSDisplay& shown) {
                                        seen.push_back(shown.percent);
                                        if (shown.percent > 10) {
                                            d.Cancel();
                                        }
                                    }});
        EXPECT_EQ(result, IDCANCEL);
        ASSERT_FALSE(seen.empty());
        EXPECT_LT(seen.back(), 100);
        EXPECT_EQ(t.List("dst"),
                  c.destExists ? std::vector<std::string>{"big"} : std::vector<std::string>{});
        if (c.destExists) {
            EXPECT_EQ(t.Read("dst/big"), "old");
        }
        EXPECT_TRUE(t.Read("src/big") == content);
        EXPECT_TRUE(user.Messages().empty());
    }
}

TEST(LocalCopy, WriteFailureRemovesThePartialFileAndKeepsTheSource) {
    for (bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("src");
        t.Dir("dst");
        std::string content = Blob(3 << 20, 3);
        t.File("src/big", content);
        t.File("src/small", "s");
        CrossDevice crossDevice(t.Path("src"), t.Path("dst"));
        ScriptedUser user;
        user.messageAnswers = {IDOK};

        // Files may grow to 1 MiB only: writing the copy fails part way.
        struct rlimit old {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = old;
        limited.rlim_cur = 1 << 20;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        int result = RunCopy(user, {move,
                                    t.Path("src"),
                                    {FileItem(t.Path("src/big")), FileItem(t.Path("src/small"))},
                                    t.Path("dst")});
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(result, IDOK);
        auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text,
                  std::string(move ? "Failed to move file\n" : "Failed to copy file\n") +
                      t.Path("src/big") + "\nto folder\n" + t.Path("dst"));
        EXPECT_EQ(messages[0].style, 17u);
        EXPECT_EQ(t.List("dst"), std::vector<std::string>{"small"});
        EXPECT_TRUE(t.Read("src/big") == content);
        EXPECT_EQ(t.Exists("src/small"), !move);
    }
}

TEST(LocalCopy, MoveToAnotherFileSystemCopiesThenDeletes) {
    for (bool realMount : {true, false}) {
        SCOPED_TRACE(realMount ? "tmpfs" : "simulated");
        TempTree t;
        ASSERT_TRUE(t.Ok());
        TempTree other("/dev/shm");
        std::string destRoot;
        if (realMount) {
            if (!other.Ok() || other.Stat("").st_dev == t.Stat("").st_dev) {
                continue; // no second file system here; the simulated row covers it
            }
            destRoot = other.Root();
        } else {
            t.Dir("dst");
            destRoot = t.Path("dst");
        }
        t.Dir("src");
        t.Dir("src/d");
        t.Dir("src/d/sub");
        t.File("src/d/f1", "one", 0444);
        t.File("src/d/sub/f2", "two");
        t.Link("src/d/link", "f1");
        struct timespec times[2] = {{0, UTIME_OMIT}, {1'200'000'000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, t.Path("src/d/f1").c_str(), times, 0), 0);
        std::unique_ptr<CrossDevice> crossDevice;
        if (!realMount) {
            crossDevice = std::make_unique<CrossDevice>(t.Path("src"), destRoot);
        }

        ScriptedUser user;
        EXPECT_EQ(RunCopy(user, {true, t.Path("src"), {FolderItem(t.Path("src/d"))}, destRoot}),
                  IDOK);
        EXPECT_FALSE(t.Exists("src/d"));
        std::string d = destRoot + "/d";
        struct stat st {};
        ASSERT_EQ(::stat((d + "/f1").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, 1'200'000'000);
        EXPECT_EQ(st.st_mode & 0777, 0444u);
        EXPECT_EQ(std::filesystem::read_symlink(d + "/link"), "f1");
        std::ifstream in(d + "/sub/f2");
        std::string two;
        in >> two;
        EXPECT_EQ(two, "two");
        std::multiset<std::string> expected{
            "FolderCreated " + d,
            "FolderCreated " + d + "/sub",
            "FileCreated " + d + "/f1",
            "FileCreated " + d + "/link",
            "FileCreated " + d + "/sub/f2",
            "FileDeleted " + t.Path("src/d/f1"),
            "FileDeleted " + t.Path("src/d/link"),
            "FileDeleted " + t.Path("src/d/sub/f2"),
            "FolderDeleted " + t.Path("src/d/sub"),
            "FolderDeleted " + t.Path("src/d"),
        };
        EXPECT_EQ(user.Events(), expected);
    }
}

TEST(LocalCopy, MoveWithinOneFileSystemRenames) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.Dir("src");
    t.Dir("src/whole");
    t.File("src/whole/f", "f");
    t.Dir("src/merge");
    t.File("src/merge/g", "g");
    t.Dir("dst");
    t.Dir("dst/merge");
    t.File("dst/merge/kept", "k");
    ino_t wholeInode = t.Stat("src/whole").st_ino;
    ino_t gInode = t.Stat("src/merge/g").st_ino;

    ScriptedUser user;
    EXPECT_EQ(RunCopy(user, {true,
                             t.Path("src"),
                             {FolderItem(t.Path("src/whole")), FolderItem(t.Path("src/merge"))},
                             t.Path("dst")}),
              IDOK);
    // A folder whose name is free moves in one step; one that exists is
    // merged file by file, each file renamed.
    EXPECT_EQ(t.Stat("dst/whole").st_ino, wholeInode);
    EXPECT_EQ(t.Stat("dst/merge/g").st_ino, gInode);
    EXPECT_EQ(t.List("dst/merge"), (std::vector<std::string>{"g", "kept"}));
    EXPECT_EQ(t.List("src"), std::vector<std::string>{});
    std::multiset<std::string> expected{
        "FolderDeleted " + t.Path("src/whole"), "FolderCreated " + t.Path("dst/whole"),
        "FileDeleted " + t.Path("src/merge/g"), "FileCreated " + t.Path("dst/merge/g"),
        "FolderDeleted " + t.Path("src/merge"),
    };
    EXPECT_EQ(user.Events(), expected);
}

TEST(LocalCopy, TheSameFileIsLeftAloneWithoutAQuestion) {
    struct Case {
        const char* name;
        bool move;
        bool hardLink; // else the destination folder is the source folder
    };
    for (const Case& c :
         {Case{"copy onto itself", false, false}, Case{"move onto itself", true, false},
          Case{"copy onto another name of itself", false, true},
          Case{"move onto another name of itself", true, true}}) {
        SCOPED_TRACE(c.name);
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("src");
        t.Dir("dst");
        t.File("src/f", "content");
        if (c.hardLink) {
            ASSERT_EQ(::link(t.Path("src/f").c_str(), t.Path("dst/f").c_str()), 0);
        }
        ScriptedUser user;
        EXPECT_EQ(RunCopy(user, {c.move,
                                 t.Path("src"),
                                 {FileItem(t.Path("src/f"))},
                                 t.Path(c.hardLink ? "dst" : "src")}),
                  IDOK);
        EXPECT_EQ(t.Read("src/f"), "content");
        EXPECT_TRUE(user.ReplaceQuestions().empty());
        EXPECT_TRUE(user.Events().empty());
    }
}

TEST(LocalCopy, DestinationFolderThatCannotBeCreatedStops) {
    struct Case {
        const char* name;
        const char* destFolder;
        const char* expectedPath;
    };
    for (const Case& c : {Case{"a file has the folder's name", "dst", "dst/d"},
                          Case{"the destination is a file", "dst/d", "dst/d/d"}}) {
        SCOPED_TRACE(c.name);
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("src");
        t.Dir("src/d");
        t.File("src/d/f", "f");
        t.Dir("src/e");
        t.Dir("dst");
        t.File("dst/d", "a file");
        ScriptedUser user;
        for (bool move : {false, true}) {
            EXPECT_EQ(RunCopy(user, {move,
                                     t.Path("src"),
                                     {FolderItem(t.Path("src/d")), FolderItem(t.Path("src/e"))},
                                     t.Path(c.destFolder)}),
                      IDCANCEL);
        }
        auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 2u);
        for (const auto& m : messages) {
            EXPECT_EQ(m.text, "Failed to create folder\n" + t.Path(c.expectedPath));
            EXPECT_EQ(m.style, 16u);
        }
        EXPECT_FALSE(t.Exists("dst/e"));
        EXPECT_EQ(t.Read("src/d/f"), "f");
        EXPECT_EQ(t.Read("dst/d"), "a file");
    }
}

TEST(LocalCopy, AFolderCannotGoIntoItself) {
    for (bool move : {false, true}) {
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.Dir("src");
        t.Dir("src/d");
        t.Dir("src/d/inner");
        t.File("src/d/f", "f");
        ScriptedUser user;
        EXPECT_EQ(
            RunCopy(user,
                    {move, t.Path("src"), {FolderItem(t.Path("src/d"))}, t.Path("src/d/inner")}),
            IDCANCEL);
        auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, "Failed!");
        EXPECT_EQ(t.List("src/d"), (std::vector<std::string>{"f", "inner"}));
        EXPECT_EQ(t.List("src/d/inner"), std::vector<std::string>{});
    }
}

TEST(LocalCopy, ItemsOutsideTheSourceFolderAreNotPlaced) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.Dir("src");
    t.Dir("srcx");
    t.File("srcx/f", "f");
    t.Dir("dst");
    for (const std::string& item : {t.Path("srcx/f"), t.Path("src/../srcx/f")}) {
        ScriptedUser user;
        EXPECT_EQ(RunCopy(user, {false, t.Path("src"), {FileItem(item)}, t.Path("dst")}), IDCANCEL);
        auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, "Failed!");
        EXPECT_EQ(t.List("dst"), std::vector<std::string>{});
    }
}

// ---------------------------------------------------------------------------
// The request-and-answer protocol, with the dialog on a thread of its own

// Queues what the worker posts; the test thread plays the dialog.
class QueuedDialog : public ILFSDialog {
public:
    enum Request { Finished, Display, ShowError, AskReplace };

    void PostFinished() override { Push(Finished); }
    void PostDisplayChanged() override { Push(Display); }
    void PostShowError() override { Push(ShowError); }
    void PostAskReplace() override { Push(AskReplace); }

    bool Pop(Request& request) {
        std::unique_lock<std::mutex> guard(m_lock);
        if (!m_posted.wait_for(guard, std::chrono::seconds(30), [&] { return !m_queue.empty(); })) {
            return false;
        }
        request = m_queue.front();
        m_queue.pop_front();
        return true;
    }

private:
    void Push(Request request) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_queue.push_back(request);
        }
        m_posted.notify_all();
    }

    std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<Request> m_queue;
};

TEST(LocalOperationProtocol, DialogThreadShowsProgressAndAnswers) {
    TempTree t;
    ASSERT_TRUE(t.Ok());
    t.Dir("src");
    t.Dir("dst");
    t.File("src/a", Blob(1 << 20, 4));
    t.File("dst/a", "old");
    ScriptedUser user;
    CLFSOperation op(CLFSOperation::Kind::CopyMove);
    CLFSData& data = op.Data();
    data.m_fileSourceFolder.m_strPath = t.Path("src");
    data.m_fileDestFolder.m_strPath = t.Path("dst");
    data.m_arrSource.Add(FileItem(t.Path("src/a")));
    data.m_nBlockSize = 64 * 1024;
    data.m_progressInterval = std::chrono::milliseconds(0);
    QueuedDialog dialog;
    op.Start(dialog);
    // The dialog shows itself unless the worker ends first; the worker waits
    // for its question meanwhile.
    EXPECT_FALSE(op.WaitForEnd(std::chrono::milliseconds(50)));
    data.SetVisible();

    CLFSDisplay shown;
    std::vector<CLFSDisplay> displays;
    QueuedDialog::Request request{};
    bool finished = false;
    while (!finished && dialog.Pop(request)) {
        switch (request) {
        case QueuedDialog::Finished:
            finished = true;
            break;
        case QueuedDialog::Display:
            if (data.TakeDisplay(shown)) {
                displays.push_back(shown);
            }
            break;
        case QueuedDialog::ShowError:
            AnswerShowError(data, &user);
            break;
        case QueuedDialog::AskReplace:
            EXPECT_EQ(AnswerAskReplace(data, &user), lfs::REPLACE_YES);
            break;
        }
    }
    ASSERT_TRUE(finished);
    EXPECT_EQ(op.Wait(), IDOK);
    EXPECT_EQ(user.ReplaceQuestions().size(), 1u);
    ASSERT_FALSE(displays.empty());
    EXPECT_EQ(displays.back().texts[0], t.Path("src/a"));
    EXPECT_EQ(displays.back().texts[1], t.Path("dst/a"));
    for (std::size_t i = 1; i < displays.size(); ++i) {
        EXPECT_LE(displays[i - 1].percent, displays[i].percent);
    }
    EXPECT_LE(displays.back().percent, 100);
    EXPECT_EQ(t.Read("dst/a").size(), std::size_t{1} << 20);
}

TEST(LocalOperationProtocol, CancelWakesAWorkerWaitingForAnAnswer) {
    for (bool destroyInstead : {false, true}) {
        SCOPED_TRACE(destroyInstead ? "operation destroyed" : "Cancel pressed");
        TempTree t;
        ASSERT_TRUE(t.Ok());
        t.File("b", "b");
        QueuedDialog dialog;
        auto op = std::make_unique<CLFSOperation>(CLFSOperation::Kind::Delete);
        op->Data().m_arrSource.Add(FileItem(t.Path("missing")));
        op->Data().m_arrSource.Add(FileItem(t.Path("b")));
        op->Start(dialog);
        QueuedDialog::Request request{};
        do {
            ASSERT_TRUE(dialog.Pop(request));
        } while (request != QueuedDialog::ShowError);
        // The question is never answered.
        if (destroyInstead) {
            op.reset();
        } else {
            op->Cancel();
            EXPECT_EQ(op->Wait(), IDCANCEL);
            // The dialog answers the question it still holds: nothing changes.
            EXPECT_EQ(AnswerShowError(op->Data(), nullptr), IDCANCEL);
        }
        EXPECT_TRUE(t.Exists("b"));
    }
}

} // namespace
} // namespace qb::test
