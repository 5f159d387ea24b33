// Copies, moves, deletes and renames against a scripted server.
#include "dispatch/manager.h"
#include "engine/remote_manager.h"
#include "engine/secretary.h"
#include "tests/support/recorders.h"
#include "tests/support/script_server.h"
#include "tests/support/test_files.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {
namespace {

using namespace std::chrono_literals;
using Commands = std::vector<std::string>;
using Q = Question;

using test::ReadFile;
using test::WriteFile;

// A scripted server plus an engine connected to it as u into "/" (empty
// listing), with a private local folder.
class Transfer : public ::testing::Test {
protected:
    Transfer() {
        char pattern[] = "/tmp/qb-transfer-XXXXXX";
        local = ::mkdtemp(pattern);
        secretary = std::make_unique<CFTPSecretary>(fe.Get());
        manager = std::make_unique<CFTPManager>(fe.Get());
        manager->SetSecretary(secretary.get());
    }

    // The login of u into "/" with an empty listing; before the test's own steps.
    void Login(bool passive = false) {
        server.Greet()
            .On("USER u", "230 In")
            .On("TYPE I", "200 Binary")
            .On("REST 100", "350 OK")
            .On("REST 0", "350 OK");
        server.On("SYST", "215 UNIX Type: L8").On("PWD", "257 \"/\"").On("TYPE A", "200 OK");
        passive ? server.Pasv() : server.Port();
        server.SendData("LIST", "");
    }
    ~Transfer() override {
        manager.reset();
        std::string cmd = "rm -rf " + local;
        [[maybe_unused]] int rc = std::system(cmd.c_str());
    }

    CFTPRemoteManager* Connect(bool passive = false) {
        server.Start();
        FirewallSettings fw = ClassicFtp();
        fw.enabled = passive;
        fw.type = 5;
        ConnectionId cId = kNoConnection;
        EXPECT_NE(
            manager->Connect("127.0.0.1", "u", "p", "", server.ListenPort(), nullptr, &cId, fw),
            0u);
        EXPECT_TRUE(WaitOps(1));
        return manager->FindConnection(cId);
    }
    bool WaitOps(std::size_t n) { return fe.Events().WaitForCount("Idle", n); }
    Commands AfterLogin() {
        Commands all = server.Commands();
        auto list = std::find(all.begin(), all.end(), "LIST");
        return list == all.end() ? Commands{} : Commands(list + 1, all.end());
    }
    // The data command ("PASV" or "PORT ...") reduced to its verb.
    static Commands Verbs(Commands commands) {
        for (auto& c : commands) {
            if (c.rfind("PORT ", 0) == 0) {
                c = "PORT";
            }
        }
        return commands;
    }

    test::ScriptServer server;
    test::RecordingFrontEnd fe;
    std::unique_ptr<CFTPSecretary> secretary;
    std::unique_ptr<CFTPManager> manager;
    std::string local;
};

class TransferModes : public Transfer, public ::testing::WithParamInterface<bool> {};

TEST_P(TransferModes, DownloadAndUpload) {
    Login(GetParam());
    const bool passive = GetParam();
    const std::string payload(300000, 'x');
    server.On("TYPE I", "200 OK");
    passive ? server.Pasv() : server.Port();
    server.SendData("RETR /pub/big.bin", payload, "150 Opening (300000 bytes)");
    server.On("TYPE I", "200 OK");
    passive ? server.Pasv() : server.Port();
    server.ReceiveData("STOR /in/up.bin").On("SIZE /in/up.bin", "213 10");
    server.On("TYPE I", "200 OK");
    passive ? server.Pasv() : server.Port();
    server.ReceiveData("STOR /in/empty").On("SIZE /in/empty", "213 0");
    CFTPRemoteManager* c = Connect(passive);
    CFTPFile source("pub/big.bin", c->Ref(), true);
    CFTPFile dest(local + "/big.bin", {}, true);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(ReadFile(local + "/big.bin"), payload);
    EXPECT_EQ(fe.Events().Count("LocalFileCreated " + local + "/big.bin"), 1u);

    WriteFile(local + "/up.bin", "upload me\n");
    WriteFile(local + "/empty", "");
    CFTPFile up(local + "/up.bin", {}, true);
    CFTPFile upDest("in/up.bin", c->Ref(), true);
    ASSERT_NE(manager->Copy(&up, &upDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(3));
    CFTPFile empty(local + "/empty", {}, true);
    CFTPFile emptyDest("in/empty", c->Ref(), true);
    ASSERT_NE(manager->Copy(&empty, &emptyDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(4));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(server.ReceivedData(), "upload me\n");
    EXPECT_EQ(fe.Events().Count("RemoteFileCreated in/up.bin"), 1u);
    EXPECT_TRUE(fe.Questions().empty());
}

INSTANTIATE_TEST_SUITE_P(Engine, TransferModes, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Passive" : "Active";
                         });

// A download into an open descriptor (standard output): written from where
// the descriptor stands as the data comes, nothing local looked at or made,
// and a transfer cut short fails although its bytes have gone out.
TEST_F(Transfer, ADownloadIntoAStreamIsWrittenAsItComesAndChecked) {
    const struct {
        const char* name;
        bool pipe;             // a pipe, else a file with "head\n" already in it
        std::string announced; // the 150 reply
        std::string data;      // what the server sends
        const char* sizeReply; // the reply to "SIZE" (when asked)
        const char* why;       // the failure shown; nullptr: none
    } cases[] = {
        {"whole, into a pipe", true, "150 Opening (10 bytes)", "0123456789", nullptr, nullptr},
        {"whole, after what the file holds", false, "150 Opening (10 bytes)", "0123456789", nullptr,
         nullptr},
        {"cut short of the 150's size", true, "150 Opening (10 bytes)", "0123", nullptr,
         "The data connection ended after 4 of 10 bytes."},
        {"cut short of SIZE", false, "150 Opening", "0123", "213 10",
         "The file arrived with 4 bytes; the server gives its size as 10 bytes."},
    };
    Login();
    for (const auto& t : cases) {
        server.On("TYPE I", "200 OK").Port().SendData("RETR /f.bin", t.data, t.announced);
        if (t.sizeReply) {
            server.On("SIZE /f.bin", t.sizeReply);
        }
    }
    CFTPRemoteManager* c = Connect();
    std::size_t ops = 1;
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        int fds[2] = {-1, -1};
        const std::string path = local + "/stream";
        if (t.pipe) {
            ASSERT_EQ(::pipe(fds), 0);
        } else {
            WriteFile(path, "head\n");
            fds[1] = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_GE(fds[1], 0);
            ASSERT_EQ(::lseek(fds[1], 0, SEEK_END), 5);
        }
        const std::size_t questions = fe.Questions().size();
        CFTPFile source("f.bin", c->Ref(), true);
        CFTPFile dest("standard output", {}, true);
        ASSERT_NE(manager->Copy(&source, &dest, CallerData::StreamMarker(fds[1]), false), 0u);
        ASSERT_TRUE(WaitOps(++ops));
        ::close(fds[1]);
        std::string received;
        if (t.pipe) {
            char buffer[64];
            for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
                received.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(fds[0]);
        } else {
            received = ReadFile(path);
            ::unlink(path.c_str());
        }
        EXPECT_EQ(received, (t.pipe ? "" : "head\n") + t.data);
        ASSERT_EQ(fe.Questions().size(), questions + (t.why ? 1 : 0));
        if (t.why) {
            EXPECT_NE(fe.Questions().back().find(t.why), std::string::npos)
                << fe.Questions().back();
        }
        EXPECT_EQ(fe.Events().Count("LocalFileCreated"), 0u);
        EXPECT_TRUE(std::filesystem::is_empty(local));
    }
    EXPECT_EQ(server.Mismatch(), "");
    // Only the download of one file goes to a stream.
    WriteFile(local + "/up", "x");
    CFTPFile up(local + "/up", {}, true);
    CFTPFile upDest("up", c->Ref(), true);
    EXPECT_EQ(manager->Copy(&up, &upDest, CallerData::StreamMarker(1), false), 0u);
}

// With the remote time kept, "MDTM" gives it exactly (UTC) where the server
// offers it; where it does not, or refuses, the listing's time is taken.
TEST(PreserveTime, MdtmGivesTheExactTimeAndTheListingIsTheFallback) {
    const std::time_t listed = 1559347200; // 2019-06-01 00:00:00 UTC, as a listing gave it
    const std::time_t exact = 1577934245;  // 2020-01-02 03:04:05 UTC
    const struct {
        const char* name;
        const char* features;
        const char* mdtmReply; // nullptr: not asked
        std::time_t seconds;
        long nanos;
    } cases[] = {
        {"exact", "211-Features:\r\n MDTM\r\n SIZE\r\n211 End", "213 20200102030405", exact, 0},
        {"with a fraction", "211-Features:\r\n MDTM\r\n211 End", "213 20200102030405.25", exact,
         250'000'000},
        {"refused", "211-Features:\r\n MDTM\r\n211 End", "550 Could not get the time", listed, 0},
        {"not a time", "211-Features:\r\n MDTM\r\n211 End", "213 2020-01-02", listed, 0},
        {"not offered", "211-Features:\r\n SIZE\r\n211 End", nullptr, listed, 0},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        char pattern[] = "/tmp/qb-mdtm-XXXXXX";
        const std::string local = ::mkdtemp(pattern);
        test::RecordingFrontEnd fe;
        CFTPSecretary secretary(fe.Get());
        EngineOptions options;
        options.preserveDownloadTime = true;
        CFTPManager manager(fe.Get(), DefaultHandlers(), options);
        manager.SetSecretary(&secretary);
        test::ScriptServer s;
        s.Greet().On("USER u", "230 In").On("FEAT", t.features);
        s.On("TYPE I", "200 Binary").On("REST 100", "350 OK").On("REST 0", "350 OK");
        s.On("SYST", "215 UNIX Type: L8").On("PWD", "257 \"/\"");
        s.On("TYPE A", "200 OK").Pasv().SendData("LIST -a", "");
        s.On("TYPE I", "200 OK").Pasv().SendData("RETR /f.bin", "abc", "150 Opening (3 bytes)");
        if (t.mdtmReply) {
            s.On("MDTM /f.bin", t.mdtmReply);
        }
        s.Start();
        FirewallSettings fw; // every extension on
        fw.enabled = true;
        fw.type = 5;
        fw.extendedData = false;
        ConnectionId connId = kNoConnection;
        ASSERT_NE(manager.Connect("127.0.0.1", "u", "p", "", s.ListenPort(), nullptr, &connId, fw),
                  0u);
        ASSERT_TRUE(fe.Events().WaitForCount("Idle", 1));
        CFTPRemoteManager* conn = manager.FindConnection(connId);
        ASSERT_NE(conn, nullptr);
        CFTPFile source("f.bin", conn->Ref(), true);
        source.SetTime(listed);
        CFTPFile dest(local + "/f.bin", {}, true);
        ASSERT_NE(manager.Copy(&source, &dest, nullptr, false), 0u);
        ASSERT_TRUE(fe.Events().WaitForCount("Idle", 2));
        EXPECT_EQ(s.Mismatch(), "");
        EXPECT_TRUE(fe.Questions().empty());
        EXPECT_EQ(ReadFile(local + "/f.bin"), "abc");
        struct stat st {};
        ASSERT_EQ(::stat((local + "/f.bin").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, t.seconds);
        EXPECT_EQ(st.st_mtim.tv_nsec, t.nanos);
        std::filesystem::remove_all(local);
    }
}

TEST_F(Transfer, ExistingLocalFilesAreAskedAboutOncePerAnswer) {
    Login();
    // Two files of one operation onto existing local files, then another
    // operation: "Resume All" holds for the first operation only.
    // Resumes ask for the remote size first (the items come without one);
    // a fresh download without a size in its 150 reply asks after it.
    server.On("TYPE I", "200 OK").On("SIZE /a", "213 10").Port().On("REST 5", "350 Restarting");
    server.SendData("RETR /a", "-more");
    server.On("TYPE I", "200 OK").On("SIZE /b", "213 8").Port().On("REST 3", "350 Restarting");
    server.SendData("RETR /b", "-rest");
    server.On("TYPE I", "200 OK").Port().SendData("RETR /a", "fresh").On("SIZE /a", "213 5");
    CFTPRemoteManager* c = Connect();
    WriteFile(local + "/a", "start");
    WriteFile(local + "/b", "old");
    fe.ScriptOverwrite({Q::RESUME_ALL, Q::OVERWRITE});
    CFTPFileArray items;
    items.Add(CFTPFile("a", c->Ref(), true));
    items.Add(CFTPFile("b", c->Ref(), true));
    CFTPFile folder(local, {}, false);
    ASSERT_NE(manager->CopyItems(&items, &folder, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(ReadFile(local + "/a"), "start-more");
    EXPECT_EQ(ReadFile(local + "/b"), "old-rest");
    EXPECT_EQ(fe.Events().Count("AskOverwrite"), 1u);
    EXPECT_EQ(fe.Events().Count("AskOverwrite " + local + "/a <- 127.0.0.1 : a resumable"), 1u);
    CFTPFile again(local + "/a", {}, true);
    ASSERT_NE(manager->Copy(items.GetAt(0), &again, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(3));
    EXPECT_EQ(fe.Events().Count("AskOverwrite"), 2u) << "the next operation asks again";
    EXPECT_EQ(server.Mismatch(), "");
}

TEST_F(Transfer, SkipAndRefusedResume) {
    Login();
    server.On("TYPE I", "200 OK").On("SIZE /r", "213 10");
    server.Port().On("REST 4", "502 REST not implemented");
    server.SendData("RETR /r", "whole file");
    CFTPRemoteManager* c = Connect();
    WriteFile(local + "/s", "keep");
    WriteFile(local + "/r", "part");
    fe.ScriptOverwrite({Q::SKIP, Q::RESUME});
    CFTPFile s("s", c->Ref(), true);
    CFTPFile sDest(local + "/s", {}, true);
    ASSERT_NE(manager->Copy(&s, &sDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    CFTPFile r("r", c->Ref(), true);
    CFTPFile rDest(local + "/r", {}, true);
    ASSERT_NE(manager->Copy(&r, &rDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(3));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(ReadFile(local + "/s"), "keep");
    EXPECT_EQ(ReadFile(local + "/r"), "whole file") << "a refused REST sends it all again";
    EXPECT_TRUE(fe.Questions().empty());
}

TEST_F(Transfer, TextModeConvertsLineEndsAndNeverResumes) {
    Login();
    fe.transferType = 'A';
    server.On("TYPE A", "200 OK").Port().SendData("RETR /t.txt", "one\r\ntwo\r\n\r\nthree\r");
    server.On("TYPE A", "200 OK").Port().ReceiveData("STOR /u.txt");
    CFTPRemoteManager* c = Connect();
    WriteFile(local + "/t.txt", "one\n");
    fe.ScriptOverwrite({Q::RESUME});
    CFTPFile t("t.txt", c->Ref(), true);
    CFTPFile tDest(local + "/t.txt", {}, true);
    ASSERT_NE(manager->Copy(&t, &tDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(ReadFile(local + "/t.txt"), "one\ntwo\n\nthree\r");
    WriteFile(local + "/u.txt", "a\nb\r\nc");
    CFTPFile u(local + "/u.txt", {}, true);
    CFTPFile uDest("u.txt", c->Ref(), true);
    ASSERT_NE(manager->Copy(&u, &uDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(3));
    EXPECT_EQ(server.ReceivedData(), "a\r\nb\r\nc");
    EXPECT_EQ(server.Mismatch(), "") << "no REST in text mode";
}

TEST_F(Transfer, MoveWithinASiteGoesThroughATemporaryFile) {
    Login();
    server.On("TYPE I", "200 OK").Port().SendData("RETR /a/f", "content");
    server.On("TYPE I", "200 OK").Port().ReceiveData("STOR /b/f");
    server.On("SIZE /b/f", "213 7").On("DELE /a/f", "250 Deleted");
    CFTPRemoteManager* c = Connect();
    CFTPFile source("a/f", c->Ref(), true);
    CFTPFile dest("b/f", c->Ref(), true);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, true), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(server.ReceivedData(), "content");
    EXPECT_EQ(fe.Events().Count("RemoteFileDeleted a/f"), 1u);
    EXPECT_TRUE(fe.Questions().empty());
}

TEST_F(Transfer, AFolderDownloadsWithItsContent) {
    Login();
    server.On("CWD /pub", "250 OK").On("PWD", "257 \"/pub\"").On("TYPE A", "200 OK").Port();
    server.SendData("LIST", "drwxr-xr-x 2 u g 0 Jan 1 2020 sub\r\n"
                            "-rw-r--r-- 1 u g 1 Jan 1 2020 one\r\n"
                            "-rw-r--r-- 1 u g 1 Jan 1 2020 two\r\n");
    server.On("CWD /pub/sub", "250 OK").On("PWD", "257 \"/pub/sub\"");
    server.On("TYPE A", "200 OK").Port();
    server.SendData("LIST", "-rw-r--r-- 1 u g 1 Jan 1 2020 deep\r\n");
    server.On("TYPE I", "200 OK").Port().SendData("RETR /pub/sub/deep", "d");
    server.On("TYPE I", "200 OK").Port().SendData("RETR /pub/two", "2");
    server.On("TYPE I", "200 OK").Port().SendData("RETR /pub/one", "1");
    CFTPRemoteManager* c = Connect();
    CFTPFileArray items;
    items.Add(CFTPFile("pub", c->Ref(), false));
    CFTPFile folder(local, {}, false);
    ASSERT_NE(manager->CopyItems(&items, &folder, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(ReadFile(local + "/pub/one"), "1");
    EXPECT_EQ(ReadFile(local + "/pub/two"), "2");
    EXPECT_EQ(ReadFile(local + "/pub/sub/deep"), "d");
    EXPECT_TRUE(fe.Questions().empty());
}

TEST_F(Transfer, DownloadsNeverWriteThroughLinksOrOutsideTheFolder) {
    Login();
    CFTPRemoteManager* c = Connect();
    const std::string outside = local + "/outside";
    WriteFile(outside, "untouched");
    ASSERT_EQ(::symlink(outside.c_str(), (local + "/planted").c_str()), 0);
    fe.ScriptOverwrite({Q::OVERWRITE});
    CFTPFile source("planted", c->Ref(), true);
    CFTPFile dest(local + "/planted", {}, true);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    CFTPFileArray items;
    items.Add(CFTPFile("..", c->Ref(), true));
    CFTPFile folder(local + "/sub", {}, false);
    ASSERT_NE(manager->CopyItems(&items, &folder, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(3));
    EXPECT_EQ(ReadFile(outside), "untouched");
    ASSERT_EQ(fe.Questions().size(), 2u);
    EXPECT_NE(fe.Questions()[0].find("is a symbolic link"), std::string::npos);
    EXPECT_NE(fe.Questions()[1].find("cannot be used for a local file"), std::string::npos);
    EXPECT_EQ(AfterLogin(), Commands{}) << "nothing was asked of the server";
}

// A local write that fails (a full disk; here a file size limit) fails the
// download with the reason. Devices are never written to: /dev/full is
// refused before anything is asked of the server.
TEST_F(Transfer, AFullDiskFailsTheDownloadAndDevicesAreNotReplaced) {
    Login();
    server.On("TYPE I", "200 OK").Port();
    server.SendData("RETR /big", std::string(1 << 20, 'z'), "150 Go", "226 Done");
    server.On("ABOR", std::vector<std::string>{"225 No transfer to abort"});
    server.On("NOOP", "200 NOOP ok");
    CFTPRemoteManager* c = Connect();
    CFTPFile source("big", c->Ref(), true);
    struct stat st {};
    if (::stat("/dev/full", &st) == 0) {
        fe.ScriptOverwrite({Q::OVERWRITE});
        CFTPFile device("/dev/full", {}, true);
        ASSERT_NE(manager->Copy(&source, &device, nullptr, false), 0u);
        ASSERT_TRUE(WaitOps(2));
        ASSERT_EQ(fe.Questions().size(), 1u);
        EXPECT_NE(fe.Questions()[0].find("is not a regular file"), std::string::npos);
        ASSERT_EQ(::stat("/dev/full", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device is still there";
    }
    const std::size_t before = fe.Questions().size();
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    CFTPFile dest(local + "/big", {}, true);
    const std::size_t ops = fe.Events().Count("Idle");
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, false), 0u);
    const bool ended = WaitOps(ops + 1);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(ended);
    ASSERT_EQ(fe.Questions().size(), before + 1);
    EXPECT_NE(fe.Questions().back().find("Failed to write the local file"), std::string::npos)
        << fe.Questions().back();
    EXPECT_EQ(server.Mismatch(), "");
}

TEST_F(Transfer, DeleteAFolderTreeInOrder) {
    Login();
    server.On("CWD /d", "250 OK").On("TYPE A", "200 OK").Port();
    server.SendData("LIST", "drwxr-xr-x 2 u g 0 Jan 1 2020 s\r\n"
                            "-rw-r--r-- 1 u g 1 Jan 1 2020 f1\r\n"
                            "-rw-r--r-- 1 u g 1 Jan 1 2020 f2\r\n");
    server.On("DELE /d/f2", "250 OK").On("DELE /d/f1", "200 OK");
    server.On("CWD /d/s", "250 OK").On("TYPE A", "200 OK").Port().SendData("LIST", "");
    server.On("CDUP", "250 OK").On("RMD /d/s", "250 OK");
    server.On("CDUP", "250 OK").On("RMD /d", "250 OK");
    CFTPRemoteManager* c = Connect();
    CFTPFileArray items;
    items.Add(CFTPFile("d", c->Ref(), false));
    ASSERT_NE(manager->Delete(&items, nullptr), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_TRUE(fe.Questions().empty());
    EXPECT_EQ(fe.Events().Count("RemoteFolderDeleted d/s"), 1u);
    EXPECT_EQ(fe.Events().Count("RemoteFileDeleted d/f"), 2u);
    EXPECT_EQ(c->m_pWorkFolder->GetPath(), "") << "each CDUP moved the work folder up";
}

TEST_F(Transfer, RenameNeedsBothReplies) {
    Login();
    server.On("RNFR /a/old", "350 Ready").On("RNTO /a/new", "250 Renamed");
    server.On("RNFR /a/x", "250 Odd");
    CFTPRemoteManager* c = Connect();
    CFTPFile old("a/old", c->Ref(), true);
    ASSERT_NE(
        manager->Rename(&old, "new", std::make_unique<CFTPActionCallerDataRen>("old", "new", 42)),
        0u);
    ASSERT_TRUE(WaitOps(2));
    CFTPFile x("a/x", c->Ref(), true);
    ASSERT_NE(manager->Rename(&x, "y", nullptr), 0u);
    ASSERT_TRUE(WaitOps(3));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count("RenameFinished old -> new @42"), 1u);
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_EQ(fe.Questions()[0],
              "Failed to rename\nfrom 127.0.0.1 : a/x\nto 127.0.0.1 : a/y\n\n250 Odd\n");
    Commands after = AfterLogin();
    EXPECT_EQ(std::count(after.begin(), after.end(), "RNTO /a/y"), 0);
}

TEST_F(Transfer, AFileMovesBetweenTwoSites) {
    Login();
    test::ScriptServer other;
    other.Greet()
        .On("USER v", "230 In")
        .On("TYPE I", "200 Binary")
        .On("REST 100", "502 No")
        .On("SYST", "215 UNIX");
    other.On("PWD", "257 \"/home/v\"").On("TYPE A", "200 OK").Port().SendData("LIST", "");
    other.On("TYPE I", "200 OK").Port().ReceiveData("STOR /home/v/in/f");
    other.On("SIZE /home/v/in/f", "213 7");
    other.Start();
    server.On("TYPE I", "200 OK").Port().SendData("RETR /out/f", "between");
    server.On("DELE /out/f", "250 Deleted");
    CFTPRemoteManager* source = Connect();
    ConnectionId destId = kNoConnection;
    ASSERT_NE(manager->Connect("127.0.0.1", "v", "q", "", other.ListenPort(), nullptr, &destId,
                               ClassicFtp()),
              0u);
    ASSERT_TRUE(WaitOps(2));
    CFTPRemoteManager* dest = manager->FindConnection(destId);
    ASSERT_NE(dest, nullptr);
    CFTPFile from("out/f", source->Ref(), true);
    CFTPFile to("in/f", dest->Ref(), true);
    ASSERT_NE(manager->Copy(&from, &to, nullptr, true), 0u);
    ASSERT_TRUE(WaitOps(3));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(other.Mismatch(), "");
    EXPECT_EQ(other.ReceivedData(), "between");
    EXPECT_EQ(fe.Events().Count("step2 send file f"), 1u) << "the destination reports in lane 2";
    EXPECT_TRUE(fe.Questions().empty());
}

} // namespace
} // namespace qb

namespace qb {
namespace {

TEST_F(Transfer, EveryOverwriteAnswer) {
    struct Case {
        int answer;
        const char* a;
        const char* b;
        std::size_t questions; // asked for the two files of one operation
    };
    const Case cases[] = {
        {Q::OVERWRITE, "new-a", "old-b", 2},
        {Q::RESUME, "old-anew-a", "old-b", 2},
        {Q::SKIP, "old-a", "old-b", 2},
        {Q::OVERWRITE_ALL, "new-a", "new-b", 1},
        {Q::RESUME_ALL, "old-anew-a", "old-bnew-b", 1},
        {Q::SKIP_ALL, "old-a", "old-b", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        test::RecordingFrontEnd caseFe;
        CFTPSecretary caseSecretary(caseFe.Get());
        CFTPManager caseManager(caseFe.Get());
        caseManager.SetSecretary(&caseSecretary);
        test::ScriptServer s;
        s.Greet()
            .On("USER u", "230 In")
            .On("TYPE I", "200 Binary")
            .On("REST 100", "350 OK")
            .On("REST 0", "350 OK");
        s.On("SYST", "215 UNIX").On("PWD", "257 \"/\"").On("TYPE A", "200 OK").Port();
        s.SendData("LIST", "");
        // The second file's answer (when asked) is always "Ca&ncel".
        const bool resumeFirst = c.answer == Q::RESUME || c.answer == Q::RESUME_ALL;
        const bool takeFirst = c.answer != Q::SKIP && c.answer != Q::SKIP_ALL;
        const bool takeSecond = c.answer == Q::OVERWRITE_ALL || c.answer == Q::RESUME_ALL;
        // A resume asks for the remote size first, a fresh download after.
        auto take = [&](const std::string& name) {
            s.On("TYPE I", "200 OK");
            if (resumeFirst) {
                s.On("SIZE /" + name, "213 10");
            }
            s.Port();
            if (resumeFirst) {
                s.On("REST 5", "350 OK");
            }
            s.SendData("RETR /" + name, "new-" + name);
            if (!resumeFirst) {
                s.On("SIZE /" + name, "213 5");
            }
        };
        if (takeFirst) {
            take("a");
        }
        if (takeSecond) {
            take("b");
        }
        s.Start();
        WriteFile(local + "/a", "old-a");
        WriteFile(local + "/b", "old-b");
        caseFe.ScriptOverwrite({c.answer, Q::SKIP});
        ConnectionId connId = kNoConnection;
        ASSERT_NE(caseManager.Connect("127.0.0.1", "u", "p", "", s.ListenPort(), nullptr, &connId,
                                      ClassicFtp()),
                  0u);
        ASSERT_TRUE(caseFe.Events().WaitForCount("Idle", 1));
        CFTPRemoteManager* conn = caseManager.FindConnection(connId);
        ASSERT_NE(conn, nullptr);
        CFTPFileArray items;
        items.Add(CFTPFile("a", conn->Ref(), true));
        items.Add(CFTPFile("b", conn->Ref(), true));
        CFTPFile folder(local, {}, false);
        ASSERT_NE(caseManager.CopyItems(&items, &folder, nullptr, false), 0u);
        ASSERT_TRUE(caseFe.Events().WaitForCount("Idle", 2));
        EXPECT_EQ(s.Mismatch(), "");
        EXPECT_EQ(ReadFile(local + "/a"), c.a);
        EXPECT_EQ(ReadFile(local + "/b"), c.b);
        EXPECT_EQ(caseFe.Events().Count("AskOverwrite"), c.questions);
        EXPECT_TRUE(caseFe.Questions().empty());
    }
}

TEST_F(Transfer, StoppedTransfersAreAbortedAndAcknowledged) {
    Login(true);
    server.On("TYPE I", "200 OK").Pasv().On("RETR /slow", "150 Opening (1000000 bytes)");
    server.On("ABOR", std::vector<std::string>{"426 Transfer aborted", "226 ABOR successful"});
    server.On("NOOP", "200 NOOP ok");
    server.On("TYPE I", "200 OK").Pasv().On("STOR /up", "150 Ok to send data");
    server.On("ABOR", std::vector<std::string>{"426 Transfer aborted", "226 ABOR successful"});
    server.On("NOOP", "200 NOOP ok");
    CFTPRemoteManager* c = Connect(true);
    CFTPFile slow("slow", c->Ref(), true);
    CFTPFile dest(local + "/slow", {}, true);
    ASSERT_NE(manager->Copy(&slow, &dest, nullptr, false), 0u);
    ASSERT_TRUE(fe.Events().WaitForCount("reply 150 Opening (1000000 bytes)", 1));
    manager->PostStop(false);
    ASSERT_TRUE(WaitOps(2));
    // A big upload that the server never reads: the send blocks until stopped.
    {
        std::ofstream big(local + "/up", std::ios::binary);
        std::string chunk(1 << 20, 'u');
        for (int i = 0; i < 64; ++i) {
            big << chunk;
        }
    }
    CFTPFile up(local + "/up", {}, true);
    CFTPFile upDest("up", c->Ref(), true);
    ASSERT_NE(manager->Copy(&up, &upDest, nullptr, false), 0u);
    ASSERT_TRUE(fe.Events().WaitForCount("reply 150 Ok to send data", 1))
        << ::testing::PrintToString(server.Commands()) << server.Mismatch();
    std::this_thread::sleep_for(50ms);
    manager->PostStop(false);
    ASSERT_TRUE(WaitOps(3));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count("cmd ABOR"), 2u);
    EXPECT_TRUE(fe.Questions().empty()) << "a stop shows nothing";
    EXPECT_TRUE(manager->IsConnected(c->GetId()));
}

TEST_F(Transfer, AMovedFolderWithAFailedChildStays) {
    Login();
    server.On("CWD /d", "250 OK").On("PWD", "257 \"/d\"").On("TYPE A", "200 OK").Port();
    server.SendData("LIST", "-rw-r--r-- 1 u g 1 Jan 1 2020 f1\r\n"
                            "-rw-r--r-- 1 u g 1 Jan 1 2020 f2\r\n");
    server.On("TYPE I", "200 OK").Port().SendData("RETR /d/f2", "2").On("DELE /d/f2", "250 OK");
    server.On("TYPE I", "200 OK").Port().On("RETR /d/f1", "550 Permission denied");
    CFTPRemoteManager* c = Connect();
    CFTPFile source("d", c->Ref(), false);
    CFTPFile dest(local + "/d", {}, false);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, true), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(server.Mismatch(), "");
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_NE(fe.Questions()[0].find("Failed to move\nfrom 127.0.0.1 : d/f1"), std::string::npos);
    Commands after = AfterLogin();
    EXPECT_EQ(std::count(after.begin(), after.end(), "RMD /d"), 0) << "the source folder stays";
    EXPECT_EQ(ReadFile(local + "/d/f2"), "2");
}

TEST_F(Transfer, AHostileListingWritesNothingOutsideTheFolder) {
    Login();
    server.On("CWD /h", "250 OK").On("PWD", "257 \"/h\"").On("TYPE A", "200 OK").Port();
    static const char kHostile[] = "-rw-r--r-- 1 u g 1 Jan 1 2020 ../x\r\n"
                                   "-rw-r--r-- 1 u g 1 Jan 1 2020 a/b\r\n"
                                   "drwxr-xr-x 1 u g 1 Jan 1 2020 .\r\n"
                                   "lrwxrwxrwx 1 u g 1 Jan 1 2020 .. -> /etc\r\n"
                                   "-rw-r--r-- 1 u g 1 Jan 1 2020 nul\0name\r\n"
                                   "-rw-r--r-- 1 u g 4 Jan 1 2020 ok\r\n";
    server.SendData("LIST", std::string(kHostile, sizeof kHostile - 1));
    server.On("TYPE I", "200 OK").Port().SendData("RETR /h/ok", "fine");
    CFTPRemoteManager* c = Connect();
    CFTPFile source("h", c->Ref(), false);
    CFTPFile dest(local + "/inner/h", {}, false);
    ::mkdir((local + "/inner").c_str(), 0700);
    ASSERT_NE(manager->Copy(&source, &dest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(ReadFile(local + "/inner/h/ok"), "fine");
    struct stat st {};
    EXPECT_NE(::lstat((local + "/inner/x").c_str(), &st), 0);
    EXPECT_NE(::lstat((local + "/x").c_str(), &st), 0);
    EXPECT_NE(::lstat((local + "/inner/h/a").c_str(), &st), 0);
    for (const auto& q : fe.Questions()) {
        EXPECT_TRUE(q.find("cannot be used for a local file") != std::string::npos ||
                    q.find("cannot be sent to the server") != std::string::npos)
            << q;
    }
}

TEST_F(Transfer, ADataConnectionCutShortIsAFailureAndKeepsThePart) {
    Login();
    server.On("TYPE I", "200 OK").Port();
    server.SendData("RETR /cut", std::string(50, 'c'), "150 Opening (100 bytes)", "226 Done");
    server.On("TYPE I", "200 OK").Port();
    server.SendData("RETR /broken", std::string(70, 'b'), "150 Opening", "426 Connection lost");
    CFTPRemoteManager* c = Connect();
    CFTPFile cut("cut", c->Ref(), true);
    CFTPFile cutDest(local + "/cut", {}, true);
    ASSERT_NE(manager->Copy(&cut, &cutDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(2));
    CFTPFile broken("broken", c->Ref(), true);
    CFTPFile brokenDest(local + "/broken", {}, true);
    ASSERT_NE(manager->Copy(&broken, &brokenDest, nullptr, false), 0u);
    ASSERT_TRUE(WaitOps(3));
    ASSERT_EQ(fe.Questions().size(), 2u);
    EXPECT_NE(fe.Questions()[0].find("The data connection ended after 50 of 100 bytes."),
              std::string::npos);
    EXPECT_NE(fe.Questions()[1].find("426 Connection lost"), std::string::npos);
    EXPECT_EQ(ReadFile(local + "/cut").size(), 50u) << "the part stays, to be resumed";
    EXPECT_EQ(ReadFile(local + "/broken").size(), 70u);
}

} // namespace
} // namespace qb
