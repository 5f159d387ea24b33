#include "cli/qbftp.h"
#include "cli/url.h"

#include <gtest/gtest.h>
#include <sstream>

namespace qb::cli {
namespace {

TEST(FtpUrl, Parses) {
    struct Case {
        const char* text;
        bool ok;
        const char* user;
        const char* password;
        bool hasPassword;
        const char* host;
        std::uint32_t port;
        const char* path;
    };
    const Case cases[] = {
        {"ftp://ftp.example.org/", true, "", "", false, "ftp.example.org", 21, ""},
        {"ftp://ftp.example.org", true, "", "", false, "ftp.example.org", 21, ""},
        {"FTP://u@h:2121/pub/a.txt", true, "u", "", false, "h", 2121, "pub/a.txt"},
        {"ftp://u:p%40ss@h/pub/", true, "u", "p@ss", true, "h", 21, "pub"},
        {"ftp://a%40b.c@h/x%20y", true, "a@b.c", "", false, "h", 21, "x y"},
        {"ftp://[::1]:2121/x", true, "", "", false, "::1", 2121, "x"},
        {"ftp://h//double//", true, "", "", false, "h", 21, "double"},
        {"ftp:///path", false, "", "", false, "", 21, ""},
        {"ftp://h:0/", false, "", "", false, "", 21, ""},
        {"ftp://h:65536/", false, "", "", false, "", 21, ""},
        {"ftp://h:21x/", false, "", "", false, "", 21, ""},
        {"ftp://h/%zz", false, "", "", false, "", 21, ""},
        {"ftp://h/a%0d%0aDELE%20b", false, "", "", false, "", 21, ""},
        {"http://h/", false, "", "", false, "", 21, ""},
        {"ftp://[::1/", false, "", "", false, "", 21, ""},
    };
    for (const auto& c : cases) {
        FtpUrl url;
        std::string error;
        ASSERT_EQ(ParseFtpUrl(c.text, url, error), c.ok) << c.text << ": " << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(url.user, c.user) << c.text;
        EXPECT_EQ(url.password, c.password) << c.text;
        EXPECT_EQ(url.hasPassword, c.hasPassword) << c.text;
        EXPECT_EQ(url.host, c.host) << c.text;
        EXPECT_EQ(url.port, c.port) << c.text;
        EXPECT_EQ(url.path, c.path) << c.text;
    }
}

TEST(FtpUrl, DisplayNeverShowsThePassword) {
    FtpUrl url;
    std::string error;
    ASSERT_TRUE(ParseFtpUrl("ftp://u:secret@[::1]:99/a", url, error));
    EXPECT_EQ(DisplayUrl(url), "ftp://u@[::1]:99/a");
}

TEST(CliText, JsonStringsAreAlwaysValid) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString(std::string("t\tn\n\x01", 5)), "\"t\\u0009n\\u000a\\u0001\"");
    EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    EXPECT_EQ(JsonString("bad\xE9!"), "\"bad\xEF\xBF\xBD!\"");
    EXPECT_EQ(JsonString("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\"");
    EXPECT_EQ(JsonString("cut\xE2\x82"), "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(Qbftp, UsageErrorsNeedNoServer) {
    std::atomic<bool> interrupted{false};
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* err;
    };
    const Case cases[] = {
        {{}, kExitUsage, "Usage"},
        {{"ls"}, kExitUsage, "takes 1 argument"},
        {{"nope"}, kExitUsage, "unknown command"},
        {{"--timeout", "-3", "ls", "ftp://h/"}, kExitUsage, "bad --timeout"},
        {{"ls", "ftp://h:70000/"}, kExitUsage, "bad port"},
        {{"mkdir", "ftp://h/"}, kExitUsage, "folder name"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunQbftp(c.args, out, err, interrupted), c.status);
        EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
}

} // namespace
} // namespace qb::cli

#include "profile/profile.h"
#include "tests/support/script_server.h"

#include <cstdlib>
#include <unistd.h>

namespace qb::cli {
namespace {

// A profile with one stored site that points at a scripted server.
TEST(Qbftp, StoredSitesAreListedAndConnectLikeTheWindow) {
    test::ScriptServer server;
    server.Greet()
        .On("USER ftp", "331 Send your e-mail address")
        .On("PASS guest@example.com", "230 Welcome")
        .On("CWD /srv/ftp", "250 OK")
        .On("TYPE I", "200 Binary")
        .On("REST 100", "350 OK")
        .On("REST 0", "350 OK")
        .On("SYST", "215 UNIX Type: L8")
        .On("PWD", "257 \"/srv/ftp\"")
        .On("TYPE A", "200 OK")
        .Pasv()
        .SendData("LIST", "")
        .On("CWD /srv/ftp/pub", "250 OK")
        .On("TYPE A", "200 OK")
        .Pasv()
        .SendData("LIST", "-rw-r--r-- 1 u g 42 Jan  2 2020 notes.txt\r\n");
    server.Start();

    char folder[] = "/tmp/qb-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/Quillbeck.dat";
    {
        CFTPProfile profile(file, false);
        ASSERT_TRUE(profile.LoadProfile());
        auto local = std::make_unique<CFTPSiteFolder>();
        local->SetLabel("Local");
        local->AddSite(std::make_unique<CFTPSite>("Test", "127.0.0.1", false, "/srv/ftp",
                                                  server.ListenPort(), ""));
        ASSERT_TRUE(profile.AddSiteFolder(std::move(local)));
        ASSERT_EQ(profile.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
    }
    std::atomic<bool> interrupted{false};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunQbftp({"--profile", file, "sites"}, out, err, interrupted), kExitOk);
    EXPECT_NE(out.str().find("Local/\n  Test  127.0.0.1:" + std::to_string(server.ListenPort()) +
                             "  anonymous\n"),
              std::string::npos)
        << out.str();
    out.str("");
    EXPECT_EQ(RunQbftp({"--timeout", "10", "--profile", file, "ls", "site:\"Local/Test\"/pub"}, out,
                       err, interrupted),
              kExitOk)
        << err.str();
    EXPECT_NE(out.str().find("- 42 2020-01-02T00:00:00 notes.txt"), std::string::npos) << out.str();
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(RunQbftp({"--profile", file, "ls", "site:\"Local/Nope\""}, out, err, interrupted),
              kExitUsage);
    std::string cleanup = std::string("rm -rf ") + folder;
    [[maybe_unused]] int rc = std::system(cleanup.c_str());
}

} // namespace
} // namespace qb::cli
