// The folder tree under load, on the offscreen platform, with a tree view
// showing the model:
//  1. a profile of 2,000 sites in 100 site folders: building the root and
//     expanding every folder (target: under 0.3 s in total);
//  2. a 20,000-entry listing merged into a site node and the node expanded
//     (target: under 0.2 s), then merged again into the explored node with
//     a tenth of the entries replaced (same target).
// A plain program that prints its figures against the targets; exits 1
// when one is missed.
#include "engine/ftp_file.h"
#include "folder_model.h"
#include "profile/profile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <memory>
#include <string>

using namespace qb;
using namespace qb::ui;

namespace {

CFTPFolderContent Listing(int count, int renamedFrom) {
    CFTPFolderContent content(CFTPFile("", SiteRef{1, "host"}, false));
    for (int i = 0; i < count; ++i) {
        const bool renamed = i >= renamedFrom && i % 10 == 0;
        char name[32];
        std::snprintf(name, sizeof name, renamed ? "new%06d" : "dir%06d", i);
        // Half folders, half files.
        content.Add(name, i % 2 == 1, 1700000000 + i, static_cast<FileSize>(i) * 4096, "");
    }
    return content;
}

bool Report(const char* what, double seconds, double target) {
    const bool ok = seconds < target;
    std::printf("%-58s %8.3f s (target < %.1f s) %s\n", what, seconds, target,
                ok ? "ok" : "MISSED");
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    CFTPProfile profile(dir.filePath("p.dat").toStdString(), false);
    for (int f = 0; f < 100; ++f) {
        auto folder = std::make_unique<CFTPSiteFolder>("Folder " + std::to_string(f), "");
        for (int s = 0; s < 20; ++s) {
            folder->AddSite(std::make_unique<CFTPSite>("Site " + std::to_string(s),
                                                       "host" + std::to_string(s) + ".example",
                                                       false, "", 21, ""));
        }
        profile.AddSiteFolder(std::move(folder));
    }
    profile.AddSite(std::make_unique<CFTPSite>("Listed", "listed.example", false, "", 21, ""));
    bool ok = true;

    QElapsedTimer timer;
    timer.start();
    CFolderTreeModel model(&profile, {});
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setModel(&model);
    view.resize(400, 600);
    view.show();
    const QModelIndex root = model.index(0, 0);
    view.expand(root);
    for (int i = 0; i < model.rowCount(root); ++i) {
        view.expand(model.index(i, 0, root));
    }
    QApplication::processEvents();
    ok = Report("2,000 sites in 100 folders: root and every folder expanded",
                timer.nsecsElapsed() / 1e9, 0.3) &&
         ok;

    CFTPVI* site = model.Child(model.Root(), "Listed");
    const CFTPFolderContent first = Listing(20000, 20000);
    const CFTPFolderContent second = Listing(20000, 0);
    timer.restart();
    model.MergeListing(site, first);
    view.expand(model.IndexOf(site));
    QApplication::processEvents();
    ok = Report("20,000-entry listing into a site, node expanded", timer.nsecsElapsed() / 1e9,
                0.2) &&
         ok;
    timer.restart();
    model.MergeListing(site, second);
    QApplication::processEvents();
    ok = Report("20,000-entry listing merged into the explored node", timer.nsecsElapsed() / 1e9,
                0.2) &&
         ok;
    std::printf("rows under the site: %d\n", model.rowCount(model.IndexOf(site)));
    return ok ? 0 : 1;
}
