// The door for front ends: the event queue and the session, driven as the
// window and qbftp drive them.
#include "app/event_queue.h"
#include "app/session.h"
#include "platform/questions.h"
#include "tests/support/script_server.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qb {
namespace {

using namespace std::chrono_literals;

// A private folder, removed with its content at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qbsession.XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
        EXPECT_FALSE(m_path.empty());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::size_t CountLines(const std::deque<CoreEvent>& events) {
    std::size_t lines = 0;
    for (const CoreEvent& e : events) {
        if (auto* batch = std::get_if<event::LogLines>(&e)) {
            lines += batch->lines.size();
        }
    }
    return lines;
}

// --- The queue ----------------------------------------------------------------------

TEST(EventQueue, ABurstWakesTheFrontEndOnceAndArrivesWholeAndInOrder) {
    EventQueue queue;
    std::atomic<int> wakeUps{0};
    queue.SetWakeUp([&] { ++wakeUps; });
    constexpr int kLines = 20000;
    std::thread writer([&] {
        for (int i = 0; i < kLines; ++i) {
            queue.PushLogLine(LOG_REPLY, std::to_string(i));
            if (i % 1000 == 0) {
                queue.Push(event::StatusChanged{});
            }
        }
    });
    std::vector<std::string> seen;
    int drains = 0;
    while (seen.size() < kLines) {
        queue.WaitForEvents(100ms);
        std::deque<CoreEvent> events = queue.TakeAll();
        if (!events.empty()) {
            ++drains;
        }
        int statusEvents = 0;
        for (CoreEvent& e : events) {
            if (auto* batch = std::get_if<event::LogLines>(&e)) {
                for (auto& line : batch->lines) {
                    seen.push_back(line.text);
                }
            } else if (std::holds_alternative<event::StatusChanged>(e)) {
                ++statusEvents;
            }
        }
        EXPECT_LE(statusEvents, 1) << "status changes fold into one";
    }
    writer.join();
    for (int i = 0; i < kLines; ++i) {
        ASSERT_EQ(seen[static_cast<std::size_t>(i)], std::to_string(i));
    }
    EXPECT_LE(wakeUps.load(), drains + 1) << "one wake-up per batch, not per line";
}

TEST(EventQueue, ChangesInOneFolderFoldAndWaitingLinesAreBounded) {
    EventQueue queue;
    auto change = [](const std::string& path) {
        event::ItemsChanged changed;
        changed.changes.push_back(
            event::ItemChange{event::ItemChange::Created, CFTPFile(path, SiteRef{3, "h"}, true)});
        return changed;
    };
    queue.Push(change("pub/a"));
    queue.Push(change("pub/b"));
    queue.Push(change("other/c"));
    std::deque<CoreEvent> events = queue.TakeAll();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<event::ItemsChanged>(events[0]).changes.size(), 2u);
    EXPECT_EQ(std::get<event::ItemsChanged>(events[1]).changes.size(), 1u);

    for (std::size_t i = 0; i < EventQueue::kMaxWaitingLogLines + 10; ++i) {
        queue.PushLogLine(LOG_NOTE, "x");
    }
    events = queue.TakeAll();
    EXPECT_EQ(CountLines(events), EventQueue::kMaxWaitingLogLines + 1);
    const auto& last = std::get<event::LogLines>(events.back()).lines.back();
    EXPECT_EQ(last.text, "10 log lines were left out: they came faster than they could be shown.");

    queue.Close();
    queue.PushLogLine(LOG_NOTE, "after");
    EXPECT_TRUE(queue.TakeAll().empty());
}

// --- The session ----------------------------------------------------------------------

// Questions of the front end's own thread, answered OK and recorded.
class OwnThreadQuestions : public IQuestions {
public:
    int MessageBox(const std::string& text, unsigned) override {
        texts.push_back(text);
        return IDOK;
    }
    std::vector<std::string> texts;
};

// A session on a private profile folder, as the window starts one.
class SessionTest : public ::testing::Test {
protected:
    SessionTest() {
        ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
        EngineOptions options;
        options.restartFirstDelay = 10ms;
        Open(options);
    }
    // (Re)opens the session with these options.
    void Open(const EngineOptions& options) {
        session.reset();
        session.emplace(&questions, options);
        session->SetSaveProfileAtExit(false);
        EXPECT_TRUE(session->OpenProfile(CommandLineInfo{}));
        EXPECT_TRUE(session->Start());
    }
    ~SessionTest() override {
        session.reset();
        ::unsetenv("XDG_CONFIG_HOME");
    }

    // Takes events, oldest first, until `until` holds for one of them
    // (bounded); the events after it stay for the next call.
    std::optional<CoreEvent> WaitFor(const std::function<bool(CoreEvent&)>& until,
                                     std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (!pending.empty()) {
                CoreEvent e = std::move(pending.front());
                pending.pop_front();
                taken.push_back(e);
                if (until(e)) {
                    return e;
                }
            }
            if (std::chrono::steady_clock::now() >= end) {
                return std::nullopt;
            }
            session->WaitForEvents(50ms);
            pending = session->TakeEvents();
        }
    }
    std::optional<event::OperationEnded> WaitEnd(OperationId id) {
        auto e = WaitFor([id](CoreEvent& e) {
            auto* ended = std::get_if<event::OperationEnded>(&e);
            return ended && ended->report.id == id;
        });
        if (!e) {
            return std::nullopt;
        }
        return std::get<event::OperationEnded>(*e);
    }
    std::optional<Question> WaitQuestion() {
        auto e =
            WaitFor([](CoreEvent& e) { return std::holds_alternative<event::QuestionAsked>(e); });
        if (!e) {
            return std::nullopt;
        }
        return std::get<event::QuestionAsked>(*e).question;
    }
    void ScriptLogin() {
        server.Greet()
            .On("USER u", "230 In")
            .On("TYPE I", "200 Binary")
            .On("REST 100", "350 OK")
            .On("REST 0", "350 OK");
        server.On("SYST", "215 UNIX Type: L8").On("PWD", "257 \"/\"").On("TYPE A", "200 OK");
        server.Pasv().SendData("LIST", "-rw-r--r-- 1 u g 5 Jan 10 2024 a.txt\r\n");
    }
    CFTPSession::Submitted Connect(bool startServer = true) {
        if (startServer) {
            server.Start();
        }
        SiteConnectRequest request;
        request.host = "127.0.0.1";
        request.port = server.ListenPort();
        request.user = "u";
        request.password = "p";
        request.firewall = ClassicFtp();
        request.firewall.enabled = true;
        request.firewall.type = 5;
        return session->Connect(request);
    }

    TempDir dir;
    OwnThreadQuestions questions;
    std::optional<CFTPSession> session;
    test::ScriptServer server;
    std::deque<CoreEvent> pending;
    std::vector<CoreEvent> taken;
};

TEST_F(SessionTest, AConnectBringsItsListingAndItsEndAsEvents) {
    ScriptLogin();
    const CFTPSession::Submitted connected = Connect();
    ASSERT_TRUE(connected) << connected.refusal;
    ASSERT_NE(connected.connection, kNoConnection);
    auto listing = WaitFor([](CoreEvent& e) { return std::holds_alternative<event::Listing>(e); });
    ASSERT_TRUE(listing);
    const auto& l = std::get<event::Listing>(*listing);
    EXPECT_TRUE(l.connect);
    EXPECT_TRUE(l.succeeded);
    EXPECT_EQ(l.connection, connected.connection);
    EXPECT_EQ(l.operation, connected.operation);
    ASSERT_TRUE(l.content);
    ASSERT_EQ(l.content->GetFiles().GetSize(), 1u);
    EXPECT_EQ(l.content->GetFiles().GetAt(0)->GetPath(true), "127.0.0.1 : a.txt");
    auto ended = WaitEnd(connected.operation);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(ended->report.succeeded);
    EXPECT_TRUE(session->IsConnected(connected.connection));
    std::size_t logLines = 0;
    for (const CoreEvent& e : taken) {
        if (auto* batch = std::get_if<event::LogLines>(&e)) {
            logLines += batch->lines.size();
        }
    }
    EXPECT_GE(logLines, 10u) << "the dialogue reaches the log";

    // A request naming a connection that is gone is refused with a reason.
    ASSERT_TRUE(session->Disconnect(connected.connection));
    const CFTPFile gone("pub", SiteRef{connected.connection, "127.0.0.1"}, false);
    const CFTPSession::Submitted refused = session->Explore(gone);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.refusal, "The site is not connected (any more).");
}

TEST_F(SessionTest, EverySessionEndsWithQuitBeforeTheSiteIsConnectedAgain) {
    ScriptLogin();
    server.On("QUIT", "221 Goodbye").CloseAfterLast();
    constexpr int kRounds = 3;
    server.Start(kRounds);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const CFTPSession::Submitted connected = Connect(false);
        ASSERT_TRUE(connected) << connected.refusal;
        auto ended = WaitEnd(connected.operation);
        ASSERT_TRUE(ended);
        ASSERT_TRUE(ended->report.succeeded);
        ASSERT_TRUE(session->Disconnect(connected.connection));
    }
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Mismatch(), "");
    // Each session's last word is "QUIT", before the next one logs in.
    const std::vector<std::string> commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "QUIT"), kRounds);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "QUIT");
    for (std::size_t i = 1; i < commands.size(); ++i) {
        if (commands[i] == "USER u") {
            EXPECT_EQ(commands[i - 1], "QUIT") << "command " << i;
        }
    }
}

// pyftpdlib on a free loopback port over a small folder, for as long as
// the object lives; Port() is 0 when it is not installed or did not start.
class PyFtpd {
public:
    explicit PyFtpd(const std::string& root) {
        if (::access("/usr/bin/python3", X_OK) != 0 ||
            std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) {
            return;
        }
        std::uint16_t port = 0;
        {
            net::Socket probe;
            std::string address;
            if (!net::ListenTcp("127.0.0.1", probe, 1).ok() ||
                !net::LocalEndpoint(probe.Fd(), address, port)) {
                return;
            }
        }
        const std::string portText = std::to_string(port);
        m_pid = ::fork();
        if (m_pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl("/usr/bin/python3", "python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
                    portText.c_str(), "-d", root.c_str(), "-u", "u", "-P", "p", nullptr);
            ::_exit(127);
        }
        // Ready once it accepts a connection (bounded).
        for (int attempt = 0; attempt < 200 && m_pid > 0; ++attempt) {
            net::Socket control;
            if (net::ConnectTcp("127.0.0.1", port, control, {}).ok()) {
                m_port = port;
                return;
            }
            std::this_thread::sleep_for(25ms);
        }
    }
    ~PyFtpd() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    PyFtpd(const PyFtpd&) = delete;
    PyFtpd& operator=(const PyFtpd&) = delete;
    std::uint16_t Port() const { return m_port; }

private:
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
};

TEST_F(SessionTest, ASiteConnectedAgainRightAfterADisconnectLogsInEveryTime) {
    // pyftpdlib loses a new session when it tidies up an old one's active
    // data connection after it has accepted the new one: each disconnect,
    // here while a listing is under way, must be over on the server's side
    // before the next connect of the site begins.
    const std::string root = dir.File("site");
    std::filesystem::create_directory(root);
    std::ofstream(root + "/a.txt") << "a";
    PyFtpd pyftpd(root);
    if (pyftpd.Port() == 0) {
        GTEST_SKIP() << "pyftpdlib is not installed";
    }
    // A server that does not answer fails the round within a few seconds
    // (room for a loaded machine; a lost session never answers at all).
    EngineOptions options;
    options.replyTimeout = 3s;
    options.maxConnectAttempts = 1;
    Open(options);
    SiteConnectRequest request;
    request.host = "127.0.0.1";
    request.port = pyftpd.Port();
    request.user = "u";
    request.password = "p";
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const CFTPSession::Submitted connected = session->Connect(request);
        ASSERT_TRUE(connected) << connected.refusal;
        // The failure's message box is a question; its end comes only after it.
        auto e = WaitFor([&](CoreEvent& e) {
            auto* ended = std::get_if<event::OperationEnded>(&e);
            return std::holds_alternative<event::QuestionAsked>(e) ||
                   (ended && ended->report.id == connected.operation);
        });
        ASSERT_TRUE(e);
        if (auto* asked = std::get_if<event::QuestionAsked>(&*e)) {
            FAIL() << asked->question.text;
        }
        ASSERT_TRUE(std::get<event::OperationEnded>(*e).report.succeeded);
        ASSERT_TRUE(
            session->Explore(CFTPFile("", SiteRef{connected.connection, "127.0.0.1"}, false)));
        ASSERT_TRUE(session->Disconnect(connected.connection));
    }
}

TEST_F(SessionTest, AnOverwriteQuestionIsAnsweredByIdOrWithdrawnByAStop) {
    ScriptLogin();
    server.On("TYPE I", "200 OK").Pasv().SendData("RETR /a.txt", "fresh", "150 Go (5 bytes)");
    server.On("TYPE I", "200 OK");
    const CFTPSession::Submitted connected = Connect();
    ASSERT_TRUE(WaitEnd(connected.operation));
    const std::string local = dir.File("a.txt");
    std::ofstream(local) << "old";
    const CFTPFile remote("a.txt", SiteRef{connected.connection, "127.0.0.1"}, true);
    const CFTPFile dest(local, SiteRef{}, true);

    // Answered: the file is replaced.
    CFTPSession::Submitted copy = session->Copy(remote, dest, false);
    ASSERT_TRUE(copy);
    std::optional<Question> q = WaitQuestion();
    ASSERT_TRUE(q);
    EXPECT_EQ(q->kind, Question::Kind::Overwrite);
    EXPECT_EQ(q->existing, local);
    EXPECT_EQ(q->operation, copy.operation);
    EXPECT_TRUE(session->Answer(q->id, Question::OVERWRITE));
    auto ended = WaitEnd(copy.operation);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(ended->report.succeeded);
    std::ifstream in(local);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "fresh");

    // Left unanswered, then stopped: the question closes, nothing is
    // written, and the operation ends as cancelled.
    copy = session->Copy(remote, dest, false);
    q = WaitQuestion();
    ASSERT_TRUE(q);
    session->Stop(false);
    auto closed = WaitFor([&](CoreEvent& e) {
        auto* c = std::get_if<event::QuestionClosed>(&e);
        return c && c->id == q->id;
    });
    EXPECT_TRUE(closed);
    ended = WaitEnd(copy.operation);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(ended->report.succeeded);
    EXPECT_TRUE(ended->report.cancelled);
    EXPECT_FALSE(session->Answer(q->id, Question::OVERWRITE)) << "withdrawn";
}

TEST_F(SessionTest, ExitWithAQuestionOpenEndsPromptlyAndReportsNothingMore) {
    ScriptLogin();
    server.On("TYPE I", "200 OK");
    const CFTPSession::Submitted connected = Connect();
    ASSERT_TRUE(WaitEnd(connected.operation));
    const std::string local = dir.File("a.txt");
    std::ofstream(local) << "old";
    const CFTPFile remote("a.txt", SiteRef{connected.connection, "127.0.0.1"}, true);
    ASSERT_TRUE(session->Copy(remote, CFTPFile(local, SiteRef{}, true), false));
    ASSERT_TRUE(WaitQuestion());
    const auto start = std::chrono::steady_clock::now();
    session->Exit();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(session->TakeEvents().empty());
    EXPECT_FALSE(session->Explore(CFTPFile("x", SiteRef{connected.connection, "h"}, false)));
}

TEST_F(SessionTest, NotificationsBecomeEventsAndLocalFileChangesWaitForARefresh) {
    INotifier& notifier = *session->Notifier();
    const CFTPFile remote("pub/f", SiteRef{4, "h"}, true);
    notifier.NotifyRemoteFileCreated(remote);
    notifier.NotifyLocalFileDeleted("/l/f");
    notifier.NotifyConnectionEnded(4);
    notifier.NotifyRenameFinished("old", "new", 9);
    session->App().SetRefreshPending(true);
    notifier.NotifyLocalFileCreated("/l/g");
    notifier.NotifyLocalFolderCreated("/l/d");
    session->App().SetRefreshPending(false);
    std::deque<CoreEvent> events = session->TakeEvents();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(std::get<event::ItemsChanged>(events[0]).changes[0].item.GetPath(true), "h : pub/f");
    const auto& deleted = std::get<event::ItemsChanged>(events[1]).changes[0];
    EXPECT_EQ(deleted.kind, event::ItemChange::Deleted);
    EXPECT_EQ(deleted.item.GetPath(), "/l/f");
    EXPECT_FALSE(deleted.item.IsRemote());
    EXPECT_EQ(std::get<event::ConnectionEnded>(events[2]).connection, 4u);
    EXPECT_EQ(std::get<event::Renamed>(events[3]).newName, "new");
    const auto& folder = std::get<event::ItemsChanged>(events[4]).changes;
    ASSERT_EQ(folder.size(), 1u) << "the local file was left to the refresh";
    EXPECT_FALSE(folder[0].item.m_bFile);
}

} // namespace
} // namespace qb
