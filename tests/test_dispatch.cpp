// The manager and the connection frame, driven by test step handlers.
#include "dispatch/manager.h"
#include "engine/remote_manager.h"
#include "engine/secretary.h"
#include "engine/steps.h"
#include "platform/net.h"
#include "tests/support/recorders.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qb {
namespace {

using namespace std::chrono_literals;

// One end of a socket pair plays the server's control connection: handlers
// read replies from it with a blocking, stop-aware receive.
class Channel {
public:
    Channel() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        client = net::Socket(fds[0]);
        server = net::Socket(fds[1]);
    }
    void Send(const std::string& text) {
        ASSERT_TRUE(net::SendAll(server.Fd(), text.data(), text.size(), {}).ok());
    }
    net::Socket client;
    net::Socket server;
};

// Reads one reply line from the channel and queues it; false when the read
// was interrupted.
bool ReadReply(CFTPRemoteManager& c, Channel& channel, bool stopOnly) {
    std::string line;
    char ch = 0;
    while (true) {
        auto r = net::ReceiveSome(channel.client.Fd(), &ch, 1, c.MakeInterrupt(stopOnly));
        if (!r.ok()) {
            return false;
        }
        if (ch == '\n') {
            break;
        }
        if (ch != '\r') {
            line += ch;
        }
    }
    c.QueueReply({line}, static_cast<unsigned>(std::stoi(line.substr(0, 3))));
    c.Post(CFTPConstants::RMM_REPLY);
    return true;
}

class Dispatch : public ::testing::Test {
protected:
    Dispatch() {
        fe.busyCode = 0;
        secretary = std::make_unique<CFTPSecretary>(fe.Get());
    }
    ~Dispatch() override { manager.reset(); }

    // Builds the manager with the test handlers below.
    void Start() {
        manager = std::make_unique<CFTPManager>(fe.Get(), Handlers());
        manager->SetSecretary(secretary.get());
    }

    void Trace(const std::string& s) { fe.Events().Add("trace " + s); }

    HandlerTable Handlers() {
        HandlerTable t;
        // Connect: the host name says how it goes.
        t[CFTPConstants::KIND_CONNECT].start = [this](CFTPRemoteManager& c, CFTPAction& a) {
            auto& connect = static_cast<CFTPActionConnect&>(a);
            Trace("connect " + connect.m_strHost + " step " + std::to_string(a.m_nStep));
            if (connect.m_strHost == "refuses") {
                c.SetStep(a, STEP_CONTACT_HOST);
                c.Fail(CFTPConstants::RESULT_FAILED, 421, {"421 Service not available."});
                return;
            }
            if (connect.m_strHost == "flaky" && ++flakyAttempts < 3) {
                c.SetStep(a, STEP_WELCOME);
                c.Fail(CFTPConstants::RESULT_FAILED, 421, {"421 Too many users."});
                return;
            }
            c.SetHostName(connect.m_strHost);
            c.FinishAction();
        };
        // Delete: succeeds at once.
        t[CFTPConstants::KIND_DEL].start = [this](CFTPRemoteManager& c, CFTPAction& a) {
            Trace("delete " + static_cast<CFTPActionDel&>(a).m_pFile->GetPath());
            c.SetStep(a, STEP_DEL_SEND);
            c.FinishAction();
        };
        // Change folder: two replies arrive together.
        t[CFTPConstants::KIND_CD].start = [](CFTPRemoteManager& c, CFTPAction& a) {
            c.SetStep(a, STEP_CD_CWD);
            c.QueueReply({"200 first"}, 200);
            c.QueueReply({"250 second"}, 250);
            c.Post(CFTPConstants::RMM_REPLY);
        };
        t[CFTPConstants::KIND_CD].reply = [this](CFTPRemoteManager& c, CFTPAction&,
                                                 const ReplyLines& lines, unsigned code) {
            Trace("cd reply " + lines.at(0));
            if (code == 250) {
                c.FinishAction();
            }
        };
        // Copy: records kind and lane, then blocks on a silent channel
        // until cancelled.
        t[CFTPConstants::KIND_COPY].start = [this](CFTPRemoteManager& c, CFTPAction& a) {
            auto& copy = static_cast<CFTPActionCopy&>(a);
            Trace("copy kind " + std::to_string(copy.m_nCopyKind) + " lane " +
                  std::to_string(c.GetStatusLane()) + " on " + c.GetHostName() + " to " +
                  copy.m_pDest->GetPath(true));
            if (blockCopies) {
                c.SetStep(a, STEP_COPY_RECV_RETR);
                bool read = ReadReply(c, silent, false);
                Trace(read ? "copy read" : "copy interrupted");
                c.FinishAction();
                return;
            }
            c.FinishAction();
        };
        // Explore: waits for replies on the channel; 150 starts a transfer
        // that the handler aborts when the action was cancelled.
        t[CFTPConstants::KIND_DIR].start = [this](CFTPRemoteManager& c, CFTPAction& a) {
            ++exploreStarts;
            c.SetStep(a, STEP_DIR_LIST);
            ReadReply(c, control, true);
        };
        t[CFTPConstants::KIND_DIR].reply = [this](CFTPRemoteManager& c, CFTPAction& a,
                                                  const ReplyLines&, unsigned code) {
            Trace("dir reply " + std::to_string(code));
            if (code == 150 && c.IsStopping()) {
                c.SendAbort();
                c.SetStep(a, STEP_DIR_ABORT_WAIT);
                ReadReply(c, control, true);
                return;
            }
            c.FinishAction();
        };
        t[CFTPConstants::KIND_DIR].late = [this](CFTPRemoteManager&, CFTPAction&, const ReplyLines&,
                                                 unsigned code) {
            Trace("dir late " + std::to_string(code));
        };
        // Rename: finishes; the action owns its caller data.
        t[CFTPConstants::KIND_REN].start = [this](CFTPRemoteManager& c, CFTPAction& a) {
            auto& ren = static_cast<CFTPActionRen&>(a);
            auto* data = static_cast<CFTPActionCallerDataRen*>(ren.m_pCallerData);
            Trace("rename " + ren.m_pFile->GetPath() + " -> " + ren.m_pNewFile->GetPath() +
                  " data " + (data ? data->m_strNewName : "none"));
            c.FinishAction();
        };
        // Kind 4 (create folder) has no handler: it must fail with result 3.
        return t;
    }

    // Connects to `host` and waits for the operation to end.
    ConnectionId ConnectTo(const std::string& host) {
        ConnectionId connection = kNoConnection;
        std::size_t before = fe.Events().Count("Idle");
        OperationId id =
            manager->Connect(host, "", "", "", 21,
                             std::make_unique<CFTPActionCallerDataConnect>(11, true), &connection);
        EXPECT_NE(id, 0u);
        EXPECT_TRUE(fe.Events().WaitForCount("Idle", before + 1));
        return connection;
    }

    // Where items of a connection live (while it is connected).
    SiteRef At(ConnectionId id) {
        CFTPRemoteManager* connection = manager->FindConnection(id);
        return connection ? connection->Ref() : SiteRef{id, "gone"};
    }

    // Waits until the connection object has been destroyed.
    bool WaitReaped(std::size_t owned) {
        for (int i = 0; i < 500 && manager->GetOwnedCount() > owned; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return manager->GetOwnedCount() == owned;
    }

    // Waits for the end of the n-th operation (its last report).
    bool WaitIdle(std::size_t finished) { return fe.Events().WaitForCount("Idle", finished); }

    test::RecordingFrontEnd fe;
    std::unique_ptr<CFTPSecretary> secretary;
    std::unique_ptr<CFTPManager> manager;
    Channel control;
    Channel silent;
    std::atomic<int> flakyAttempts{0};
    std::atomic<int> exploreStarts{0};
    std::atomic<bool> blockCopies{false};
};

TEST_F(Dispatch, IdsStartAtOneAndRefusalsGiveThemBack) {
    Start();
    ConnectionId c = kNoConnection;
    struct Refusal {
        const char* host;
        const char* user;
        const char* password;
    };
    const Refusal refusals[] = {{"", "", ""}, {"h", "user", ""}, {"h", "", "secret"}};
    for (const auto& r : refusals) {
        EXPECT_EQ(manager->Connect(r.host, r.user, r.password, "", 21, nullptr, &c), 0u);
    }
    EXPECT_EQ(manager->Explore(nullptr, nullptr), 0u);
    EXPECT_EQ(manager->MakeFolder(nullptr, nullptr), 0u);
    CFTPFileArray empty;
    EXPECT_EQ(manager->Delete(&empty, nullptr), 0u);
    CFTPFileArray localOnly;
    localOnly.Add(CFTPFile("/tmp/x", {}, true));
    EXPECT_EQ(manager->Delete(&localOnly, nullptr), 0u);
    CFTPFile local("/tmp/x", {}, true);
    CFTPFile localDir("/tmp", {}, false);
    EXPECT_EQ(manager->Copy(&local, &localDir, nullptr, false), 0u);
    EXPECT_EQ(manager->CopyItems(&localOnly, &localDir, nullptr, false), 0u);
    EXPECT_EQ(manager->CopyItems(&localOnly, nullptr, nullptr, false), 0u);
    EXPECT_EQ(manager->Rename(nullptr, "x", nullptr), 0u);
    EXPECT_EQ(manager->GetLastId(), 0u);
    EXPECT_EQ(manager->GetConnectionCount(), 0u);

    ConnectionId site = ConnectTo("ftp.one.test");
    EXPECT_EQ(manager->GetLastId(), 1u);
    ASSERT_NE(site, kNoConnection);
    EXPECT_TRUE(manager->IsConnected(site));
    EXPECT_EQ(manager->Rename(&local, "y", nullptr), 0u) << "a local item has no connection";
    CFTPFile remote("pub/a", At(site), true);
    EXPECT_EQ(manager->Rename(&remote, "", nullptr), 0u);
    EXPECT_EQ(manager->GetLastId(), 1u);
}

TEST_F(Dispatch, ConnectReportsOnceInOrder) {
    Start();
    ConnectTo("ftp.one.test");
    auto events = fe.Events().Events();
    std::vector<std::string> expected = {"BeginOperation ftp.one.test",
                                         "trace connect ftp.one.test step 1",
                                         "step1 ",
                                         "ConnectDone result=0 ok no content",
                                         "ClearMark",
                                         "RefillContent",
                                         "OperationEnded",
                                         "OperationFinished",
                                         "EndOperation",
                                         "Report 1 ok running=0",
                                         "Idle"};
    EXPECT_EQ(events, expected);
}

TEST_F(Dispatch, FailedConnectIsShownThenTheConnectionEnds) {
    Start();
    ConnectionId c = kNoConnection;
    ASSERT_EQ(manager->Connect("refuses", "", "", "", 21, nullptr, &c), 1u);
    ASSERT_TRUE(WaitIdle(1));
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_EQ(fe.Questions()[0], "Failed to connect!\n421 Service not available.\n");
    EXPECT_EQ(fe.Events().Count("ConnectDone result=3 failed"), 1u);
    // The manager's thread takes the connection out and stops it.
    for (int i = 0; i < 500 && manager->IsConnected(c); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(manager->IsConnected(c));
}

TEST_F(Dispatch, ConnectRestartsAfterEarlyFailuresWithoutAMessage) {
    Start();
    ConnectTo("flaky");
    EXPECT_EQ(flakyAttempts.load(), 3);
    EXPECT_EQ(fe.Events().Count("trace connect flaky step 1"), 3u);
    EXPECT_TRUE(fe.Questions().empty());
    EXPECT_EQ(fe.Events().Count("ConnectDone result=0 ok"), 1u);
}

TEST_F(Dispatch, DeleteQueuesOneActionPerItemAndCompletesOnce) {
    Start();
    ConnectionId site = ConnectTo("ftp.one.test");
    CFTPFileArray items;
    for (const char* name : {"a", "b", "c"}) {
        items.Add(CFTPFile(std::string("pub/") + name, At(site), true));
    }
    ASSERT_EQ(manager->Delete(&items, nullptr), 2u);
    ASSERT_TRUE(WaitIdle(2));
    std::vector<std::string> seen;
    bool started = false;
    for (const auto& e : fe.Events().Events()) {
        started = started || e == "trace delete pub/a";
        if (started && (e.rfind("trace", 0) == 0 || e == "OperationFinished")) {
            seen.push_back(e);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"trace delete pub/a", "trace delete pub/b",
                                              "trace delete pub/c", "OperationFinished"}));
    EXPECT_EQ(fe.Events().Count("OperationFinished"), 2u);
    EXPECT_FALSE(manager->HasOperation(2));
}

TEST_F(Dispatch, CopyKindsQueuesAndLanes) {
    Start();
    ConnectionId one = ConnectTo("one");
    ConnectionId two = ConnectTo("two");
    CFTPFile remoteFile("pub/f", At(one), true);
    CFTPFile remoteFolder("incoming", At(one), false);
    CFTPFile otherFolder("drop/f", At(two), false);
    CFTPFile localFile("/tmp/f", {}, true);
    CFTPFile localDest("/tmp/g", {}, true);
    CFTPFile sameSiteDest("incoming/f", At(one), true);
    CFTPFile uploadDest("drop/up", At(two), true);
    struct Case {
        const CFTPFile* source;
        const CFTPFile* dest;
        bool move;
        const char* trace;
    };
    const Case cases[] = {
        {&localFile, &uploadDest, false, "copy kind 1 lane 1 on two to two : drop/up"},
        {&remoteFile, &localDest, false, "copy kind 2 lane 1 on one to /tmp/g"},
        {&remoteFile, &localDest, true, "copy kind 18 lane 1 on one to /tmp/g"},
        {&remoteFile, &sameSiteDest, false, "copy kind 4 lane 1 on one to one : incoming/f"},
        {&remoteFile, &sameSiteDest, true, "copy kind 20 lane 1 on one to one : incoming/f"},
        {&remoteFile, &otherFolder, false, "copy kind 8 lane 1 on one to two : drop/f"},
    };
    std::size_t finished = 2;
    for (const auto& c : cases) {
        ASSERT_NE(manager->Copy(c.source, c.dest, nullptr, c.move), 0u) << c.trace;
        ASSERT_TRUE(WaitIdle(++finished)) << c.trace;
        EXPECT_EQ(fe.Events().Count(std::string("trace ") + c.trace), 1u) << c.trace;
    }
    EXPECT_EQ(manager->FindConnection(two)->GetStatusLane(), 2)
        << "the destination of a copy between sites reports in lane 2";
    EXPECT_EQ(fe.Events().Count("BeginOperation one two"), 1u);

    CFTPFileArray items;
    items.Add(CFTPFile("pub/x", At(one), true));
    items.Add(CFTPFile("pub/sub", At(one), false));
    ASSERT_NE(manager->CopyItems(&items, &remoteFolder, nullptr, false), 0u);
    ASSERT_TRUE(WaitIdle(++finished));
    EXPECT_EQ(fe.Events().Count("trace copy kind 4 lane 1 on one to one : incoming/x"), 1u);
    EXPECT_EQ(fe.Events().Count("trace copy kind 4 lane 1 on one to one : incoming/sub"), 1u);
    CFTPFile loginFolder("", At(two), false);
    ASSERT_NE(manager->MoveItems(&items, &loginFolder, nullptr), 0u);
    ASSERT_TRUE(WaitIdle(++finished));
    EXPECT_EQ(fe.Events().Count("trace copy kind 24 lane 1 on one to two : x"), 1u);
}

TEST_F(Dispatch, RenameBuildsTheNewItemAndOwnsItsCallerData) {
    Start();
    ConnectionId site = ConnectTo("one");
    CFTPFile item("pub/old.txt", At(site), true);
    auto data = std::make_unique<CFTPActionCallerDataRen>("old.txt", "new.txt", 5);
    ASSERT_EQ(manager->Rename(&item, "new.txt", std::move(data)), 2u);
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(fe.Events().Count("trace rename pub/old.txt -> pub/new.txt data new.txt"), 1u);
    CFTPFile top("top", At(site), false);
    ASSERT_EQ(manager->Rename(&top, "renamed", nullptr), 3u);
    ASSERT_TRUE(WaitIdle(3));
    EXPECT_EQ(fe.Events().Count("trace rename top -> renamed data none"), 1u);
}

TEST_F(Dispatch, TwoQueuedRepliesAreHandledInOrder) {
    Start();
    ConnectionId site = ConnectTo("one");
    CFTPFile folder("pub", At(site), false);
    // Change folder has no request of its own; queue it as a connection
    // thread's step machine would.
    CFTPRemoteManager* connection = manager->FindConnection(site);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(manager->PushBack(connection, std::make_unique<CFTPActionCd>(9, nullptr, &folder)));
    connection->Post(CFTPConstants::RMM_NEXT);
    ASSERT_TRUE(fe.Events().WaitForCount("trace cd reply 250 second", 1));
    auto events = fe.Events().Events();
    auto first = std::find(events.begin(), events.end(), "trace cd reply 200 first");
    auto second = std::find(events.begin(), events.end(), "trace cd reply 250 second");
    EXPECT_LT(first, second);
}

TEST_F(Dispatch, AKindWithoutHandlersFailsWithResult3) {
    Start();
    ConnectionId site = ConnectTo("one");
    CFTPFile folder("new", At(site), false);
    ASSERT_EQ(manager->MakeFolder(&folder, nullptr), 2u);
    ASSERT_TRUE(WaitIdle(2));
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_EQ(fe.Questions()[0], "Failed to create folder\none : new\n");
}

TEST_F(Dispatch, ExtraNextMessagesDoNotRestartTheCurrentAction) {
    Start();
    ConnectionId site = ConnectTo("one");
    CFTPFile folder("pub", At(site), false);
    ASSERT_EQ(manager->Explore(&folder, nullptr), 2u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive folder content", 1));
    for (int i = 0; i < 5; ++i) {
        manager->FindConnection(site)->Post(CFTPConstants::RMM_NEXT);
    }
    control.Send("226 Transfer complete\r\n");
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(exploreStarts.load(), 1);
    EXPECT_EQ(fe.Events().Count("trace dir reply 226"), 1u);
}

TEST_F(Dispatch, ALateReplyAfterACancelIsStillBookedThenTheActionEnds) {
    Start();
    ConnectionId site = ConnectTo("one");
    CFTPFile folder("pub", At(site), false);
    ASSERT_EQ(manager->Explore(&folder, nullptr), 2u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive folder content", 1));
    manager->CancelAll(false);
    control.Send("250 CWD done\r\n");
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(fe.Events().Count("trace dir late 250"), 1u);
    EXPECT_EQ(fe.Events().Count("trace dir reply"), 0u);
    EXPECT_TRUE(manager->IsConnected(site));
    EXPECT_TRUE(fe.Questions().empty()) << "a cancelled action shows nothing";
}

TEST_F(Dispatch, ATransferStartAfterACancelIsAbortedAndAcknowledged) {
    Start();
    ConnectionId site = ConnectTo("one");
    CFTPFile folder("pub", At(site), false);
    ASSERT_EQ(manager->Explore(&folder, nullptr), 2u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive folder content", 1));
    manager->CancelAll(false);
    control.Send("150 Opening data connection\r\n");
    ASSERT_TRUE(fe.Events().WaitForCount("trace dir reply 150", 1));
    control.Send("426 Transfer aborted\r\n");
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(fe.Events().Count("cmd ABOR"), 1u);
    EXPECT_EQ(fe.Events().Count("trace dir reply 426"), 0u) << "any reply ends the abort wait";
}

TEST_F(Dispatch, StopWithoutDisconnectEndsABlockedActionAndKeepsTheConnection) {
    Start();
    blockCopies = true;
    ConnectionId site = ConnectTo("one");
    CFTPFile source("pub/big", At(site), true);
    CFTPFile dest("/tmp/big", {}, true);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, false), 0u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive file big", 1));
    manager->PostStop(false);
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(fe.Events().Count("trace copy interrupted"), 1u);
    EXPECT_TRUE(manager->IsConnected(site));
    EXPECT_EQ(fe.Events().Count("ConnectionEnded"), 0u);
}

TEST_F(Dispatch, StopWithDisconnectCompletesAtOnceAndEndsOnlyBusyConnections) {
    Start();
    blockCopies = true;
    ConnectionId busy = ConnectTo("busy");
    ConnectionId idle = ConnectTo("idle");
    CFTPFile source("pub/big", At(busy), true);
    CFTPFile dest("/tmp/big", {}, true);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, false), 0u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive file big", 1));
    manager->CancelAll(true);
    EXPECT_EQ(fe.Events().Count("OperationFinished"), 3u) << "completed at once";
    EXPECT_EQ(fe.Events().Count("ConnectionEnded"), 1u);
    EXPECT_FALSE(manager->IsConnected(busy));
    EXPECT_TRUE(manager->IsConnected(idle));
    EXPECT_TRUE(WaitReaped(1)) << "the ended connection is destroyed once its thread ends";
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(fe.Events().Count("OperationFinished"), 3u)
        << "the stopping connection reports nothing";
}

TEST_F(Dispatch, DisconnectEndsAnIdleConnectionsThread) {
    Start();
    ConnectionId site = ConnectTo("one");
    EXPECT_TRUE(manager->Disconnect(site));
    EXPECT_FALSE(manager->Disconnect(site));
    EXPECT_TRUE(WaitReaped(0)) << "reaped when its thread ends, not at the next connect";
    ConnectTo("two");
    EXPECT_EQ(manager->GetConnectionCount(), 1u);
}

TEST_F(Dispatch, DestroyingTheManagerWithBusyConnectionsHangsNothing) {
    Start();
    blockCopies = true;
    ConnectionId site = ConnectTo("one");
    ConnectTo("two");
    CFTPFile source("pub/big", At(site), true);
    CFTPFile dest("/tmp/big", {}, true);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, false), 0u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive file big", 1));
    manager.reset();
    SUCCEED();
}

TEST_F(Dispatch, ShutdownReportsNothingMore) {
    Start();
    blockCopies = true;
    ConnectionId site = ConnectTo("one");
    CFTPFile source("pub/big", At(site), true);
    CFTPFile dest("/tmp/big", {}, true);
    ASSERT_NE(
        manager->Copy(&source, &dest, std::make_unique<CFTPActionCallerDataDir>(1, false), false),
        0u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive file big", 1));
    const std::size_t before = fe.Events().Events().size();
    manager->Shutdown();
    manager.reset();
    auto events = fe.Events().Events();
    for (std::size_t i = before; i < events.size(); ++i) {
        EXPECT_TRUE(events[i].rfind("trace", 0) == 0 || events[i].rfind("step", 0) == 0)
            << "unexpected report after shutdown: " << events[i];
    }
}

TEST_F(Dispatch, OpenFileMarkerOpensTheDownloadedFile) {
    Start();
    ConnectionId site = ConnectTo("one");
    CFTPFile source("pub/readme", At(site), true);
    CFTPFile dest("/nonexistent/readme", {}, true);
    ASSERT_NE(manager->Copy(&source, &dest, CallerData::OpenFileMarker(), false), 0u);
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(fe.Events().Count("TempFile /nonexistent/readme"), 1u);
    EXPECT_EQ(fe.Events().Count("Open /nonexistent/readme"), 1u);
}

} // namespace
} // namespace qb

namespace qb {
namespace {

// --- The seam between the core and a front end ------------------------------------

// A front end that, whenever the core calls it, asks the manager something
// from another thread and waits for the answer, the way a window waits for
// its own thread: any call made while the manager's lock is held blocks.
class ProbingFrontEnd : public test::RecordingFrontEnd {
public:
    std::function<void()> query;
    std::atomic<int> probes{0};
    std::atomic<int> blocked{0};

    void Probe() {
        if (!query) {
            return;
        }
        ++probes;
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread([q = query, done] {
            q();
            done->store(true);
        }).detach();
        for (int i = 0; i < 200 && !done->load(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        if (!done->load()) {
            ++blocked;
        }
    }
    void OnConnectDone(CFTPAction& a) override {
        Probe();
        RecordingFrontEnd::OnConnectDone(a);
    }
    void OnExploreDone(CFTPAction& a) override {
        Probe();
        RecordingFrontEnd::OnExploreDone(a);
    }
    void ClearWorkingMark(const CFTPActionCallerData& d) override {
        Probe();
        RecordingFrontEnd::ClearWorkingMark(d);
    }
    void OperationEnded() override {
        Probe();
        RecordingFrontEnd::OperationEnded();
    }
    void OpenFile(const std::string& path) override {
        Probe();
        RecordingFrontEnd::OpenFile(path);
    }
    void NotifyOperationFinished() override {
        Probe();
        RecordingFrontEnd::NotifyOperationFinished();
    }
    void NotifyConnectionEnded(ConnectionId id) override {
        Probe();
        RecordingFrontEnd::NotifyConnectionEnded(id);
    }
    void NotifyIdle() override {
        Probe();
        RecordingFrontEnd::NotifyIdle();
    }
};

// The handlers of the dispatch tests, on a front end of the test's choice.
class Seam : public Dispatch {
protected:
    void StartWith(test::RecordingFrontEnd& frontEnd) {
        secretary = std::make_unique<CFTPSecretary>(frontEnd.Get());
        manager = std::make_unique<CFTPManager>(frontEnd.Get(), Handlers());
        manager->SetSecretary(secretary.get());
    }
};

TEST_F(Seam, ARecordOfAnEndedConnectionNeverReachesAnotherOne) {
    Start();
    const ConnectionId a = ConnectTo("site.a");
    const CFTPFile fromA("pub", At(a), false);
    const CFTPFile fileOfA("pub/f", At(a), true);
    ASSERT_TRUE(manager->Disconnect(a));
    ASSERT_TRUE(WaitReaped(0));
    const ConnectionId b = ConnectTo("site.b");
    EXPECT_NE(a, b) << "ids are never reused";
    const std::size_t before = fe.Events().Events().size();

    std::string why;
    EXPECT_EQ(manager->Explore(&fromA, nullptr, &why), 0u);
    EXPECT_EQ(why, "The site is not connected (any more).");
    CFTPFileArray items;
    items.Add(fileOfA);
    EXPECT_EQ(manager->Delete(&items, nullptr, &why), 0u);
    EXPECT_EQ(manager->Rename(&fileOfA, "g", nullptr, &why), 0u);
    const CFTPFile local("/tmp/f", {}, true);
    EXPECT_EQ(manager->Copy(&fileOfA, &local, nullptr, false, &why), 0u);
    EXPECT_EQ(manager->GetLastId(), 2u) << "refused requests give their ids back";
    auto events = fe.Events().Events();
    for (std::size_t i = before; i < events.size(); ++i) {
        EXPECT_EQ(events[i].rfind("trace", 0), std::string::npos)
            << "nothing ran on site.b: " << events[i];
    }
}

TEST_F(Seam, NoFrontEndCallHappensWhileTheManagerIsLocked) {
    ProbingFrontEnd probing;
    StartWith(probing);
    probing.query = [this] { manager->GetConnectionCount(); };
    CFTPRemoteManager* unused = nullptr;
    (void)unused;
    ConnectionId site = kNoConnection;
    ASSERT_NE(manager->Connect("one", "", "", "", 21,
                               std::make_unique<CFTPActionCallerDataConnect>(11, true), &site),
              0u);
    ASSERT_TRUE(probing.Events().WaitForCount("Idle", 1));
    CFTPFile folder("pub", At(site), false);
    ASSERT_NE(manager->Explore(&folder, std::make_unique<CFTPActionCallerDataDir>(12, true)), 0u);
    control.Send("226 Transfer complete\r\n");
    ASSERT_TRUE(probing.Events().WaitForCount("Idle", 2));
    // The action's destructor opens a viewed file: outside the lock too.
    CFTPFile source("pub/readme", At(site), true);
    CFTPFile dest("/nonexistent/readme", {}, true);
    ASSERT_NE(manager->Copy(&source, &dest, CallerData::OpenFileMarker(), false), 0u);
    ASSERT_TRUE(probing.Events().WaitForCount("Idle", 3));
    manager->CancelAll(true);
    // The front end goes with this test: the manager first.
    manager.reset();
    EXPECT_GT(probing.probes.load(), 10);
    EXPECT_EQ(probing.blocked.load(), 0);
}

TEST_F(Seam, AQuestionNobodyAnswersIsWithdrawnByStopAndByShutDown) {
    for (const bool shutDown : {false, true}) {
        SCOPED_TRACE(shutDown ? "shut-down" : "stop");
        test::RecordingFrontEnd holding;
        holding.holdQuestions = true;
        StartWith(holding);
        ConnectionId site = kNoConnection;
        ASSERT_NE(manager->Connect("refuses", "", "", "", 21, nullptr, &site), 0u);
        // The failed connect's message box waits for an answer.
        ASSERT_TRUE(holding.Events().WaitForCount("Held", 1));
        EXPECT_EQ(manager->Questions().PendingCount(), 1u);
        const auto start = std::chrono::steady_clock::now();
        if (shutDown) {
            manager->Shutdown();
            manager.reset();
        } else {
            manager->CancelAll(false);
            ASSERT_TRUE(holding.Events().WaitForCount("Idle", 1));
            EXPECT_EQ(holding.Events().Count("QuestionClosed"), 1u);
            EXPECT_EQ(manager->Questions().PendingCount(), 0u);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        manager.reset();
    }
}

TEST_F(Seam, AQuestionIsAnsweredByIdAndTheAnswerCounts) {
    test::RecordingFrontEnd holding;
    holding.holdQuestions = true;
    std::atomic<QuestionId> asked{0};
    holding.onQuestion = [&](const Question& q) { asked = q.id; };
    StartWith(holding);
    ConnectionId site = kNoConnection;
    ASSERT_NE(manager->Connect("refuses", "", "", "", 21, nullptr, &site), 0u);
    ASSERT_TRUE(holding.Events().WaitForCount("Held", 1));
    EXPECT_FALSE(manager->AnswerQuestion(asked + 1, IDOK)) << "no such question";
    EXPECT_TRUE(manager->AnswerQuestion(asked, IDOK));
    EXPECT_FALSE(manager->AnswerQuestion(asked, IDOK)) << "answered once";
    ASSERT_TRUE(holding.Events().WaitForCount("Idle", 1));
    EXPECT_EQ(holding.Events().Count("Report 1 failed"), 1u);
    manager.reset();
}

TEST_F(Seam, EachOperationEndsOnceWhateverTheOthersDo) {
    Start();
    blockCopies = true;
    const ConnectionId a = ConnectTo("busy.a");
    const ConnectionId b = ConnectTo("idle.b");
    CFTPFile source("pub/big", At(a), true);
    CFTPFile dest("/tmp/big", {}, true);
    const OperationId copy = manager->Copy(&source, &dest, nullptr, false);
    ASSERT_NE(copy, 0u);
    ASSERT_TRUE(fe.Events().WaitForCount("step1 receive file big", 1));

    // An explore of site B ends while site A is still busy: B's report
    // comes, its caller data is released, and its working mark cleared.
    CFTPFile folder("pub", At(b), false);
    const OperationId explore =
        manager->Explore(&folder, std::make_unique<CFTPActionCallerDataDir>(7, false));
    ASSERT_NE(explore, 0u);
    control.Send("226 Transfer complete\r\n");
    ASSERT_TRUE(fe.Events().WaitForCount("Report " + std::to_string(explore) + " ok running=1", 1));
    EXPECT_FALSE(manager->HasOperation(explore));
    EXPECT_EQ(fe.Events().Count("ClearMark"), 3u) << "two connects and the explore";
    EXPECT_EQ(fe.Events().Count("OperationEnded"), 2u)
        << "the application goes idle only when nothing runs";

    // Site A is disconnected in the middle of its copy: the copy ends, as
    // cancelled, and the application is idle again.
    ASSERT_TRUE(manager->Disconnect(a));
    ASSERT_TRUE(
        fe.Events().WaitForCount("Report " + std::to_string(copy) + " cancelled running=0", 1));
    EXPECT_EQ(fe.Events().Count("OperationEnded"), 3u);
    EXPECT_EQ(manager->GetRunningCount(), 0u);
}

TEST_F(Seam, RequestsForItemsOfTwoSitesAreRefused) {
    Start();
    const ConnectionId a = ConnectTo("a");
    const ConnectionId b = ConnectTo("b");
    CFTPFileArray mixed;
    mixed.Add(CFTPFile("pub/one", At(a), true));
    mixed.Add(CFTPFile("pub/two", At(b), true));
    const CFTPFile localFolder("/tmp", {}, false);
    const CFTPFile remoteFolder("in", At(a), false);
    std::string why;
    EXPECT_EQ(manager->Delete(&mixed, nullptr, &why), 0u);
    EXPECT_NE(why.find("different sites"), std::string::npos) << why;
    why.clear();
    EXPECT_EQ(manager->CopyItems(&mixed, &localFolder, nullptr, false, &why), 0u);
    EXPECT_NE(why.find("different sites"), std::string::npos) << why;
    EXPECT_EQ(manager->MoveItems(&mixed, &remoteFolder, nullptr), 0u);
    EXPECT_EQ(fe.Events().Count("trace delete"), 0u);
    EXPECT_EQ(fe.Events().Count("trace copy"), 0u);
    EXPECT_EQ(manager->GetLastId(), 2u);
}

// Run under ThreadSanitizer: connections finish their work on their own
// threads while another thread keeps asking the manager about them.
TEST_F(Seam, ConnectionsFinishingWhileAnotherThreadQueries) {
    Start();
    std::vector<ConnectionId> sites;
    for (const char* host : {"s1", "s2", "s3", "s4"}) {
        sites.push_back(ConnectTo(host));
    }
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            for (ConnectionId id : sites) {
                manager->IsConnected(id);
            }
            manager->GetConnectionCount();
            manager->GetRunningCount();
            manager->HasOperation(manager->GetLastId());
        }
    });
    std::size_t finished = sites.size();
    for (int round = 0; round < 5; ++round) {
        for (ConnectionId id : sites) {
            CFTPFileArray items;
            items.Add(CFTPFile("pub/x" + std::to_string(round), At(id), true));
            ASSERT_NE(manager->Delete(&items, nullptr), 0u);
        }
        finished += sites.size();
        ASSERT_TRUE(WaitIdle(finished));
    }
    for (ConnectionId id : sites) {
        manager->Disconnect(id);
    }
    EXPECT_TRUE(WaitReaped(0));
    stop = true;
    reader.join();
}

} // namespace
} // namespace qb
