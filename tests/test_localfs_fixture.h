// Temporary folders and a scripted user for the local operation tests.
#pragma once

#include "engine/frontend.h"
#include "localfs/lfs_data.h"
#include "localfs/lfs_texts.h"
#include "platform/questions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qb::test {

// A private folder for one test, removed with everything in it.
class TempTree {
public:
    explicit TempTree(const std::string& base = {}) {
        std::string parent = base;
        if (parent.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            parent = (tmp && *tmp) ? tmp : "/tmp";
        }
        std::string pattern = parent + "/qb-localfs-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data())) {
            m_root = buffer.data();
        }
    }
    ~TempTree() {
        if (m_root.empty()) {
            return;
        }
        for (const auto& path : m_immutable) {
            SetImmutable(path, false);
        }
        // Give every folder back its permissions so everything can go.
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 m_root, std::filesystem::directory_options::skip_permission_denied, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                ::chmod(it->path().c_str(), 0700);
            }
        }
        ::chmod(m_root.c_str(), 0700);
        std::filesystem::remove_all(m_root, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    bool Ok() const { return !m_root.empty(); }
    const std::string& Root() const { return m_root; }
    std::string Path(const std::string& rel) const {
        return rel.empty() ? m_root : m_root + "/" + rel;
    }

    void Dir(const std::string& rel, mode_t mode = 0755) const {
        ASSERT_EQ(::mkdir(Path(rel).c_str(), 0700), 0) << rel;
        ::chmod(Path(rel).c_str(), mode);
    }
    void File(const std::string& rel, const std::string& content, mode_t mode = 0644) const {
        {
            std::ofstream out(Path(rel), std::ios::binary | std::ios::trunc);
            out << content;
            ASSERT_TRUE(out.good()) << rel;
        }
        ::chmod(Path(rel).c_str(), mode);
    }
    void Link(const std::string& rel, const std::string& target) const {
        ASSERT_EQ(::symlink(target.c_str(), Path(rel).c_str()), 0) << rel;
    }
    std::string Read(const std::string& rel) const {
        std::ifstream in(Path(rel), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool Exists(const std::string& rel) const {
        struct stat st {};
        return ::lstat(Path(rel).c_str(), &st) == 0;
    }
    struct stat Stat(const std::string& rel) const {
        struct stat st {};
        ::lstat(Path(rel).c_str(), &st);
        return st;
    }
    // Names in a folder, sorted.
    std::vector<std::string> List(const std::string& rel) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(Path(rel), ec)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Makes a file impossible to delete even for root; false where that
    // cannot be done.
    bool MakeUndeletable(const std::string& rel) {
        if (::geteuid() != 0 || !SetImmutable(Path(rel), true)) {
            return false;
        }
        m_immutable.push_back(Path(rel));
        return true;
    }

private:
    static bool SetImmutable(const std::string& path, bool on) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }
    std::string m_root;
    std::vector<std::string> m_immutable;
};

// Runs `body` where file permissions count: directly for an ordinary user;
// for root, in a child process that has become "nobody" and owns `folder`.
inline void AsOrdinaryUser(const std::string& folder, const std::function<void()>& body) {
    if (::geteuid() != 0) {
        body();
        return;
    }
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(3);
        }
        body();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the unprivileged run failed (status " << status << ")";
}

// The user behind the dialogs, and the views behind the notifications:
// answers from a script and records everything.
class ScriptedUser : public IQuestions, public ILFSReplaceDialog, public INotifier {
public:
    // Message box answers, first to last; IDOK when none is left.
    std::vector<int> messageAnswers;
    // Replace answers by the replaced file's name; REPLACE_YES otherwise.
    std::map<std::string, int> replaceAnswers;

    int MessageBox(const std::string& text, unsigned style) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages.push_back({text, style});
        if (m_nextAnswer < messageAnswers.size()) {
            return messageAnswers[m_nextAnswer++];
        }
        return IDOK;
    }
    int AskReplace(const CLFSReplaceQuestion& question) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_replaceQuestions.push_back(question);
        std::string name = std::filesystem::path(question.m_existing.m_strFullName).filename();
        auto it = replaceAnswers.find(name);
        return it == replaceAnswers.end() ? lfs::REPLACE_YES : it->second;
    }

    void NotifyLocalFileDeleted(const std::string& path) override { Add("FileDeleted " + path); }
    void NotifyLocalFolderDeleted(const std::string& path) override {
        Add("FolderDeleted " + path);
    }
    void NotifyLocalFileCreated(const std::string& path) override { Add("FileCreated " + path); }
    void NotifyLocalFolderCreated(const std::string& path) override {
        Add("FolderCreated " + path);
    }

    struct Message {
        std::string text;
        unsigned style;
    };
    std::vector<Message> Messages() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_messages;
    }
    std::vector<CLFSReplaceQuestion> ReplaceQuestions() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_replaceQuestions;
    }
    std::multiset<std::string> Events() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return {m_events.begin(), m_events.end()};
    }

private:
    void Add(std::string event) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back(std::move(event));
    }

    mutable std::mutex m_lock;
    std::size_t m_nextAnswer = 0;
    std::vector<Message> m_messages;
    std::vector<CLFSReplaceQuestion> m_replaceQuestions;
    std::vector<std::string> m_events;
};

} // namespace qb::test
