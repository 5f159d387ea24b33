// The application services: name rules, text helpers, busy code and flags,
// and the temporary files.
#include "app/app.h"
#include "app/names.h"
#include "engine/ftp_file.h"
#include "platform/questions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qb::test {
namespace {

class RecordingQuestions : public IQuestions {
public:
    int MessageBox(const std::string& text, unsigned style) override {
        texts.push_back(text);
        styles.push_back(style);
        return IDOK;
    }
    std::vector<std::string> texts;
    std::vector<unsigned> styles;
};

TEST(NameRules, EachKindRefusesItsCharactersWithItsMessage) {
    struct Rule {
        std::vector<int> kinds;
        const char* message; // null: refused without a message
        std::vector<std::pair<std::string, bool>> texts;
    };
    const std::string nul("a\0b", 3);
    const Rule rules[] = {
        {{9, 10},
         "Label of SiteFolder/Site cannot contain\n/  :",
         {{"My Site", true},
          {"", true},
          {"a\\b*?<>|\"", true},
          {"a:b", false},
          {"a/b", false},
          {":", false}}},
        {{11, 12},
         "Name of LocalFolder/LocalFile connot contain\n\\ / : * ? \" < > |",
         {{"report 2024.txt", true},
          {"", true},
          {".hidden", true},
          {"a\\b", false},
          {"a/b", false},
          {"a:b", false},
          {"a*b", false},
          {"a?b", false},
          {"a\"b", false},
          {"a<b", false},
          {"a>b", false},
          {"a|b", false},
          {nul, false}}},
        {{14, 15},
         "Name of RemoteFolder/RemoteFile cannot contain\n/",
         {{"a:b", true}, {"a\\b*?<>|\"", true}, {"", true}, {"a/b", false}, {nul, false}}},
        {{0, 1, 8, 13, 16}, nullptr, {{"plain", false}, {"", false}}},
    };
    for (const Rule& rule : rules) {
        for (int kind : rule.kinds) {
            for (const auto& [text, accepted] : rule.texts) {
                SCOPED_TRACE("kind " + std::to_string(kind) + " text \"" + text + "\"");
                RecordingQuestions questions;
                EXPECT_EQ(CheckName(text, kind, &questions), accepted);
                if (accepted || !rule.message) {
                    EXPECT_TRUE(questions.texts.empty());
                } else {
                    ASSERT_EQ(questions.texts.size(), 1u);
                    EXPECT_EQ(questions.texts[0], rule.message);
                    EXPECT_EQ(questions.styles[0], unsigned{MB_OK});
                }
            }
        }
    }
}

TEST(TextHelpers, TrimSpacesSwapNibblesToSlashPath) {
    const std::pair<std::string, std::string> trims[] = {
        {"  a b  ", "a b"}, {"\ta \t", "\ta \t"}, {"   ", ""}, {"", ""}, {"x", "x"}};
    for (const auto& [in, out] : trims) {
        std::string text = in;
        TrimSpaces(text);
        EXPECT_EQ(text, out) << "\"" << in << "\"";
    }

    std::string scrambled = "abc";
    SwapNibbles(scrambled);
    EXPECT_EQ(scrambled, "\x16\x26\x36");
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    std::string twice = all;
    SwapNibbles(twice);
    EXPECT_EQ(twice[0x4A], static_cast<char>(0xA4));
    SwapNibbles(twice);
    EXPECT_EQ(twice, all);

    std::string path = "\\home\\me\\a b";
    ToSlashPath(path);
    EXPECT_EQ(path, "/home/me/a b");
}

TEST(AppState, BusyCodeFlagsAndOperationEnd) {
    CFTPApp app;
    std::vector<std::string> opened;
    app.SetFileOpener([&](const std::string& path) { opened.push_back(path); });
    EXPECT_EQ(app.GetBusyCode(), BUSY_STARTING);

    struct Case {
        std::uint16_t code;
        bool busy;
        bool working;
    };
    for (const Case& c : {Case{BUSY_IDLE, false, false}, Case{BUSY_EDITING_LABEL, true, false},
                          Case{BUSY_COPYING, true, true}, Case{BUSY_VIEWING_LINK, true, true}}) {
        app.SetBusyCode(c.code);
        EXPECT_EQ(app.IsBusy(), c.busy) << c.code;
        EXPECT_EQ(app.IsWorking(), c.working) << c.code;
    }

    app.SetBusyCode(BUSY_DELETING);
    app.SetStopRequested(true);
    IApplication& engineView = app;
    engineView.OperationEnded();
    EXPECT_FALSE(app.IsStopRequested());
    EXPECT_EQ(engineView.GetBusyCode(), BUSY_IDLE);

    engineView.OpenFile("/tmp/v.txt");
    EXPECT_FALSE(engineView.IsExiting());
    app.SetExiting();
    EXPECT_TRUE(engineView.IsExiting());
    engineView.OpenFile("/tmp/w.txt");
    EXPECT_EQ(opened, std::vector<std::string>{"/tmp/v.txt"}) << "nothing is opened while exiting";
    app.SetLocalOperation(true);
    EXPECT_TRUE(app.IsLocalOperation());
}

TEST(AppState, TemporaryFilesAreDeletedAtExit) {
    std::vector<std::string> paths;
    {
        CFTPApp app;
        for (int i = 0; i < 2; ++i) {
            char name[] = "/tmp/qb-app-temp-XXXXXX";
            int fd = ::mkstemp(name);
            ASSERT_GE(fd, 0);
            ::close(fd);
            paths.push_back(name);
            app.AddTemporaryFile(name);
        }
        app.AddTemporaryFile("/tmp/qb-app-temp-never-made");
        ::unlink(paths[0].c_str()); // already gone: ignored
        EXPECT_EQ(app.GetTemporaryFiles().size(), 3u);
    }
    for (const auto& path : paths) {
        EXPECT_NE(::access(path.c_str(), F_OK), 0) << path;
    }
}

} // namespace
} // namespace qb::test
