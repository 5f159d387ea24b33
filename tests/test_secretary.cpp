#include "engine/remote_manager.h"
#include "engine/secretary.h"
#include "tests/support/recorders.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(Secretary, HidesThePassword) {
    struct Case {
        const char* line;
        const char* logged;
    };
    const Case cases[] = {
        {"PASS", "PASS"},
        {"PASS ", "PASS "},
        {"PASS secret12", "PASS XXXXXXXX"},
        {"PASS a", "PASS X"},
        {"USER anonymous", "USER anonymous"},
        {"PASSIVE", "PASSIXX"}, // the rule looks at the first four letters only
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CFTPSecretary::HidePassword(c.line), c.logged) << c.line;
    }
}

class SecretaryLog : public ::testing::Test {
protected:
    SecretaryLog() : connection(nullptr, 1, FrontEnd{}, nullptr, HandlerTable{}) {
        connection.SetHostName("ftp.example.org");
    }
    test::RecordingFrontEnd fe;
    CFTPRemoteManager connection;
};

TEST_F(SecretaryLog, HostPrefixTabsAndSwitches) {
    CFTPSecretary secretary(fe.Get());
    secretary.LogReply(&connection, {"220 Ready"});
    fe.logHost = true;
    secretary.LogReply(&connection, {"220-Hello", "\tindented", "220 Ready"});
    secretary.LogCommand(&connection, "PASS abc");
    fe.logCommands = false;
    secretary.LogCommand(&connection, "USER u");
    secretary.LogReply(&connection, {"331 Password"});
    fe.logCommands = true;
    fe.logResponses = false;
    secretary.LogReply(&connection, {"230 OK"});
    secretary.LogCommand(&connection, "PWD");
    secretary.PostNote("note");
    EXPECT_FALSE(secretary.LogCommand(nullptr, "PWD"));
    EXPECT_EQ(fe.Events().Events(),
              (std::vector<std::string>{
                  "reply 220 Ready", "reply ftp.example.org : 220-Hello",
                  "reply ftp.example.org :     indented", "reply ftp.example.org : 220 Ready",
                  "cmd ftp.example.org : PASS XXX", "reply ftp.example.org : 331 Password",
                  "cmd ftp.example.org : PWD", "note note"}));
}

TEST_F(SecretaryLog, NothingAfterShutdownOrFromAStoppingConnection) {
    CFTPSecretary secretary(fe.Get());
    connection.Stop();
    secretary.LogReply(&connection, {"220 Ready"});
    secretary.LogCommand(&connection, "QUIT");
    CFTPRemoteManager other(nullptr, 2, FrontEnd{}, nullptr, HandlerTable{});
    secretary.m_bShutdown = true;
    secretary.LogReply(&other, {"220 Ready"});
    secretary.LogCommand(&other, "QUIT");
    secretary.PostNote("x");
    EXPECT_TRUE(fe.Events().Events().empty());
}

} // namespace
} // namespace qb
