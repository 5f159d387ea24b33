// A large download started by paste in the window (offscreen platform),
// measured in the same run as `qbftp get` of the same file from the same
// pyftpdlib server, interleaved: the window's transfer time against
// qbftp's, and how late the window's event loop gets while the file
// arrives (a 10 ms timer's lateness, 99th percentile). Prints the medians
// against the targets; exits 1 when one is missed, 77 when pyftpdlib is
// not installed.
//
//   bench_paste [--mib N] [--runs N] [--qbftp PATH]
#include "app/session.h"
#include "bench_prompter.h"
#include "dialogs.h"
#include "folder_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "platform/questions.h"
#include "profile/profile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace qb;
using namespace qb::ui;

namespace {

constexpr int kTickMs = 10;
constexpr int kWaitMs = 600000;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

bool g_failed = false;

void Report(const char* what, double value, const char* unit, double target) {
    const bool ok = value < target;
    g_failed = g_failed || !ok;
    std::printf("  %-58s %9.3f %-3s (target < %.2f %s) %s\n", what, value, unit, target, unit,
                ok ? "PASS" : "FAIL");
}

// The event loop runs until `done` or the limit; returns false on the limit.
// It sleeps between events as the real program's loop does (a busy loop
// would take a core from the transfer); a timer wakes it to look.
template <class Done>
bool Spin(Done done, int limitMs = kWaitMs) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(20);
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    int mib = 512;
    int runs = 3;
    QString qbftp = QCoreApplication::applicationDirPath() + "/../cli/qbftp";
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--mib") {
            mib = args[i + 1].toInt();
        } else if (args[i] == "--runs") {
            runs = args[i + 1].toInt();
        } else if (args[i] == "--qbftp") {
            qbftp = args[i + 1];
        }
    }
    if (QProcess::execute("/usr/bin/python3", {"-c", "import pyftpdlib"}) != 0) {
        std::printf("pyftpdlib is not installed\n");
        return 77;
    }
    // Files in memory when /dev/shm has room, so the disk does not decide.
    const QString shm = QStringLiteral("/dev/shm");
    const bool inMemory = QStorageInfo(shm).bytesAvailable() > qint64(mib) * 3 * 1024 * 1024;
    QTemporaryDir dir(inMemory ? shm + "/quillbeck-bench-paste.XXXXXX" : QString());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    const QString serverRoot = dir.filePath("server");
    const QString local = dir.filePath("local");
    QDir().mkpath(serverRoot);
    QDir().mkpath(local);
    {
        QFile big(serverRoot + "/big.bin");
        if (!big.open(QIODevice::WriteOnly)) {
            return 1;
        }
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 7 + 3);
        }
        for (int i = 0; i < mib; ++i) {
            big.write(block);
        }
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start("/usr/bin/python3",
                 {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", QString::number(port), "-w", "-d",
                  serverRoot, "-u", "qb", "-P", "qbsecret"});
    server.waitForStarted(5000);
    for (int i = 0; i < 100; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100)) {
            break;
        }
        QThread::msleep(50);
    }

    const QString profilePath = dir.filePath("bench.dat");
    {
        CFTPProfile profile(profilePath.toStdString(), false);
        profile.LoadProfile();
        auto folder = std::make_unique<CFTPSiteFolder>("Bench", "");
        folder->AddSite(
            std::make_unique<CFTPSite>("Site", "127.0.0.1", false, "qb", "qbsecret", "", port, ""));
        profile.AddSiteFolder(std::move(folder));
        profile.m_bAutoExplore = false;
        profile.SaveProfile(nullptr);
    }
    CBenchPrompter prompter(true, true);
    CMainApp program(&prompter);
    if (!program.Start({profilePath.toStdString(), "--no-splash"})) {
        return 1;
    }
    CFolderTreeView& tree = *program.Frame()->Tree();
    CFTPSession& session = *program.Session();
    auto idle = [&] { return !session.App().IsBusy() && !tree.HasPending(); };
    tree.expand(tree.Model().IndexOf(tree.FindNode("Bench")));
    CFTPVI* site = tree.FindNode("Bench/Site");
    tree.expand(tree.Model().IndexOf(site));
    if (!Spin([&] { return site->Has(VIF_EXPLORED) && idle(); }, 20000)) {
        std::printf("the site did not connect\n");
        return 1;
    }

    std::printf("%d MiB downloaded from pyftpdlib (%s), %d interleaved runs each:\n", mib,
                inMemory ? "files in /dev/shm" : "files on disk", runs);
    std::vector<double> windowTimes, qbftpTimes, lateness;
    const QString target = local + "/big.bin";
    for (int run = 0; run < runs; ++run) {
        // The window: the remote file on the clipboard, pasted into the
        // local folder; a 10 ms timer measures the event loop meanwhile.
        QFile::remove(target);
        if (!tree.GoTo(local)) {
            std::printf("the local folder cannot be reached\n");
            return 1;
        }
        tree.UserClipboard().Clear();
        tree.UserClipboard().Add(VI_REMOTEFILE, "Bench/Site/big.bin");
        QElapsedTimer tick;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(kTickMs);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            lateness.push_back(
                std::max(0.0, static_cast<double>(tick.nsecsElapsed()) / 1e6 - kTickMs));
            tick.start();
        });
        QElapsedTimer clock;
        clock.start();
        tick.start();
        timer.start();
        tree.PasteInto(tree.Selection());
        const bool done = Spin(idle);
        timer.stop();
        windowTimes.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        if (!done || QFileInfo(target).size() != qint64(mib) * 1024 * 1024) {
            std::printf("the window's download did not complete\n");
            return 1;
        }

        // qbftp get of the same file.
        QFile::remove(target);
        QProcess get;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QBFTP_PASSWORD", "qbsecret");
        get.setProcessEnvironment(env);
        clock.start();
        get.start(qbftp,
                  {"get", QStringLiteral("ftp://qb@127.0.0.1:%1/big.bin").arg(port), local + "/"});
        if (!get.waitForFinished(kWaitMs) || get.exitCode() != 0) {
            std::printf("qbftp get failed: %s\n", get.readAllStandardError().constData());
            return 1;
        }
        qbftpTimes.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        std::printf("  run %d: window %.3f s, qbftp %.3f s\n", run + 1, windowTimes.back(),
                    qbftpTimes.back());
    }
    const double ratio = Median(windowTimes) / Median(qbftpTimes);
    std::printf("  medians: window %.3f s, qbftp %.3f s, ratio %.3f\n", Median(windowTimes),
                Median(qbftpTimes), ratio);
    Report("window time / qbftp time (medians)", ratio, "", 1.10);
    Report("event loop lateness during the download, 99th pct", Percentile(lateness, 0.99), "ms",
           50);
    program.Frame()->close();
    program.Shutdown();
    server.kill();
    server.waitForFinished(5000);
    return g_failed ? 1 : 0;
}
