// The engine's pure pieces: reply reading, command building, reply parsers,
// server identification and the status bar model.
#include "engine/command.h"
#include "engine/constants.h"
#include "engine/machines.h"
#include "engine/sockets.h"
#include "engine/status_lanes.h"
#include "tests/support/recorders.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

using Replies = std::vector<CReplyReader::Reply>;

Replies FeedAll(const std::vector<std::string>& pieces) {
    CReplyReader reader;
    Replies out;
    for (const auto& p : pieces) {
        reader.Feed(p.data(), p.size(), out);
    }
    return out;
}

TEST(ReplyReader, SplitsLinesAndCompletesReplies) {
    struct Case {
        std::vector<std::string> pieces;
        std::vector<std::vector<std::string>> lines;
        std::vector<unsigned> codes;
    };
    const Case cases[] = {
        {{"22", "0 Welcome\r\n"}, {{"220 Welcome"}}, {220}},
        {{"230-Hello\r\n", " there\r\n230 Done\r\n"}, {{"230-Hello", " there", "230 Done"}}, {230}},
        {{"123-A\r\n456 B\r\n"}, {{"123-A", "456 B"}}, {456}},
        {{"220-x\r\n099 x\r\n600 x\r\n2a0 x\r\n220\r\n"},
         {{"220-x", "099 x", "600 x", "2a0 x", "220"}},
         {220}},
        // A first line that is no reply: the server speaks another protocol.
        {{"SSH-2.0-OpenSSH_9.2p1\r\n"}, {{"SSH-2.0-OpenSSH_9.2p1"}}, {0}},
        // Every kind of line end, and no empty lines.
        {{"200 a\n200 b\r200 c\n\r200 d\r\n\r\n\n"},
         {{"200 a"}, {"200 b"}, {"200 c"}, {"200 d"}},
         {200, 200, 200, 200}},
        // Two replies in one block are both kept.
        {{"331 Password\r\n230 In\r\n"}, {{"331 Password"}, {"230 In"}}, {331, 230}},
        // A line end split between blocks.
        {{"220 a\r", "\n226 b\r\n"}, {{"220 a"}, {"226 b"}}, {220, 226}},
        // No reply until the final line arrives.
        {{"220-partial\r\n"}, {}, {}},
    };
    for (const auto& c : cases) {
        Replies got = FeedAll(c.pieces);
        ASSERT_EQ(got.size(), c.lines.size()) << c.pieces[0];
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].lines, c.lines[i]);
            EXPECT_EQ(got[i].code, c.codes[i]);
            EXPECT_EQ(got[i].notFtp, c.codes[i] == 0);
        }
    }
}

TEST(ReplyReader, HostileRepliesStayBounded) {
    CReplyReader reader;
    Replies out;
    std::string longLine = "200-" + std::string(1 << 20, 'x') + "\r\n";
    reader.Feed(longLine.data(), longLine.size(), out);
    std::string many;
    for (int i = 0; i < 10000; ++i) {
        many += " more\r\n";
    }
    many += "200 end\r\n";
    reader.Feed(many.data(), many.size(), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_LE(out[0].lines.size(), kMaxReplyLines);
    EXPECT_EQ(out[0].lines.front().size(), kMaxReplyLineLength);
    EXPECT_EQ(out[0].lines.back(), "200 end");
    EXPECT_EQ(out[0].code, 200u);
    EXPECT_TRUE(out[0].tooLong);
    out.clear();
    std::string normal = "226 fine\r\n";
    reader.Feed(normal.data(), normal.size(), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].tooLong);
}

TEST(CommandLine, PathRules) {
    using K = CFTPConstants;
    struct Case {
        int code;
        const char* argument;
        bool split;
        int server;
        const char* home;
        bool asGiven;
        const char* line;
    };
    const Case cases[] = {
        {K::CMD_LIST, "ignored", true, 0, "/home/u", false, "LIST"},
        {K::CMD_CWD, "", true, 0, "", false, "CWD /"},
        {K::CMD_DELE, "a.txt", true, 0, "", false, "DELE /a.txt"},
        {K::CMD_MKD, "x/y", true, 0, "/home/u", false, "MKD /home/u/x/y"},
        {K::CMD_CWD_AS_GIVEN, "/tmp", true, 0, "/home/u", false, "CWD /tmp"},
        {K::CMD_CWD, "", true, 1, "/home/u", false, "CWD /home/u"},
        {K::CMD_RETR, "/etc/motd", true, 0, "/home/u", true, "RETR /etc/motd"},
        {K::CMD_RETR, "pub/a", true, 0, "/home/u", false, "RETR /home/u/pub/a"},
        {K::CMD_USER, "anonymous", true, 0, "/x", false, "USER anonymous"},
        {K::CMD_PWD, "", true, 0, "/x", false, "PWD"},
        {K::CMD_REST, "100", true, 0, "/x", false, "REST 100"},
        {K::CMD_PASV, "", true, 0, "/x", false, "PASV"},
        // VMS
        {K::CMD_RETR, "pub/src/main.c", true, 8, "USR$DISK:[SMITH]", false,
         "RETR USR$DISK:[SMITH.pub.src]main.c"},
        {K::CMD_CWD, "pub", true, 8, "USR$DISK:", false, "CWD USR$DISK:[pub]"},
        {K::CMD_CWD, "", true, 8, "USR$DISK:[SMITH]", false, "CWD USR$DISK:[SMITH]"},
        {K::CMD_RNFR, "pub/old", false, 8, "D:[S]", false, "RNFR D:[S.pub.old]"},
        {K::CMD_RNFR, "pub/old", true, 8, "D:[S]", false, "RNFR D:[S.pub]old"},
        {K::CMD_DELE, "a.txt", true, 8, "D:[S]", false, "DELE D:[S]a.txt"},
        {K::CMD_SIZE, "pub/a", true, 0, "/home/u", false, "SIZE /home/u/pub/a"},
        {K::CMD_SIZE, "pub/a", true, 8, "D:[S]", false, "SIZE D:[S.pub]a"},
        {K::CMD_NOOP, "", true, 0, "/x", false, "NOOP"},
        {K::CMD_EPSV, "", true, 0, "/x", false, "EPSV"},
        {K::CMD_EPRT, "|2|::1|4000|", true, 0, "/x", false, "EPRT |2|::1|4000|"},
        {K::CMD_MLSD, "ignored", true, 0, "/x", false, "MLSD"},
        {K::CMD_LIST_ALL, "", true, 0, "/x", false, "LIST -a"},
        {K::CMD_OPTS, "UTF8 ON", true, 0, "/x", false, "OPTS UTF8 ON"},
        {K::CMD_AUTH, "TLS", true, 0, "/x", false, "AUTH TLS"},
        {K::CMD_PBSZ, "0", true, 0, "/x", false, "PBSZ 0"},
        {K::CMD_PROT, "P", true, 0, "/x", false, "PROT P"},
        // A line end in a name cannot start a second command, nor cut the
        // name: nothing is sent.
        {K::CMD_DELE, "a\r\nDELE b", true, 0, "", false, ""},
        {K::CMD_RETR, "a\rb", true, 0, "", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildCommandLine(c.code, c.argument, c.split, c.server, c.home, c.asGiven),
                  c.line)
            << c.line;
    }
    EXPECT_EQ(BuildCommandLine(K::CMD_COUNT, "x", true, 0, "", false), "");
    EXPECT_EQ(BuildCommandLine(-1, "x", true, 0, "", false), "");
}

TEST(ReplyParsers, PortArgument) {
    EXPECT_EQ(PortArgument("127,0,0,1", 21), "127,0,0,1,0,21");
    EXPECT_EQ(PortArgument("10,1,2,3", 5001), "10,1,2,3,19,137");
    EXPECT_EQ(PortArgument("10,1,2,3", 65535), "10,1,2,3,255,255");
}

TEST(ReplyParsers, ExtendedPassiveAndActive) {
    struct Epsv {
        const char* line;
        bool ok;
        std::uint16_t port;
    };
    const Epsv epsv[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", true, 6446},
        {"229 Entering Extended Passive Mode (!!!65535!)", true, 65535},
        {"229 EPSV ok (|||1|) trailing text", true, 1},
        {"229 Entering Extended Passive Mode (|||0|)", false, 0},
        {"229 Entering Extended Passive Mode (|||65536|)", false, 0},
        {"229 Entering Extended Passive Mode (|||99999999999999999999|)", false, 0},
        {"229 Entering Extended Passive Mode (|||6446)", false, 0},
        {"229 Entering Extended Passive Mode (||6446|)", false, 0},
        {"229 Entering Extended Passive Mode (|2|::1|6446|)", false, 0},
        {"229 Entering Extended Passive Mode (1116461)", false, 0},
        {"229 Entering Extended Passive Mode (|||", false, 0},
        {"229 Entering Extended Passive Mode (||||)", false, 0},
        {"229 Entering Extended Passive Mode", false, 0},
    };
    for (const auto& c : epsv) {
        std::uint16_t port = 0;
        EXPECT_EQ(ParseEpsvReply({c.line}, port), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(port, c.port) << c.line;
        }
    }
    std::uint16_t port = 0;
    EXPECT_FALSE(ParseEpsvReply({}, port));
    EXPECT_EQ(EprtArgument("127.0.0.1", 5001), "|1|127.0.0.1|5001|");
    EXPECT_EQ(EprtArgument("::1", 65535), "|2|::1|65535|");
    EXPECT_EQ(EprtArgument("fe80::1:2", 21), "|2|fe80::1:2|21|");
}

TEST(ReplyParsers, PasvAndByteCount) {
    struct Pasv {
        const char* line;
        bool ok;
        const char* host;
        std::uint16_t port;
    };
    const Pasv pasv[] = {
        {"227 Entering Passive Mode (192,168,1,2,19,137).", true, "192.168.1.2", 5001},
        {"227 =10,0,0,5,4,1", true, "10.0.0.5", 1025},
        {"227 Entering Passive Mode (127,0,0,1,255,255)", true, "127.0.0.1", 65535},
        {"227 Entering Passive Mode (1,2,3,19,137)", false, "", 0},
        {"227 Entering Passive Mode", false, "", 0},
        {"227 (999,0,0,1,1,1)", false, "", 0},
        {"227 (1,2,3,4,1,9999)", false, "", 0},
    };
    for (const auto& c : pasv) {
        std::string host;
        std::uint16_t port = 0;
        EXPECT_EQ(ParsePasvReply({c.line}, host, port), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(host, c.host);
            EXPECT_EQ(port, c.port);
        }
    }
    struct Count {
        std::vector<std::string> lines;
        FileSize bytes;
    };
    const Count counts[] = {
        {{"150 Opening data connection for a.zip (40960 bytes)."}, 40960},
        {{"150 Opening BINARY mode data connection for x (1,234 Bytes)"}, 1234},
        {{"150 Opening data connection (8589934592 bytes)"}, 8589934592ULL},
        {{"150 Opening data connection for a.zip"}, 0},
        {{"150 (bytes)"}, 0},
        {{"150-a (5 bytes)", "150 b"}, 0},
        {{"150 (99999999999999999999999 bytes)"}, 0},
    };
    for (const auto& c : counts) {
        EXPECT_EQ(ParseByteCount(c.lines), c.bytes) << c.lines[0];
    }
}

TEST(ReplyParsers, MdtmTimes) {
    const struct {
        std::vector<std::string> lines;
        unsigned code;
        bool ok;
        std::time_t seconds;
        long nanos;
    } cases[] = {
        {{"213 20200102030405"}, 213, true, 1577934245, 0},
        {{"213 20200102030405.5"}, 213, true, 1577934245, 500'000'000},
        {{"213 20200102030405.123456789"}, 213, true, 1577934245, 123'456'789},
        {{"213 19991231235960"}, 213, true, 946684799, 0}, // a leap second
        {{"213-Time\r\n", "213 20200229000000"}, 213, true, 1582934400, 0},
        {{"213 20200230000000"}, 213, false, 0, 0}, // no such day
        {{"213 2020010203040"}, 213, false, 0, 0},  // a digit short
        {{"213 20201301000000"}, 213, false, 0, 0},
        {{"213 19690101000000"}, 213, false, 0, 0},
        {{"213 20200102030405x"}, 213, false, 0, 0},
        {{"550 No such file"}, 550, false, 0, 0},
        {{}, 213, false, 0, 0},
    };
    for (const auto& c : cases) {
        std::time_t seconds = 0;
        long nanos = 0;
        const std::string shown = c.lines.empty() ? "(none)" : c.lines.back();
        ASSERT_EQ(ParseMdtmReply(c.lines, c.code, seconds, nanos), c.ok) << shown;
        if (c.ok) {
            EXPECT_EQ(seconds, c.seconds) << shown;
            EXPECT_EQ(nanos, c.nanos) << shown;
        }
    }
}

TEST(Login, ServerTypeAndHomeFolder) {
    using K = CFTPConstants;
    struct Syst {
        std::vector<std::string> lines;
        int type;
    };
    const Syst systs[] = {
        {{"215 UNIX Type: L8"}, K::SERVER_UNIX_SYST},
        {{"215 Windows_NT version 4.0"}, K::SERVER_NT},
        {{"215 VMS V6.2"}, K::SERVER_VMS},
        {{"215 UNIX Type: L8 MAC-OS MachTen"}, K::SERVER_UNSUPPORTED_5},
        {{"215 NetWare system type."}, K::SERVER_UNIX},
        {{"215 MACOS Peter's Server"}, K::SERVER_MACOS_PETER},
        {{"215 VM/CMS"}, K::SERVER_UNSUPPORTED_6},
        {{"215 DCTS"}, K::SERVER_UNSUPPORTED_2},
        {{"215 MAC-OS TCP/Connect II"}, K::SERVER_UNSUPPORTED_7},
        {{"215-UNIX Type: L8", "215 more"}, K::SERVER_UNIX},
        {{"215"}, K::SERVER_UNIX},
    };
    for (const auto& c : systs) {
        EXPECT_EQ(IdentifyServer(c.lines), c.type) << c.lines[0];
    }
    struct Pwd {
        const char* line;
        bool ok;
        const char* path;
    };
    const Pwd pwds[] = {
        {"257 \"/\" is current directory.", true, ""},
        {"257 \"/usr/local/\"", true, "/usr/local"},
        {"257 \"/a \"\"quoted\"\" b\" ok", true, "/a \"quoted\" b"},
        {"257 /no/quotes", false, ""},
        {"257 \"USR$DISK:[SMITH]\"", true, "USR$DISK:[SMITH]"},
        {"257 \"/unterminated", true, "/unterminated"},
    };
    for (const auto& c : pwds) {
        std::string path = "garbage";
        EXPECT_EQ(ParsePwdReply(c.line, path), c.ok) << c.line;
        EXPECT_EQ(path, c.path) << c.line;
    }
}

TEST(StatusLanes, TextsAndCoalescedRedraws) {
    test::RecordingFrontEnd fe;
    struct Redraws : INotifier {
        int count = 0;
        void NotifyStatusChanged() override { ++count; }
    } redraws;
    CStatusLanes lanes(&redraws);
    EXPECT_EQ(lanes.PaneText(0), "Ready");
    lanes.BeginOperation("ftp.a", "");
    EXPECT_EQ(redraws.count, 1);
    lanes.SetStepText(1, "login user", true);
    lanes.SetBytes(1, 500, true);
    lanes.SetPercent(3, 50, true); // no such lane
    EXPECT_EQ(redraws.count, 1) << "one redraw is pending until the text is taken";
    EXPECT_EQ(lanes.PaneText(0), "ftp.a : login user (500 Bytes)");
    lanes.SetStepText(1, "login user", true);
    EXPECT_EQ(redraws.count, 1) << "no change, no redraw";
    lanes.SetBytes(1, 20000, true);
    lanes.SetPercent(1, 0, true);
    EXPECT_EQ(redraws.count, 2);
    EXPECT_EQ(lanes.PaneText(0), "ftp.a : login user (20 KBytes) (1%)");
    lanes.SetPercent(1, 140, false);
    lanes.SetStepText(1, "", false);
    EXPECT_EQ(lanes.PaneText(0), "ftp.a : standby (20 KBytes) (100%)");
    lanes.BeginOperation("src", "dst");
    lanes.SetStepText(2, "send file x", true);
    EXPECT_EQ(lanes.PaneText(1), "dst : send file x");
    lanes.SetCancelling();
    EXPECT_EQ(lanes.PaneText(0), "src : Cancelling...");
    EXPECT_EQ(lanes.PaneText(1), "dst : Cancelling...");
    lanes.EndOperation();
    EXPECT_EQ(lanes.PaneText(0), "Ready");
    EXPECT_EQ(lanes.PaneText(1), "");
    EXPECT_EQ(CStatusLanes::BytesText(9998), " (9998 Bytes)");
    EXPECT_EQ(CStatusLanes::BytesText(9999), " (10 KBytes)");
    EXPECT_EQ(CStatusLanes::BytesText(5ULL << 32), " (20971521 KBytes)");
}

} // namespace
} // namespace qb
