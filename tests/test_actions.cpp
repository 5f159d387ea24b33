#include "dispatch/actions.h"
#include "engine/steps.h"
#include "platform/local_file.h"
#include "tests/support/recorders.h"
#include "tests/support/test_files.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {
namespace {

// A connection as items see it.
struct Site {
    explicit Site(const std::string& host) : connection(test::NewSite(host)) {}
    SiteRef connection;
};

std::string Text(const CFTPAction& action) {
    std::string text;
    EXPECT_TRUE(action.GetFailureText(text));
    return text;
}

TEST(Action, FailureTexts) {
    Site site("h");
    CFTPFile pub("pub", site.connection, false);
    CFTPFile empty("", {}, false);
    CFTPFile local("/tmp/a", {}, true);
    CFTPFile remote("a", site.connection, true);

    struct Case {
        std::unique_ptr<CFTPAction> action;
        const char* expected;
    };
    std::vector<Case> cases;
    auto add = [&](std::unique_ptr<CFTPAction> a, const char* e) {
        cases.push_back({std::move(a), e});
    };
    add(std::make_unique<CFTPActionConnect>(1, nullptr, "h", "", "", "", 21), "Failed to connect!");
    add(std::make_unique<CFTPActionDir>(1, nullptr, &pub), "Failed to explore folder\nh : pub\n");
    add(std::make_unique<CFTPActionDir>(1, nullptr, nullptr), "Failed to explore folder!\n");
    add(std::make_unique<CFTPActionCd>(1, nullptr, &pub),
        "Failed to change working folder to\nh : pub\n");
    add(std::make_unique<CFTPActionCd>(1, nullptr, &empty), "Failed to change working folder!\n");
    add(std::make_unique<CFTPActionMd>(1, nullptr, &pub), "Failed to create folder\nh : pub\n");
    add(std::make_unique<CFTPActionMd>(1, nullptr, nullptr), "Failed to create folder!\n");
    add(std::make_unique<CFTPActionCdMd>(1, nullptr, &pub),
        "Failed to change working folder or create folder\nh : pub\n");
    add(std::make_unique<CFTPActionCdMd>(1, nullptr, nullptr), "Failed to create folder!\n");
    add(std::make_unique<CFTPActionMdCd>(1, nullptr, &pub),
        "Failed to create folder or change working folder\nh : pub\n");
    add(std::make_unique<CFTPActionMdCd>(1, nullptr, nullptr),
        "Failed to create folder or change working folder!\n");
    add(std::make_unique<CFTPActionDel>(1, nullptr, &pub), "Failed to delete\nh : pub\n");
    add(std::make_unique<CFTPActionDel>(1, nullptr, nullptr), "Failed to delete!\n");
    add(std::make_unique<CFTPActionRen>(1, nullptr, &remote, &remote),
        "Failed to rename\nfrom h : a\nto h : a\n");
    add(std::make_unique<CFTPActionRen>(1, nullptr, nullptr, &remote), "Failed to rename!\n");
    add(std::make_unique<CFTPActionCopy>(1, nullptr, &remote, &local, 2),
        "Failed to copy\nfrom h : a\nto /tmp/a\n");
    add(std::make_unique<CFTPActionCopy>(1, nullptr, &remote, &local, 18),
        "Failed to move\nfrom h : a\nto /tmp/a\n");
    add(std::make_unique<CFTPActionCopy>(1, nullptr, &remote, &empty, 4), "Failed to copy!\n");
    add(std::make_unique<CFTPActionCopy>(1, nullptr, nullptr, &local, 17), "Failed to move!\n");
    for (const auto& c : cases) {
        EXPECT_EQ(Text(*c.action), c.expected) << "kind " << c.action->m_nKind;
    }
}

TEST(Action, FailedExploreWithFailedFolderChangeJoinsBothTexts) {
    Site site("ftp.example.org");
    CFTPFile pub("pub", site.connection, false);
    CFTPActionDir explore(7, nullptr, &pub);
    explore.m_pSubAction = std::make_unique<CFTPActionCd>(7, nullptr, &pub, true, false);
    explore.m_pSubAction->SetResult(CFTPConstants::RESULT_FAILED, {"550 pub: No such directory."});
    explore.SetResult(CFTPConstants::RESULT_FAILED, {});
    EXPECT_EQ(explore.JoinedMessages(), "Failed to explore folder\n"
                                        "ftp.example.org : pub\n"
                                        "\n\n"
                                        "Failed to change working folder to\n"
                                        "ftp.example.org : pub\n"
                                        "\n"
                                        "550 pub: No such directory.\n");
    EXPECT_TRUE(explore.ShouldReportFailure());
    EXPECT_FALSE(explore.m_pSubAction->ShouldReportFailure());
}

TEST(Action, SetResultTakesTheSubActionsCodeOnlyForCode3) {
    CFTPActionConnect connect(1, nullptr, "h", "", "", "", 21);
    connect.m_pSubAction = std::make_unique<CFTPActionDir>(1, nullptr, nullptr, true, false);
    connect.m_pSubAction->m_nResult = 6;
    connect.SetResult(3, {"530 Login incorrect.", "second line"});
    EXPECT_EQ(connect.m_nResult, 6);
    EXPECT_EQ(connect.JoinedMessages(), "Failed to connect!\n530 Login incorrect.\nsecond line\n");

    CFTPActionConnect other(1, nullptr, "h", "", "", "", 21);
    other.m_pSubAction = std::make_unique<CFTPActionDir>(1, nullptr, nullptr, true, false);
    other.m_pSubAction->m_nResult = 6;
    other.SetResult(7, {});
    EXPECT_EQ(other.m_nResult, 7);

    // An explore whose folder change went through but whose listing failed
    // has failed: the sub-action's success does not hide that.
    CFTPActionDir explore(1, nullptr, nullptr);
    explore.m_pSubAction = std::make_unique<CFTPActionCd>(1, nullptr, nullptr, true, false);
    explore.m_pSubAction->m_nStep = CFTPConstants::STEP_DONE;
    explore.SetResult(3, {"550 No such file"});
    explore.m_nStep = CFTPConstants::STEP_DONE;
    EXPECT_EQ(explore.m_nResult, 3);
    EXPECT_FALSE(explore.Succeeded());
}

TEST(Action, LinkExploreIsSilent) {
    CFTPFile link("pub/latest", {}, false);
    link.m_strLink = "/pub/releases/2.0";
    CFTPActionDir explore(1, nullptr, &link);
    EXPECT_FALSE(explore.ShouldReportFailure());
    CFTPActionDir quiet(1, nullptr, nullptr, false, false);
    EXPECT_FALSE(quiet.ShouldReportFailure());
}

TEST(Action, SucceededAndRestart) {
    CFTPActionConnect connect(1, nullptr, "h", "", "", "", 21);
    EXPECT_FALSE(connect.Succeeded());
    connect.m_nStep = STEP_DONE;
    EXPECT_TRUE(connect.Succeeded());
    connect.m_nResult = 3;
    EXPECT_FALSE(connect.Succeeded());

    for (std::uint16_t step = 1; step <= 15; ++step) {
        CFTPActionConnect c(1, nullptr, "h", "", "", "", 21);
        c.m_nStep = step;
        c.m_nResult = 3;
        c.m_astrMessages = {"x"};
        c.m_bAbortSent = true;
        const bool restarts = step == 1 || step == 7 || step == 8;
        EXPECT_EQ(c.RestartConnect(), restarts) << "step " << step;
        if (restarts) {
            EXPECT_EQ(c.m_nStep, 1);
            EXPECT_EQ(c.m_nResult, 0);
            EXPECT_TRUE(c.m_astrMessages.empty());
            EXPECT_FALSE(c.m_bAbortSent);
        }
    }
    CFTPActionConnect cancelled(1, nullptr, "h", "", "", "", 21);
    cancelled.m_nStep = 7;
    cancelled.Cancel();
    EXPECT_FALSE(cancelled.RestartConnect());
    CFTPActionCd notConnect(1, nullptr, nullptr);
    notConnect.m_nStep = 1;
    EXPECT_FALSE(notConnect.RestartConnect());
}

TEST(Action, LinkedChildrenCountDownUnlessCancelled) {
    auto parent = std::make_unique<CFTPActionCopy>(1, nullptr, nullptr, nullptr, 20);
    auto ok = std::make_unique<CFTPActionCopy>(1, nullptr, nullptr, nullptr, 20);
    auto failed = std::make_unique<CFTPActionCopy>(1, nullptr, nullptr, nullptr, 20);
    auto cancelled = std::make_unique<CFTPActionCopy>(1, nullptr, nullptr, nullptr, 20);
    parent->LinkChild(*ok);
    parent->LinkChild(*failed);
    parent->LinkChild(*cancelled);
    EXPECT_EQ(parent->PendingChildren(), 3);

    ok->m_nStep = STEP_DONE;
    ok.reset();
    EXPECT_EQ(parent->PendingChildren(), 2);
    EXPECT_TRUE(parent->ChildrenOK());

    cancelled->Cancel();
    cancelled.reset();
    EXPECT_EQ(parent->PendingChildren(), 2);
    EXPECT_TRUE(parent->ChildrenOK());

    failed->m_nStep = STEP_DONE;
    failed->m_nResult = 3;
    // The parent may go first: the child still ends safely.
    parent.reset();
    failed.reset();
}

TEST(Action, StepTexts) {
    test::RecordingFrontEnd fe;
    CFTPFile source("pub/big.iso", {}, true);
    CFTPFile dest("/home/u/big.iso", {}, true);
    CFTPActionCopy copy(1, nullptr, &source, &dest, 2);
    copy.SetStep(fe, 1, STEP_COPY_RECV_RETR);
    copy.SetStep(fe, 2, STEP_COPY_SEND_STOR);
    copy.SetStep(fe, 1, STEP_REST_RESET);
    copy.SetStep(fe, 1, STEP_CD_CWD);
    copy.SetStep(fe, 0, STEP_CD_FIRST); // lane 0 shows nothing
    copy.SetStep(fe, 1, STEP_DONE);
    copy.Cancel();
    copy.SetStep(fe, 1, STEP_DEL_SEND); // nothing once cancelled
    EXPECT_EQ(copy.m_nStep, STEP_DEL_SEND);
    EXPECT_EQ(fe.Events().Events(),
              (std::vector<std::string>{"step1 receive file big.iso", "step2 send file big.iso",
                                        "step1 ", "step1 change working folder", "step1 "}));

    CFTPActionCopy noItems(1, nullptr, nullptr, nullptr, 2);
    EXPECT_EQ(noItems.StepStatusText(STEP_COPY_RECV_RETR), "receive file ");
    EXPECT_EQ(StepStringId(STEP_COPY_RECV_RETR), 259);
    EXPECT_EQ(StepText(STEP_DEL_FOLDER), "delete folder");
}

TEST(Action, ChildDestinationAndDestinationConnection) {
    Site a("a");
    Site b("b");
    CFTPFile source("pub", a.connection, false);
    CFTPFile dest("incoming/pub", b.connection, false);
    CFTPActionCopy copy(1, nullptr, &source, &dest, 8);
    CFTPFile child("pub/readme", a.connection, true);
    auto childDest = copy.MakeChildDestination(child);
    EXPECT_EQ(childDest->GetPath(), "incoming/pub/readme");
    EXPECT_EQ(childDest->m_nConnection, b.connection.id);
    EXPECT_TRUE(childDest->m_bFile);
    EXPECT_TRUE(copy.IsDestinationConnection(b.connection.id));
    EXPECT_FALSE(copy.IsDestinationConnection(a.connection.id));
    EXPECT_FALSE(copy.IsDestinationConnection(kNoConnection));
}

TEST(Action, CopyEndsItsFiles) {
    test::RecordingFrontEnd fe;
    struct Case {
        std::string content;
        bool succeeded;
        bool opened;
    };
    const Case cases[] = {{"hello", true, true}, {"", true, false}, {"part", false, false}};
    for (const auto& c : cases) {
        std::string path = MakeTempFile("test");
        ASSERT_FALSE(path.empty());
        std::ofstream(path) << c.content;
        std::string tempPath = MakeTempFile("test");
        {
            CFTPFile source("pub/a.txt", {}, true);
            CFTPFile dest(path, {}, true);
            CFTPActionCopy copy(1, nullptr, &source, &dest, 2);
            copy.SetOpenWhenDone(&fe);
            copy.m_pTempFile = std::make_unique<LocalFile>();
            ASSERT_TRUE(copy.m_pTempFile->Open(tempPath, LocalFile::Mode::ReadWrite));
            if (c.succeeded) {
                copy.m_nStep = STEP_DONE;
            } else {
                copy.m_nResult = 3;
            }
        }
        struct stat st {};
        EXPECT_NE(::stat(tempPath.c_str(), &st), 0) << "the temporary copy file is removed";
        EXPECT_EQ(fe.Events().Count("Open " + path), c.opened ? 1u : 0u) << c.content;
        EXPECT_EQ(fe.Events().Count("TempFile " + path), 1u);
        ::unlink(path.c_str());
    }
}

// An action that reports its own destruction.
class Probe : public CFTPActionCd {
public:
    Probe(int* deaths, bool sub) : CFTPActionCd(1, nullptr, nullptr, sub, !sub), m_deaths(deaths) {}
    ~Probe() override { ++*m_deaths; }

private:
    int* m_deaths;
};

TEST(ActionQueue, OwnsAllButSubActions) {
    int deaths = 0;
    auto parent = std::make_unique<Probe>(&deaths, false);
    parent->m_pSubAction = std::make_unique<Probe>(&deaths, true);
    CFTPAction* sub = parent->m_pSubAction.get();
    {
        CFTPActionQueue queue;
        CFTPAction* rawParent = parent.get();
        EXPECT_FALSE(
            queue.InsertSecond(CFTPActionQueue::Owned(std::make_unique<Probe>(&deaths, false))));
        EXPECT_EQ(deaths, 1) << "a refused insertion deletes its action";
        ASSERT_TRUE(queue.AddTail(CFTPActionQueue::Owned(std::move(parent))));
        ASSERT_TRUE(queue.AddHead(CFTPActionQueue::Borrowed(sub)));
        ASSERT_TRUE(
            queue.InsertSecond(CFTPActionQueue::Owned(std::make_unique<Probe>(&deaths, false))));
        ASSERT_EQ(queue.GetCount(), 3u);
        EXPECT_EQ(queue.Peek(), sub);
        EXPECT_EQ(queue.GetAt(2), rawParent);

        queue.RemoveHead(true); // the sub-action: its parent still owns it
        EXPECT_EQ(deaths, 1);
        queue.RemoveHead(true);
        EXPECT_EQ(deaths, 2);
        queue.CancelAll();
        EXPECT_TRUE(queue.Peek()->IsCancelled());
    }
    // The queue's destructor deleted the parent and with it its sub-action.
    EXPECT_EQ(deaths, 4);
}

} // namespace
} // namespace qb
