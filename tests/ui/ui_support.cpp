#include "ui_support.h"

#include "app/session.h"
#include "content_view.h"
#include "folder_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "profile/profile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qb::ui::test {

int CFakePrompter::Message(QWidget*, const QString& text, unsigned style) {
    messages.push_back({text, style});
    const QWidget* modal = QApplication::activeModalWidget();
    modalAtMessage.push_back(modal != nullptr ? modal->objectName() : QString());
    if (messageAnswers.empty()) {
        return IDOK;
    }
    const int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

bool CFakePrompter::ConfirmExit(QWidget*) {
    ++exitAsked;
    return exitAnswer;
}

bool CFakePrompter::ConfirmStopByDisconnect(QWidget*) {
    ++stopByDisconnectAsked;
    return stopByDisconnectAnswer;
}

QString CFakePrompter::AskSaveLogFile(QWidget*, const QString& defaultName) {
    saveLogDefaults.push_back(defaultName);
    return saveLogAnswer;
}

QString CFakePrompter::AskGoTo(QWidget*, const std::vector<std::string>&) {
    ++goToAsked;
    return goToAnswer;
}

void CFakePrompter::ShowAbout(QWidget*, AboutPage page, bool selectPage) {
    abouts.push_back({page, selectPage});
}

bool CFakePrompter::EditSite(QWidget*, SiteDialogValues& values, int mode) {
    sitesShown.emplace_back(mode, values);
    if (siteAnswers.empty()) {
        return false;
    }
    auto answer = std::move(siteAnswers.front());
    siteAnswers.pop_front();
    return answer(values);
}

bool CFakePrompter::EditSiteFolder(QWidget*, std::string& label, std::string& comments, bool) {
    ++siteFoldersShown;
    if (siteFolderAnswers.empty()) {
        return false;
    }
    auto answer = std::move(siteFolderAnswers.front());
    siteFolderAnswers.pop_front();
    return answer(label, comments);
}

std::string CFakePrompter::AskNewFolder(QWidget*, const NewFolderRequest& request) {
    newFoldersAsked.push_back(request);
    if (folderNameAnswers.empty()) {
        return {};
    }
    const std::string answer = folderNameAnswers.front().toStdString();
    folderNameAnswers.pop_front();
    if (!request.remote &&
        !QDir(QString::fromStdString(request.location)).mkdir(QString::fromStdString(answer))) {
        return {};
    }
    return answer;
}

bool CFakePrompter::ConfirmDelete(QWidget*, const QString& what) {
    deletesAsked.push_back(what);
    return deleteAnswer;
}

int CFakePrompter::AskDropAction(QWidget*, const QPoint&) {
    ++dropsAsked;
    return dropAnswer;
}

CTestProgram::CTestProgram(const QString& profilePath) : profile(profilePath) {}

CTestProgram::~CTestProgram() = default;

bool CTestProgram::Start(std::vector<std::string> extra) {
    app = std::make_unique<CMainApp>(&prompter);
    std::vector<std::string> args = {profile.toStdString(), "--no-splash"};
    args.insert(args.end(), extra.begin(), extra.end());
    return app->Start(args);
}

CMainFrame& CTestProgram::Frame() {
    return *app->Frame();
}

CFolderTreeView& CTestProgram::Tree() {
    return *app->Frame()->Tree();
}

CFolderTreeModel& CTestProgram::Model() {
    return Tree().Model();
}

CFolderContentView& CTestProgram::Content() {
    return *app->Frame()->Content();
}

CFolderContentModel& CTestProgram::Rows() {
    return Content().Model();
}

CFTPApp& CTestProgram::App() {
    return app->Session()->App();
}

CFTPProfile& CTestProgram::Profile() {
    return *app->Session()->GetProfile();
}

bool WriteFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

void WriteDefaultProfile(const QString& path) {
    CFTPProfile profile(path.toStdString(), false);
    if (!profile.LoadProfile() || profile.SaveProfile(nullptr) != CFTPProfile::SAVE_DONE) {
        throw std::runtime_error("cannot write the profile " + path.toStdString());
    }
}

CRefusingFtpServer::CRefusingFtpServer() {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (m_listen < 0 ||
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listen, 4) != 0 || ::pipe(m_wake) != 0) {
        throw std::runtime_error("cannot listen on the loopback interface");
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

CRefusingFtpServer::~CRefusingFtpServer() {
    const char stop = 'x';
    (void)!::write(m_wake[1], &stop, 1);
    m_thread.join();
    ::close(m_listen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void CRefusingFtpServer::Serve() {
    auto send = [](int fd, const char* text) {
        (void)!::send(fd, text, std::strlen(text), MSG_NOSIGNAL);
    };
    for (;;) {
        pollfd waits[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 || (waits[1].revents & POLLIN) != 0) {
            return;
        }
        const int client = ::accept(m_listen, nullptr, nullptr);
        if (client < 0) {
            continue;
        }
        send(client, "220 refusing test server\r\n");
        std::string pending;
        bool open = true;
        while (open) {
            pollfd reads[2] = {{client, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(reads, 2, -1) < 0 || (reads[1].revents & POLLIN) != 0) {
                ::close(client);
                return;
            }
            char buffer[512];
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; open && (end = pending.find("\r\n")) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (line.rfind("USER", 0) == 0) {
                    send(client, "331 password please\r\n");
                } else if (line.rfind("PASS", 0) == 0) {
                    ++m_logins;
                    send(client, "530 login incorrect\r\n");
                } else if (line.rfind("QUIT", 0) == 0) {
                    send(client, "221 bye\r\n");
                    open = false;
                } else {
                    send(client, "500 not understood\r\n");
                }
            }
        }
        ::close(client);
    }
}

CPyFtpServer::~CPyFtpServer() {
    Stop();
}

bool CPyFtpServer::Available() {
    return QProcess::execute(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral("-c"), QStringLiteral("import pyftpdlib")}) == 0;
}

bool CPyFtpServer::Start(const QString& root, int bytesPerSecond) {
    if (m_port == 0) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            return false;
        }
        m_port = probe.serverPort();
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    if (bytesPerSecond > 0) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QB_PYFTPD_RATE"), QString::number(bytesPerSecond));
        m_process->setProcessEnvironment(env);
    }
    m_process->start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(QB_PYFTPD_SCRIPT), "-i", "127.0.0.1", "-p",
                      QString::number(m_port), "-w", "-d", root, "-u", "qb", "-P", "qbsecret"});
    if (!m_process->waitForStarted(5000)) {
        return false;
    }
    for (int i = 0; i < 100; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(100)) {
            return true;
        }
        QTest::qWait(50);
    }
    return false;
}

void CPyFtpServer::Stop() {
    if (m_process) {
        m_process->kill();
        m_process->waitForFinished(5000);
        m_process.reset();
    }
}

} // namespace qb::ui::test
