// The content list under load, on the offscreen platform, with a details
// view showing the model (and painted once after every step):
//  1. a generated remote folder of 100,000 files copied into the list
//     (target: under 0.3 s), then sorted by size and by time, down
//     (target: under 0.2 s each);
//  2. a local folder of 100,000 files on tmpfs (/dev/shm, or the private
//     temporary folder when that cannot be written) read into the list
//     (target: under 0.3 s), then sorted the same way.
// A plain program that prints its figures against the targets; exits 1
// when one is missed.
#include "content_model.h"
#include "view_item.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

using namespace qb;
using namespace qb::ui;

namespace {

constexpr int kRows = 100000;
constexpr double kFillTarget = 0.3;
constexpr double kSortTarget = 0.2;

bool Report(const char* what, double seconds, double target) {
    const bool ok = seconds < target;
    std::printf("%-58s %8.3f s (target < %.1f s) %s\n", what, seconds, target,
                ok ? "ok" : "MISSED");
    return ok;
}

// Names in no particular order, mixed case, sizes up to 8 GiB.
std::unique_ptr<CFTPVI> RemoteFolder() {
    auto folder = std::make_unique<CFTPVI>(VI_REMOTEFOLDER, "big", 0, 0);
    folder->SetState(VIF_EXPLORED);
    std::mt19937_64 random(7);
    for (int i = 0; i < kRows; ++i) {
        char name[32];
        const unsigned n = static_cast<unsigned>(random() % 1000000000ULL);
        std::snprintf(name, sizeof name, i % 2 == 0 ? "File_%09u.dat" : "file_%09u.txt", n);
        folder->AddChild(
            std::make_unique<CFTPVI>(VI_REMOTEFILE, name,
                                     static_cast<std::time_t>(1600000000 + random() % 100000000),
                                     random() % (8ULL << 30)),
            false);
    }
    return folder;
}

QString MakeLocalFolder(std::unique_ptr<QTemporaryDir>& holder) {
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() && ::access("/dev/shm", W_OK) == 0
            ? QStringLiteral("/dev/shm/quillbeck-bench-XXXXXX")
            : QDir::tempPath() + QStringLiteral("/quillbeck-bench-XXXXXX");
    holder = std::make_unique<QTemporaryDir>(base);
    if (!holder->isValid()) {
        return {};
    }
    const std::string path = holder->path().toStdString();
    const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return {};
    }
    std::mt19937 random(11);
    for (int i = 0; i < kRows; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "local_%06d_%u.bin", i, static_cast<unsigned>(random()));
        const int fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            ::close(dir);
            return {};
        }
        // Sizes vary without writing data.
        if (::ftruncate(fd, static_cast<off_t>(random() % 65536)) != 0) {
            ::close(fd);
            ::close(dir);
            return {};
        }
        ::close(fd);
    }
    ::close(dir);
    return holder->path();
}

// Sorting by size down and by time down, each timed with a repaint.
bool SortSteps(const char* what, CFolderContentModel& model, QTreeView& view) {
    bool ok = true;
    const struct {
        std::uint16_t key;
        const char* name;
    } steps[] = {{0x8002, "by size, down"}, {0x8001, "by time, down"}, {0x0000, "by name"}};
    for (const auto& step : steps) {
        QElapsedTimer timer;
        timer.start();
        model.Sort(step.key);
        QApplication::processEvents();
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        const std::string label = std::string(what) + ": sort " + step.name;
        ok = Report(label.c_str(), seconds, kSortTarget) && ok;
    }
    view.viewport()->update();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = true;

    CFolderContentModel model;
    QTreeView view;
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.setModel(&model);
    for (int column = 0; column < CFolderContentModel::COL_COUNT; ++column) {
        view.header()->resizeSection(column, CFolderContentModel::kColumnWidth[column]);
    }
    view.resize(600, 800);
    view.show();
    QApplication::processEvents();

    // 1. A remote folder listed into the tree, copied into the list.
    {
        const std::unique_ptr<CFTPVI> folder = RemoteFolder();
        QElapsedTimer timer;
        timer.start();
        model.Reset(CFolderContentModel::CopyNodeContent(*folder));
        QApplication::processEvents();
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        ok = Report("remote folder, 100,000 files: fill", seconds, kFillTarget) && ok;
        if (model.rowCount() != kRows) {
            std::printf("expected %d rows, got %d\n", kRows, model.rowCount());
            return 1;
        }
        ok = SortSteps("remote folder", model, view) && ok;
    }

    // 2. A local folder read from the disk.
    {
        std::unique_ptr<QTemporaryDir> holder;
        const QString path = MakeLocalFolder(holder);
        if (path.isEmpty()) {
            std::printf("cannot create the local folder of %d files\n", kRows);
            return 1;
        }
        std::printf("local folder: %s\n", qPrintable(path));
        QElapsedTimer timer;
        timer.start();
        auto items = CFolderContentModel::ReadLocalFolder(path.toStdString());
        const double reading = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        model.Reset(std::move(items), true, path.toStdString());
        QApplication::processEvents();
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        ok = Report("local folder, 100,000 files: fill", seconds, kFillTarget) && ok;
        std::printf("  (of which reading the folder: %.3f s)\n", reading);
        if (model.rowCount() != kRows) {
            std::printf("expected %d rows, got %d\n", kRows, model.rowCount());
            return 1;
        }
        ok = SortSteps("local folder", model, view) && ok;
        model.Clear();
    }
    return ok ? 0 : 1;
}
