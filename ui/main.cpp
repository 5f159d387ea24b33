// quillbeck: the window. Without a display it says how to start it instead
// of letting the toolkit abort.
#include "main_app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

const char* const kUsage =
    "Usage: quillbeck [--profile FILE | FILE] [--no-splash] [--version] [--help]\n"
    "\n"
    "Starts the Quillbeck FTP client window. FILE is the profile to use instead of\n"
    "the default one (~/.config/quillbeck/Quillbeck.dat, or a Quillbeck.dat beside\n"
    "the program); it must exist. --no-splash, -Embedding and -Automation start\n"
    "without the splash window.\n";

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (arg == "--version") {
            std::printf("quillbeck %s (Qt %s)\n", QB_VERSION, QT_VERSION_STR);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) {
        std::fputs("quillbeck: no display to open the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set). Start Quillbeck from a desktop session (X11 or "
                   "Wayland), or from a terminal inside one; over SSH use 'ssh -X'. For work in "
                   "a terminal without a desktop, the command-line tool 'qbftp' drives the "
                   "same core (try 'qbftp --help').\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillbeck"));
    QApplication::setApplicationVersion(QStringLiteral(QB_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quillbeck"));

    qb::ui::CMainApp program;
    if (!program.Start(args)) {
        program.Shutdown();
        return 1;
    }
    const int result = program.Run();
    program.Shutdown();
    return result;
}
