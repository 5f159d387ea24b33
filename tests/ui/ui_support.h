// What the window's tests share: a prompter that records what the window
// asks and answers from a script, profile files in a temporary folder, and a
// tiny FTP server on the loopback interface that refuses every login.
#pragma once

#include "dialogs.h"
#include "platform/questions.h"
#include "profile/proxy_login.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qb {
class CFTPApp;
class CFTPProfile;
} // namespace qb

namespace qb::ui {
class CMainApp;
class CMainFrame;
class CFolderTreeView;
class CFolderTreeModel;
class CFolderContentView;
class CFolderContentModel;
} // namespace qb::ui

namespace qb::ui::test {

class CFakePrompter : public IPrompter {
public:
    struct MessageCall {
        QString text;
        unsigned style = 0;
    };
    struct AboutCall {
        AboutPage page;
        bool selected;
    };

    int Message(QWidget*, const QString& text, unsigned style) override;
    bool ConfirmExit(QWidget*) override;
    bool ConfirmStopByDisconnect(QWidget*) override;
    QString AskSaveLogFile(QWidget*, const QString& defaultName) override;
    QString AskGoTo(QWidget*, const std::vector<std::string>& history) override;
    void ShowAbout(QWidget*, AboutPage page, bool selectPage) override;
    bool EditSite(QWidget*, SiteDialogValues& values, int mode) override;
    bool EditSiteFolder(QWidget*, std::string& label, std::string& comments, bool edit) override;
    // Answers from folderNameAnswers; for a local folder it creates the
    // folder as the dialog would.
    std::string AskNewFolder(QWidget*, const NewFolderRequest& request) override;
    bool ConfirmDelete(QWidget*, const QString& what) override;
    int AskDropAction(QWidget*, const QPoint&) override;
    void ShowProperties(QWidget*, const ItemProperties& item) override {
        propertiesShown.push_back(item);
    }
    // Answers from proxyLoginAnswers (each may fill in the login and says
    // whether OK was pressed); Cancel once they run out.
    bool AskProxyLogin(QWidget*, ProxyLogin& login) override {
        ++proxyLoginsAsked;
        if (proxyLoginAnswers.empty()) {
            return false;
        }
        auto answer = std::move(proxyLoginAnswers.front());
        proxyLoginAnswers.pop_front();
        return answer(login);
    }
    bool ConfirmMove(QWidget*, const QString& items, const QString& folder, bool move) override {
        movesAsked.push_back({items, folder, move});
        return moveAnswer;
    }
    int AskLocalReplace(QWidget*, const CLFSReplaceQuestion&) override {
        ++replacesAsked;
        return replaceAnswer;
    }

    // Answers of the message boxes in turn; IDOK once they run out.
    std::deque<int> messageAnswers;
    bool exitAnswer = true;
    bool stopByDisconnectAnswer = false;
    QString saveLogAnswer;
    QString goToAnswer;

    std::vector<MessageCall> messages;
    // The object name of the modal dialog open when each message came
    // (empty when none).
    std::vector<QString> modalAtMessage;
    int exitAsked = 0;
    int stopByDisconnectAsked = 0;
    std::vector<QString> saveLogDefaults;
    int goToAsked = 0;
    std::vector<AboutCall> abouts;

    // The site dialogs: each answer is applied to the values shown (a
    // function may change them) and says whether OK was pressed; Cancel
    // once they run out.
    std::deque<std::function<bool(SiteDialogValues&)>> siteAnswers;
    std::vector<std::pair<int, SiteDialogValues>> sitesShown; // mode, values shown
    std::deque<std::function<bool(std::string&, std::string&)>> siteFolderAnswers;
    int siteFoldersShown = 0;
    std::deque<QString> folderNameAnswers;
    std::vector<NewFolderRequest> newFoldersAsked;
    bool deleteAnswer = true;
    std::vector<QString> deletesAsked;
    int dropAnswer = ID_CANCEL_DROP;
    int dropsAsked = 0;
    std::vector<ItemProperties> propertiesShown;
    int proxyLoginsAsked = 0;
    std::deque<std::function<bool(ProxyLogin&)>> proxyLoginAnswers;
    struct MoveCall {
        QString items, folder;
        bool move = false;
    };
    bool moveAnswer = true;
    std::vector<MoveCall> movesAsked;
    int replaceAnswer = 2; // Cancel
    int replacesAsked = 0;
};

// The whole program with a recording prompter, started on a profile file.
struct CTestProgram {
    explicit CTestProgram(const QString& profilePath);
    ~CTestProgram();
    bool Start(std::vector<std::string> extra = {});
    CMainFrame& Frame();
    CFolderTreeView& Tree();
    CFolderTreeModel& Model();
    CFolderContentView& Content();
    CFolderContentModel& Rows();
    CFTPApp& App();
    CFTPProfile& Profile();

    QString profile;
    CFakePrompter prompter;
    std::unique_ptr<CMainApp> app;
};

// Writes `data` to a new file; true when all of it was written.
bool WriteFile(const QString& path, const QByteArray& data);

// A profile file with the default sites, written to `path`.
void WriteDefaultProfile(const QString& path);

// Speaks just enough FTP to refuse a login: "220" on arrival, "331" to
// USER, "530" to PASS, "221" to QUIT and "500" to anything else. Serves
// one connection after the other until stopped.
class CRefusingFtpServer {
public:
    CRefusingFtpServer();
    ~CRefusingFtpServer();
    CRefusingFtpServer(const CRefusingFtpServer&) = delete;
    CRefusingFtpServer& operator=(const CRefusingFtpServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    int Logins() const { return m_logins.load(); }

private:
    void Serve();

    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::atomic<int> m_logins{0};
    std::thread m_thread;
};

// A pyftpdlib server (the end-to-end tests' script, which mends a fault of
// its active mode) on the loopback interface serving `root` to the user
// "qb" with the password "qbsecret" (write access), on a port of its own
// that stays the same across restarts.
class CPyFtpServer {
public:
    CPyFtpServer() = default;
    ~CPyFtpServer();
    CPyFtpServer(const CPyFtpServer&) = delete;
    CPyFtpServer& operator=(const CPyFtpServer&) = delete;

    // Whether python3 has pyftpdlib.
    static bool Available();
    // Starts it and waits until it takes connections; `bytesPerSecond`
    // (when not 0) slows every data connection down.
    bool Start(const QString& root, int bytesPerSecond = 0);
    void Stop();
    std::uint16_t Port() const { return m_port; }

private:
    std::unique_ptr<QProcess> m_process;
    std::uint16_t m_port = 0;
};

} // namespace qb::ui::test
