// What a transfer may never do, whatever the server does: harm a local file,
// delete a source that did not arrive whole, report a partial copy as done,
// loop, or hide why it failed. Each row is a misbehaving server (scripted),
// a qbftp command line, and what must hold afterwards.
#include "cli/qbftp.h"
#include "tests/support/script_server.h"
#include "tests/support/test_files.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qb::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ScriptServer;

using test::ReadFile;
using test::WriteFile;

// What stands in a folder, names sorted ("name/" for folders).
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string() + (e.is_directory() ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// An anonymous login into "/" whose listing is `rootListing`; passive.
// The login; with `rootListing`, the login folder's listing that the
// command asks for first.
void Login(ScriptServer& s, const std::string& rootListing = "",
           const std::string& syst = "215 UNIX Type: L8", const std::string& home = "/") {
    s.Greet()
        .On("USER ftp", "331 Send your e-mail address")
        .On("PASS qb@test", "230 Welcome")
        .On("TYPE I", "200 Binary")
        .On("REST 100", "350 OK")
        .On("REST 0", "350 OK")
        .On("SYST", syst)
        .On("PWD", "257 \"" + home + "\"");
    if (!rootListing.empty()) {
        s.On("TYPE A", "200 ASCII").Pasv().SendData("LIST", rootListing);
    }
}

// A private folder for the local side and the profile; qbftp runs with it.
class Integrity : public ::testing::Test {
protected:
    Integrity() {
        std::string pattern = (fs::temp_directory_path() / "qbintegrity.XXXXXX").string();
        root = ::mkdtemp(pattern.data()) ? pattern : std::string();
        local = root + "/local";
        fs::create_directories(local);
        fs::create_directories(root + "/config");
        ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        ::setenv("QBFTP_EMAIL", "qb@test", 1);
    }
    ~Integrity() override {
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("QBFTP_EMAIL");
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    // Runs qbftp; "{URL}" and "{LOCAL}" in the arguments stand for the
    // server and the local folder.
    int Run(ScriptServer& server, std::vector<std::string> args,
            const std::atomic<bool>* stop = nullptr) {
        const std::string url = "ftp://127.0.0.1:" + std::to_string(server.ListenPort());
        for (auto& a : args) {
            for (const auto& [key, value] :
                 {std::pair<std::string, std::string>{"{URL}", url}, {"{LOCAL}", local}}) {
                for (auto at = a.find(key); at != std::string::npos; at = a.find(key)) {
                    a.replace(at, key.size(), value);
                }
            }
        }
        // The scripts speak plain RFC 959.
        args.insert(args.begin(), {"--timeout", "5", "--no-epsv", "--no-feat", "--no-list-a"});
        static const std::atomic<bool> never{false};
        out.str("");
        err.str("");
        return RunQbftp(args, out, err, stop ? *stop : never);
    }

    std::string root;
    std::string local;
    std::ostringstream out;
    std::ostringstream err;
};

struct Row {
    const char* name;
    std::function<void(ScriptServer&)> script; // after the login
    std::function<void(const std::string& local)> prepare;
    std::vector<std::string> args;
    int exit;
    std::vector<const char*> messages; // each must be in what qbftp printed
    std::function<void(const std::string& local, ScriptServer&)> check;
};

TEST_F(Integrity, MisbehavingServers) {
    const std::string big(100000, 'b');
    const Row rows[] = {
        {"a missing remote file never harms the local one",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").Pasv().On("RETR /f.txt", "550 No such file");
         },
         [](const std::string& l) { WriteFile(l + "/f.txt", "keep"); },
         {"--overwrite", "get", "{URL}/f.txt", "{LOCAL}"},
         1,
         {"550 No such file"},
         [](const std::string& l, ScriptServer&) {
             EXPECT_EQ(ReadFile(l + "/f.txt"), "keep");
             EXPECT_EQ(Entries(l), std::vector<std::string>{"f.txt"}) << "no part file is left";
         }},
        {"a failed get creates nothing",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").Pasv().On("RETR /f.txt", "550 No such file");
         },
         nullptr,
         {"get", "{URL}/f.txt", "{LOCAL}"},
         1,
         {"550 No such file"},
         [](const std::string& l, ScriptServer&) { EXPECT_TRUE(Entries(l).empty()); }},
        {"a recursive get of a missing folder creates nothing",
         [](ScriptServer& s) { s.On("CWD /nodir", "550 No such folder"); },
         nullptr,
         {"-r", "get", "{URL}/nodir", "{LOCAL}"},
         1,
         {"550 No such folder"},
         [](const std::string& l, ScriptServer&) { EXPECT_TRUE(Entries(l).empty()); }},
        {"a download cut short keeps the file it was to replace",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").Pasv();
             s.SendData("RETR /f.txt", "12345", "150 Opening (10 bytes)", "226 Done");
         },
         [](const std::string& l) { WriteFile(l + "/f.txt", "keep"); },
         {"--overwrite", "get", "{URL}/f.txt", "{LOCAL}"},
         1,
         {"The data connection ended after 5 of 10 bytes."},
         [](const std::string& l, ScriptServer&) {
             EXPECT_EQ(ReadFile(l + "/f.txt"), "keep");
             EXPECT_EQ(Entries(l), std::vector<std::string>{"f.txt"});
         }},
        {"a cut download without a size in its 150 reply is found by SIZE",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").Pasv();
             s.SendData("RETR /f.txt", "12345", "150 Opening", "226 Done");
             s.On("SIZE /f.txt", "213 10");
         },
         nullptr,
         {"get", "{URL}/f.txt", "{LOCAL}"},
         1,
         {"The file arrived with 5 bytes; the server gives its size as 10 bytes."},
         [](const std::string& l, ScriptServer&) {
             EXPECT_EQ(ReadFile(l + "/f.txt"), "12345") << "kept to be resumed";
         }},
        {"a resume the server sends from the start is caught and undone",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /f.txt", "213 10").Pasv().On("REST 4", "350 OK");
             s.SendData("RETR /f.txt", "abcdefghij", "150 Opening (10 bytes)", "226 Done");
         },
         [](const std::string& l) { WriteFile(l + "/f.txt", "abcd"); },
         {"--resume", "get", "{URL}/f.txt", "{LOCAL}"},
         1,
         {"The file arrived with 14 bytes", "the local file is left as it was"},
         [](const std::string& l, ScriptServer&) { EXPECT_EQ(ReadFile(l + "/f.txt"), "abcd"); }},
        {"a resume onto a longer local file fails before anything moves",
         [](ScriptServer& s) { s.On("TYPE I", "200 OK").On("SIZE /f.txt", "213 10"); },
         [](const std::string& l) { WriteFile(l + "/f.txt", std::string(20, 'x')); },
         {"--resume", "get", "{URL}/f.txt", "{LOCAL}"},
         1,
         {"is longer than the remote one"},
         [](const std::string& l, ScriptServer& s) {
             EXPECT_EQ(ReadFile(l + "/f.txt"), std::string(20, 'x'));
             const auto commands = s.Commands();
             EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASV"), 0) << "no transfer";
         }},
        {"a move whose upload the server cut keeps its source",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /src", "550 No such file");
             s.Pasv().ReceiveData("STOR /src").On("SIZE /src", "213 50000");
         },
         [&](const std::string& l) { WriteFile(l + "/src", big); },
         {"mv", "{LOCAL}/src", "{URL}/"},
         1,
         {"The server kept 50000 bytes of the 100000 bytes sent."},
         [&](const std::string& l, ScriptServer&) { EXPECT_EQ(ReadFile(l + "/src"), big); }},
        {"a move checks the listing where SIZE is refused",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /src", "550 No such file");
             s.Pasv().ReceiveData("STOR /src").On("SIZE /src", "502 SIZE not implemented");
             s.On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "-rw-r--r-- 1 u g 50000 Jan 10 2024 src\r\n");
         },
         [&](const std::string& l) { WriteFile(l + "/src", big); },
         {"mv", "{LOCAL}/src", "{URL}/"},
         1,
         {"The server kept 50000 bytes"},
         [&](const std::string& l, ScriptServer&) { EXPECT_EQ(ReadFile(l + "/src"), big); }},
        {"a recursive upload leaves out a link to a folder",
         [](ScriptServer& s) {
             s.On("MKD /up", "257 \"/up\" created");
             s.On("TYPE I", "200 OK").On("SIZE /up/a.txt", "550 No such file");
             s.Pasv().ReceiveData("STOR /up/a.txt");
             s.On("SIZE /up/a.txt", "213 1");
         },
         [](const std::string& l) {
             fs::create_directories(l + "/up");
             WriteFile(l + "/up/a.txt", "A");
             fs::create_directory_symlink(l + "/up", l + "/up/loop");
         },
         {"-r", "put", "{LOCAL}/up", "{URL}/"},
         0,
         {},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "") << "no STOR for the link";
             EXPECT_EQ(s.ReceivedData(), "A");
         }},
        {"a subfolder the server cannot list fails the recursive get",
         [](ScriptServer& s) {
             s.On("CWD /tree", "250 OK").On("PWD", "257 \"/tree\"").On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "drwxr-xr-x 2 u g 0 Jan 10 2024 sub\r\n"
                                "-rw-r--r-- 1 u g 1 Jan 10 2024 a\r\n");
             s.On("CWD /tree/sub", "250 OK").On("PWD", "257 \"/tree/sub\"");
             s.On("TYPE A", "200 OK").Pasv().On("LIST", "550 Permission denied");
             s.On("TYPE I", "200 OK").Pasv().SendData("RETR /tree/a", "A");
         },
         nullptr,
         {"-r", "get", "{URL}/tree", "{LOCAL}"},
         1,
         {"tree/sub", "550 Permission denied"},
         [](const std::string& l, ScriptServer&) { EXPECT_EQ(ReadFile(l + "/tree/a"), "A"); }},
        {"a subfolder listing broken off fails the recursive get",
         [](ScriptServer& s) {
             s.On("CWD /tree", "250 OK").On("PWD", "257 \"/tree\"").On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "drwxr-xr-x 2 u g 0 Jan 10 2024 sub\r\n");
             s.On("CWD /tree/sub", "250 OK").On("PWD", "257 \"/tree/sub\"");
             s.On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "-rw-r--r-- 1 u g 1 Jan 10 2024 b\r\n", "150 Here",
                        "426 Connection broken");
         },
         nullptr,
         {"-r", "get", "{URL}/tree", "{LOCAL}"},
         1,
         {"tree/sub", "426 Connection broken"},
         nullptr},
        {"a link that leads back into the copy is skipped",
         [](ScriptServer& s) {
             s.On("CWD /d", "250 OK").On("PWD", "257 \"/d\"").On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "lrwxrwxrwx 1 u g 2 Jan 10 2024 loop -> /d\r\n"
                                "-rw-r--r-- 1 u g 1 Jan 10 2024 f\r\n");
             // The link is entered, found to be /d again, and left alone.
             s.On("CWD /d/loop", "250 OK").On("PWD", "257 \"/d\"");
             s.On("TYPE I", "200 OK").Pasv().SendData("RETR /d/f", "F");
         },
         nullptr,
         {"-r", "get", "{URL}/d", "{LOCAL}"},
         0,
         {},
         [](const std::string& l, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(Entries(l + "/d"), std::vector<std::string>{"f"});
         }},
        {"a file where the folder must go is named as such",
         [](ScriptServer& s) {
             s.On("CWD /tree", "250 OK").On("PWD", "257 \"/tree\"").On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "");
         },
         [](const std::string& l) { WriteFile(l + "/tree", "a file"); },
         {"-r", "get", "{URL}/tree", "{LOCAL}"},
         1,
         {"stands where the folder should go"},
         [](const std::string& l, ScriptServer&) { EXPECT_EQ(ReadFile(l + "/tree"), "a file"); }},
        {"a name's leading spaces travel",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").Pasv().SendData("RETR /  lead", "L", "150 Go (1 bytes)");
         },
         nullptr,
         {"get", "{URL}/%20%20lead", "{LOCAL}"},
         0,
         {},
         [](const std::string& l, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(ReadFile(l + "/  lead"), "L");
         }},
        {"a byte 0xFF goes twice on the wire",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").Pasv();
             s.SendData("RETR /\xff\xff.txt", "F", "150 Go (1 bytes)");
         },
         nullptr,
         {"get", "{URL}/%FF.txt", "{LOCAL}"},
         0,
         {},
         [](const std::string& l, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(ReadFile(l + "/\xff.txt"), "F");
         }},
        {"a name with a line break is refused, not cut",
         nullptr,
         nullptr,
         {"get", "{URL}/a%0Db", "{LOCAL}"},
         2,
         {"control character"},
         [](const std::string& l, ScriptServer& s) {
             EXPECT_TRUE(Entries(l).empty());
             EXPECT_TRUE(s.Commands().empty());
         }},
        {"a local name with a line break is refused, the others go",
         [](ScriptServer& s) {
             s.On("MKD /up", "257 \"/up\" created");
             s.On("TYPE I", "200 OK").On("SIZE /up/ok", "550 No such file");
             s.Pasv().ReceiveData("STOR /up/ok").On("SIZE /up/ok", "213 2");
         },
         [](const std::string& l) {
             fs::create_directories(l + "/up");
             WriteFile(l + "/up/ok", "OK");
             WriteFile(l + "/up/a\rb", "no");
         },
         {"-r", "put", "{LOCAL}/up", "{URL}/"},
         1,
         {"holds a line break or a NUL byte"},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(s.ReceivedData(), "OK");
         }},
        {"a put onto a file on the server needs a flag in a script; nothing moves",
         [](ScriptServer& s) { s.On("TYPE I", "200 OK").On("SIZE /f", "213 4"); },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"put", "{LOCAL}/f", "{URL}/"},
         1,
         {"f exists; use --overwrite, --resume or --skip"},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             const auto commands = s.Commands();
             EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASV"), 0) << "no transfer";
         }},
        {"--skip leaves a file on the server alone",
         [](ScriptServer& s) { s.On("TYPE I", "200 OK").On("SIZE /f", "213 4"); },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"--skip", "put", "{LOCAL}/f", "{URL}/f"},
         0,
         {},
         [](const std::string&, ScriptServer& s) { EXPECT_EQ(s.ReceivedData(), ""); }},
        {"--resume sends the rest after REST and checks the whole size",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /f", "213 4").Pasv().On("REST 4", "350 OK");
             s.ReceiveData("STOR /f").On("SIZE /f", "213 10");
         },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"--resume", "put", "{LOCAL}/f", "{URL}/"},
         0,
         {},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(s.ReceivedData(), "efghij");
         }},
        {"--resume appends where REST is refused for STOR",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /f", "213 4").Pasv();
             s.On("REST 4", "502 REST not implemented");
             s.ReceiveData("APPE /f").On("SIZE /f", "213 10");
         },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"--resume", "put", "{LOCAL}/f", "{URL}/"},
         0,
         {},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(s.ReceivedData(), "efghij");
         }},
        {"--resume of a file the server holds whole sends nothing",
         [](ScriptServer& s) { s.On("TYPE I", "200 OK").On("SIZE /f", "213 10"); },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"--resume", "put", "{LOCAL}/f", "{URL}/"},
         0,
         {},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(s.ReceivedData(), "");
         }},
        {"a resumed upload the server keeps short fails",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /f", "213 4").Pasv().On("REST 4", "350 OK");
             s.ReceiveData("STOR /f").On("SIZE /f", "213 6");
         },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"--resume", "put", "{LOCAL}/f", "{URL}/"},
         1,
         {"The server kept 6 bytes of the 10 bytes sent."},
         nullptr},
        {"the listing answers where SIZE cannot",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /f", "502 SIZE not implemented");
             s.On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "-rw-r--r-- 1 u g 3 Jan 10 2024 f\r\n");
             s.On("TYPE I", "200 OK").Pasv().ReceiveData("STOR /f").On("SIZE /f", "213 10");
         },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"--overwrite", "put", "{LOCAL}/f", "{URL}/"},
         0,
         {},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(s.ReceivedData(), "abcdefghij");
         }},
        {"a folder of the upload's name on the server is never replaced",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").On("SIZE /f", "502 SIZE not implemented");
             s.On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "drwxr-xr-x 2 u g 0 Jan 10 2024 f\r\n");
         },
         [](const std::string& l) { WriteFile(l + "/f", "abcdefghij"); },
         {"--overwrite", "put", "{LOCAL}/f", "{URL}/"},
         1,
         {"is a folder on the server"},
         [](const std::string&, ScriptServer& s) { EXPECT_EQ(s.ReceivedData(), ""); }},
        {"a move within one server is a rename into the other folder",
         [](ScriptServer& s) {
             s.On("CWD /d", "250 OK").On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "");
             s.On("RNFR /f", "350 Ready").On("RNTO /d/f", "250 Renamed");
         },
         nullptr,
         {"mv", "{URL}/f", "{URL}/d/"},
         0,
         {},
         [](const std::string&, ScriptServer& s) { EXPECT_EQ(s.Mismatch(), ""); }},
        {"a refused rename falls back to the transfer's move",
         [](ScriptServer& s) {
             s.On("CWD /d", "250 OK").On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "");
             s.On("RNFR /f", "550 Not allowed");
             s.On("TYPE I", "200 OK").Pasv().SendData("RETR /f", "F", "150 Go (1 bytes)");
             s.On("TYPE I", "200 OK").Pasv().ReceiveData("STOR /d/f").On("SIZE /d/f", "213 1");
             s.On("DELE /f", "250 Deleted");
         },
         nullptr,
         {"mv", "{URL}/f", "{URL}/d/"},
         0,
         {},
         [](const std::string&, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(s.ReceivedData(), "F");
         }},
        {"a move onto an existing file needs --overwrite; nothing is renamed",
         [](ScriptServer& s) {
             s.On("CWD /d", "250 OK").On("TYPE A", "200 OK").Pasv();
             s.SendData("LIST", "-rw-r--r-- 1 u g 1 Jan 10 2024 f\r\n");
         },
         nullptr,
         {"mv", "{URL}/f", "{URL}/d/"},
         1,
         {"d/f exists; use --overwrite or --skip"},
         [](const std::string&, ScriptServer& s) {
             const auto commands = s.Commands();
             EXPECT_EQ(std::count(commands.begin(), commands.end(), "RNFR /f"), 0);
         }},
        {"a pattern is matched against the listing, never sent to the server",
         [](ScriptServer& s) {
             s.On("TYPE I", "200 OK").Pasv().SendData("RETR /a.txt", "A", "150 Go (1 bytes)");
             s.On("TYPE I", "200 OK").Pasv().SendData("RETR /b.txt", "B", "150 Go (1 bytes)");
         },
         nullptr,
         {"get", "{URL}/[ab]*.txt", "{LOCAL}"},
         0,
         {},
         [](const std::string& l, ScriptServer& s) {
             EXPECT_EQ(s.Mismatch(), "");
             EXPECT_EQ(Entries(l), (std::vector<std::string>{"a.txt", "b.txt"}));
         }},
        {"a login folder that cannot be listed says why",
         nullptr,
         nullptr,
         {"ls", "{URL}/"},
         1,
         {"550 Permission denied"},
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::error_code ignored;
        fs::remove_all(local, ignored);
        fs::create_directories(local);
        ScriptServer server;
        if (std::string(row.name).rfind("a pattern is matched", 0) == 0) {
            Login(server, "-rw-r--r-- 1 u g 1 Jan 10 2024 a.txt\r\n"
                          "-rw-r--r-- 1 u g 1 Jan 10 2024 b.txt\r\n"
                          "-rw-r--r-- 1 u g 1 Jan 10 2024 c.txt\r\n"
                          "-rw-r--r-- 1 u g 1 Jan 10 2024 a.bin\r\n");
        } else if (std::string(row.name) == "a login folder that cannot be listed says why") {
            server.Greet()
                .On("USER ftp", "230 Welcome")
                .On("SYST", "215 UNIX")
                .On("PWD", "257 \"/\"")
                .On("TYPE A", "200 ASCII")
                .Pasv()
                .On("LIST", "550 Permission denied");
        } else {
            Login(server);
        }
        if (row.script) {
            row.script(server);
        }
        server.Start();
        if (row.prepare) {
            row.prepare(local);
        }
        EXPECT_EQ(Run(server, row.args), row.exit) << err.str();
        for (const char* message : row.messages) {
            EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
        }
        if (row.check) {
            row.check(local, server);
        }
    }
}

TEST_F(Integrity, AFifoIsStreamedUntilItsWriterCloses) {
    ScriptServer server;
    Login(server);
    server.On("TYPE I", "200 OK").On("SIZE /fifo", "550 No such file");
    server.Pasv().ReceiveData("STOR /fifo").On("SIZE /fifo", "213 10");
    server.Start();
    const std::string fifo = local + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        // Opens only once the upload reads: the upload waits for it.
        std::this_thread::sleep_for(200ms);
        std::ofstream(fifo, std::ios::binary) << "hello fifo";
    });
    EXPECT_EQ(Run(server, {"put", fifo, "{URL}/fifo"}), 0) << err.str();
    writer.join();
    EXPECT_EQ(server.ReceivedData(), "hello fifo");
    EXPECT_EQ(server.Mismatch(), "");
}

TEST_F(Integrity, AServerThatTurnsEveryoneAwayIsTriedAsOftenAsAskedAndSaysWhy) {
    ScriptServer server;
    server.Greet("421 Too many users, try again later").CloseAfterLast();
    server.Start(10);
    EXPECT_EQ(Run(server, {"--retries", "1", "ls", "{URL}/"}), 1);
    EXPECT_NE(err.str().find("421 Too many users, try again later"), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("Gave up after 2 attempts."), std::string::npos) << err.str();
    EXPECT_EQ(server.ConnectionsServed(), 2);
}

TEST_F(Integrity, AnotherProtocolIsNamedAndNotRetried) {
    ScriptServer server;
    server.Greet("SSH-2.0-OpenSSH_9.2p1 Debian-2");
    server.Start(5);
    EXPECT_EQ(Run(server, {"ls", "{URL}/"}), 1);
    EXPECT_NE(err.str().find("is not an FTP server"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("SSH-2.0-OpenSSH_9.2p1"), std::string::npos) << err.str();
    EXPECT_EQ(server.ConnectionsServed(), 1);
}

TEST_F(Integrity, VmsFilesKeepOneLocalNameInGetAndRecursiveGet) {
    const std::string readme =
        "README.TXT;1         1/4      10-JAN-2024 12:00:00  [SMITH]  (RWED,RWED,RE,)\r\n";
    ScriptServer one;
    Login(one, "", "215 VMS V7.3", "USR$DISK:[SMITH]");
    one.On("TYPE I", "200 OK").Pasv();
    one.SendData("RETR USR$DISK:[SMITH]README.TXT;1", "R", "150 Go (1 bytes)");
    one.Start();
    EXPECT_EQ(Run(one, {"get", "{URL}/README.TXT;1", "{LOCAL}"}), 0) << err.str();
    EXPECT_EQ(ReadFile(local + "/README.TXT"), "R");
    EXPECT_EQ(one.Mismatch(), "");

    // Listed sizes count blocks on VMS: the check asks "SIZE" instead.
    ScriptServer folder;
    Login(folder, "", "215 VMS V7.3", "USR$DISK:[SMITH]");
    folder.On("CWD USR$DISK:[SMITH.PUB]", "250 OK").On("PWD", "257 \"USR$DISK:[SMITH.PUB]\"");
    folder.On("TYPE A", "200 OK").Pasv().SendData("LIST", readme);
    folder.On("TYPE I", "200 OK").Pasv().SendData("RETR USR$DISK:[SMITH.PUB]README.TXT;1", "P");
    folder.On("SIZE USR$DISK:[SMITH.PUB]README.TXT;1", "213 1");
    folder.Start();
    EXPECT_EQ(Run(folder, {"-r", "get", "{URL}/PUB", "{LOCAL}"}), 0) << err.str();
    EXPECT_EQ(ReadFile(local + "/PUB/README.TXT"), "P");
    EXPECT_EQ(folder.Mismatch(), "");
}

TEST_F(Integrity, AStopIsQuickWhenTheServerAnswersAbortTwice) {
    ScriptServer server;
    Login(server);
    server.On("TYPE I", "200 OK").Pasv().On("RETR /slow", "150 Opening (1000000 bytes)");
    server.On("ABOR", std::vector<std::string>{"426 Transfer aborted", "226 Abort successful"});
    server.On("NOOP", "200 NOOP ok");
    server.Start();
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        for (int i = 0; i < 500; ++i) {
            const auto commands = server.Commands();
            if (std::find(commands.begin(), commands.end(), "RETR /slow") != commands.end()) {
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(50ms);
        stop = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(server, {"get", "{URL}/slow", "{LOCAL}"}, &stop), kExitInterrupted);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << err.str();
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_TRUE(Entries(local).empty()) << "nothing of the broken-off file is left";
}

} // namespace
} // namespace qb::cli
