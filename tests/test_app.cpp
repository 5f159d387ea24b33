// The application services: name rules, text helpers, busy code and flags,
// temporary files and the notifications to the windows.
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

// Every window at once, recording each call as one line.
class RecordingWindows : public IMainFrameWindow,
                         public IFolderTreeWindow,
                         public IFolderContentWindow,
                         public IStatusBarWindow,
                         public ILogWindow {
public:
    void OnOperationFinished() override { Add("OperationFinished"); }
    void EndWaitCursor() override { Add("EndWaitCursor"); }
    void OpenFile(std::string path) override { Add("Open " + path); }
    void OnLocalFileDeleted(std::string path) override { Add("LocalFileDeleted " + path); }
    void OnLocalFolderDeleted(std::string path) override { Add("LocalFolderDeleted " + path); }
    void OnRemoteFileDeleted(CFTPFile item) override { Add("RemoteFileDeleted " + item.GetPath()); }
    void OnRemoteFolderDeleted(CFTPFile item) override {
        Add("RemoteFolderDeleted " + item.GetPath());
    }
    void OnLocalFileCreated(std::string path) override { Add("LocalFileCreated " + path); }
    void OnLocalFolderCreated(std::string path) override { Add("LocalFolderCreated " + path); }
    void OnRemoteFileCreated(CFTPFile item) override { Add("RemoteFileCreated " + item.GetPath()); }
    void OnRemoteFolderCreated(CFTPFile item) override {
        Add("RemoteFolderCreated " + item.GetPath());
    }
    void OnRepaintTree(std::uintptr_t node) override { Add("RepaintTree " + std::to_string(node)); }
    void OnConnectionEnded(const CFTPRemoteManager*) override { Add("ConnectionEnded"); }
    void OnRenameFinished(std::string oldName, std::string newName, std::uintptr_t node) override {
        Add("RenameFinished " + oldName + " " + newName + " " + std::to_string(node));
    }
    void OnRefillContent() override { Add("RefillContent"); }
    void OnIdle() override { Add("Idle"); }
    void OnStatusChanged() override { Add("StatusChanged"); }
    void OnLogLine(LogLineClass lineClass, std::string text) override {
        Add("Log" + std::to_string(lineClass) + " " + text);
    }

    void RegisterWith(CFTPApp& app) {
        app.RegisterMainFrame(this);
        app.RegisterFolderTree(this);
        app.RegisterFolderContent(this);
        app.RegisterStatusBar(this);
        app.RegisterLogView(this);
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> guard(m_lock);
        return std::exchange(m_events, {});
    }

private:
    void Add(std::string event) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back(std::move(event));
    }
    std::mutex m_lock;
    std::vector<std::string> m_events;
};

TEST(AppNotifications, DeliveredToTheirWindowUnlessExitingOrRefreshPending) {
    const CFTPFile remote("dir/file", nullptr, true);
    struct Case {
        std::function<void(CFTPApp&)> call;
        std::string event;
        bool localFile; // dropped while a refresh is pending
    };
    const Case cases[] = {
        {[](CFTPApp& a) { a.NotifyOperationFinished(); }, "OperationFinished", false},
        {[](CFTPApp& a) { a.NotifyLocalFileDeleted("/l/f"); }, "LocalFileDeleted /l/f", true},
        {[](CFTPApp& a) { a.NotifyLocalFolderDeleted("/l/d"); }, "LocalFolderDeleted /l/d", false},
        {[&](CFTPApp& a) { a.NotifyRemoteFileDeleted(remote); }, "RemoteFileDeleted dir/file",
         false},
        {[&](CFTPApp& a) { a.NotifyRemoteFolderDeleted(remote); }, "RemoteFolderDeleted dir/file",
         false},
        {[](CFTPApp& a) { a.NotifyLocalFileCreated("/l/f"); }, "LocalFileCreated /l/f", true},
        {[](CFTPApp& a) { a.NotifyLocalFolderCreated("/l/d"); }, "LocalFolderCreated /l/d", false},
        {[&](CFTPApp& a) { a.NotifyRemoteFileCreated(remote); }, "RemoteFileCreated dir/file",
         false},
        {[&](CFTPApp& a) { a.NotifyRemoteFolderCreated(remote); }, "RemoteFolderCreated dir/file",
         false},
        {[](CFTPApp& a) { a.NotifyRepaintTree(7); }, "RepaintTree 7", false},
        {[](CFTPApp& a) { a.NotifyConnectionEnded(nullptr); }, "ConnectionEnded", false},
        {[](CFTPApp& a) { a.NotifyRenameFinished("old", "new", 9); }, "RenameFinished old new 9",
         false},
        {[](CFTPApp& a) { a.NotifyRefillContent(); }, "RefillContent", false},
        {[](CFTPApp& a) { a.NotifyIdle(); }, "Idle", false},
        {[](CFTPApp& a) { a.NotifyStatusChanged(); }, "StatusChanged", false},
        {[](CFTPApp& a) { a.LogCommandLine("USER x"); }, "Log0 USER x", false},
        {[](CFTPApp& a) { a.LogReplyLine("331 ok"); }, "Log1 331 ok", false},
        {[](CFTPApp& a) { a.LogNoteLine("note"); }, "Log2 note", false},
        {[](CFTPApp& a) { a.OpenFile("/tmp/v.txt"); }, "Open /tmp/v.txt", false},
    };
    enum class State { Normal, RefreshPending, Unregistered, Exiting };
    for (State state :
         {State::Normal, State::RefreshPending, State::Unregistered, State::Exiting}) {
        CFTPApp app;
        RecordingWindows windows;
        if (state != State::Unregistered) {
            windows.RegisterWith(app);
        }
        app.SetRefreshPending(state == State::RefreshPending);
        if (state == State::Exiting) {
            app.SetExiting();
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(c.event + " in state " + std::to_string(static_cast<int>(state)));
            c.call(app);
            bool delivered =
                state == State::Normal || (state == State::RefreshPending && !c.localFile);
            EXPECT_EQ(windows.Take(),
                      delivered ? std::vector<std::string>{c.event} : std::vector<std::string>{});
        }
    }
}

TEST(AppState, BusyCodeFlagsAndOperationEnd) {
    CFTPApp app;
    RecordingWindows windows;
    windows.RegisterWith(app);
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
    EXPECT_EQ(windows.Take(), std::vector<std::string>{"EndWaitCursor"});

    EXPECT_FALSE(engineView.IsExiting());
    app.SetExiting();
    EXPECT_TRUE(engineView.IsExiting());
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

// A window may be destroyed as soon as it has unregistered: unregistering
// waits for a call to it that is under way.
TEST(AppNotifications, UnregisterWaitsForACallInProgress) {
    class SlowContent : public IFolderContentWindow {
    public:
        void OnRefillContent() override {
            {
                std::lock_guard<std::mutex> guard(lock);
                entered = true;
            }
            changed.notify_all();
            std::unique_lock<std::mutex> guard(lock);
            // Unregistering must not finish while this call runs.
            changed.wait_for(guard, std::chrono::milliseconds(200), [&] { return unregistered; });
            unregisteredDuringCall = unregistered;
        }
        std::mutex lock;
        std::condition_variable changed;
        bool entered = false;
        bool unregistered = false;
        bool unregisteredDuringCall = false;
    };
    CFTPApp app;
    SlowContent window;
    app.RegisterFolderContent(&window);
    std::thread notifier([&] { app.NotifyRefillContent(); });
    {
        std::unique_lock<std::mutex> guard(window.lock);
        ASSERT_TRUE(window.changed.wait_for(guard, std::chrono::seconds(10),
                                            [&] { return window.entered; }));
    }
    app.RegisterFolderContent(nullptr);
    {
        std::lock_guard<std::mutex> guard(window.lock);
        window.unregistered = true;
    }
    window.changed.notify_all();
    notifier.join();
    EXPECT_FALSE(window.unregisteredDuringCall);
    app.NotifyRefillContent(); // no window: nothing happens
}

} // namespace
} // namespace qb::test
