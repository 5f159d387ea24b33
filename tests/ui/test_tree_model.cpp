// View items and the folder tree's model: the state bits, texts and sibling
// order of view items, the volumes read from a mounts table, and the model
// under QAbstractItemModelTester with local, site and remote content.
#include "engine/ftp_file.h"
#include "folder_model.h"
#include "profile/profile.h"
#include "view_item.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qb;
using namespace qb::ui;

Q_DECLARE_METATYPE(qb::FileSize)

namespace {

// A profile in memory: two folders (one nested) and two sites at the top.
std::unique_ptr<CFTPProfile> MakeProfile(const QString& path) {
    auto profile = std::make_unique<CFTPProfile>(path.toStdString(), false);
    auto work = std::make_unique<CFTPSiteFolder>("Work", "");
    auto inner = std::make_unique<CFTPSiteFolder>("inner", "");
    inner->AddSite(std::make_unique<CFTPSite>("deep", "deep.example", false, "", 21, ""));
    work->AddSiteFolder(std::move(inner));
    work->AddSite(std::make_unique<CFTPSite>("b-site", "b.example", false, "", 21, ""));
    work->AddSite(std::make_unique<CFTPSite>("A-site", "a.example", false, "", 21, ""));
    profile->AddSiteFolder(std::move(work));
    profile->AddSiteFolder(std::make_unique<CFTPSiteFolder>("Empty", ""));
    profile->AddSite(std::make_unique<CFTPSite>("zeta", "z.example", false, "", 21, ""));
    profile->AddSite(std::make_unique<CFTPSite>("Alpha", "alpha.example", false, "", 21, ""));
    return profile;
}

QStringList Labels(const QAbstractItemModel& model, const QModelIndex& parent) {
    QStringList out;
    for (int i = 0; i < model.rowCount(parent); ++i) {
        out << model.index(i, 0, parent).data().toString();
    }
    return out;
}

CFTPFolderContent Listing(const std::vector<std::string>& folders,
                          const std::vector<std::string>& files) {
    CFTPFolderContent content(CFTPFile("", SiteRef{7, "host"}, false));
    for (const auto& name : folders) {
        content.Add(name, false, 1000, 0, name == "link" ? "/target" : "");
    }
    for (const auto& name : files) {
        content.Add(name, true, 2000, 5'000'000'000ULL, "");
    }
    return content;
}

} // namespace

class TestTreeModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stateBits();
    void sizeTexts_data();
    void sizeTexts();
    void addChildMerges();
    void imagesByKindAndState();
    void siblingOrder();
    void mountsTable();
    void modelWithLocalAndSiteContent();
    void remoteListingMerge();
    void shownNames_data();
    void shownNames();
};

void TestTreeModel::stateBits() {
    CFTPVI site(VI_SITE, "s", 0, 0);
    site.SetState(VIF_EXPLORED);
    QCOMPARE(site.GetState(), std::uint16_t(VIF_EXPLORED | VIF_CHILDREN | VIF_CONNECTED));
    site.ClearState(VIF_CONNECTED);
    QCOMPARE(site.GetState(), std::uint16_t(VIF_CHILDREN));
    site.SetState(VIF_EXPLORED);
    site.ClearState(VIF_CHILDREN);
    QCOMPARE(site.GetState(), std::uint16_t(VIF_CONNECTED));
    site.SetState(VIF_EXPLORED);
    site.ClearState(VIF_EXPLORED);
    QCOMPARE(site.GetState(), std::uint16_t(VIF_CHILDREN | VIF_CONNECTED));
}

void TestTreeModel::sizeTexts_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<qb::FileSize>("size");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<bool>("timeNeedsRefresh");
    QTest::newRow("999") << int(VI_REMOTEFILE) << FileSize(999) << "999" << false;
    QTest::newRow("1000") << int(VI_REMOTEFILE) << FileSize(1000) << "1,000" << false;
    QTest::newRow("zero") << int(VI_REMOTEFILE) << FileSize(0) << "0" << false;
    QTest::newRow("1e6") << int(VI_LOCALFILE) << FileSize(1000000) << "1,000,000" << false;
    QTest::newRow("1e9") << int(VI_LOCALFILE) << FileSize(1000000000) << "1,000,000,000" << false;
    QTest::newRow("4 GiB and more")
        << int(VI_REMOTEFILE) << FileSize(4294967296ULL) << "4,294,967,296" << false;
    QTest::newRow("old 32-bit mark is a size")
        << int(VI_REMOTEFILE) << FileSize(0xFFFFFFFFULL) << "4,294,967,295" << false;
    QTest::newRow("unknown remote file")
        << int(VI_REMOTEFILE) << kUnknownSize << "Need Refresh" << true;
    QTest::newRow("unknown remote folder")
        << int(VI_REMOTEFOLDER) << kUnknownSize << "Need Refresh" << true;
    QTest::newRow("site") << int(VI_SITE) << FileSize(5) << "N/A" << false;
    QTest::newRow("site folder") << int(VI_SITEFOLDER) << kUnknownSize << "N/A" << false;
    QTest::newRow("local folder") << int(VI_LOCALFOLDER) << FileSize(5) << "N/A" << false;
}

void TestTreeModel::sizeTexts() {
    QFETCH(int, kind);
    QFETCH(qb::FileSize, size);
    QFETCH(QString, sizeText);
    QFETCH(bool, timeNeedsRefresh);
    CFTPVI item(static_cast<std::uint16_t>(kind), "x", 86400 * 365, size);
    QCOMPARE(QString::fromStdString(item.SizeText()), sizeText);
    QCOMPARE(item.TimeText() == "Need Refresh", timeNeedsRefresh);
}

void TestTreeModel::addChildMerges() {
    CFTPVI folder(VI_REMOTEFOLDER, "f", 0, 0);
    QVERIFY(!folder.AddChild(nullptr, true));
    std::ptrdiff_t index = 5;
    QVERIFY(folder.AddChild(std::make_unique<CFTPVI>(VI_REMOTEFILE, "a", 1, 10), true, &index));
    QCOMPARE(index, std::ptrdiff_t(0));
    CFTPVI* first = folder.GetChildren()->GetAt(0);
    QVERIFY(folder.AddChild(std::make_unique<CFTPVI>(VI_REMOTEFILE, "a", 2, 20), true, &index));
    QCOMPARE(index, std::ptrdiff_t(-1));
    QCOMPARE(folder.GetChildren()->GetSize(), std::size_t(1));
    QCOMPARE(folder.GetChildren()->GetAt(0), first); // the same object, updated
    FileSize size = 0;
    std::time_t time = 0;
    QVERIFY(folder.FindChild("a", &size, &time));
    QCOMPARE(size, FileSize(20));
    QCOMPARE(time, std::time_t(2));
    QVERIFY(folder.HasNoChild("A")); // names compare exactly
    QVERIFY(folder.AddChild(std::make_unique<CFTPVI>(VI_REMOTEFILE, "a", 3, 30), false));
    QCOMPARE(folder.GetChildren()->GetSize(), std::size_t(2));
    QVERIFY(folder.RemoveChild("a"));
    QCOMPARE(folder.GetChildren()->GetSize(), std::size_t(1));
    CFTPVI copy(VI_ROOT, "", 0, 0);
    copy.Assign(folder);
    QCOMPARE(copy.GetKind(), std::uint16_t(VI_REMOTEFOLDER));
    QCOMPARE(copy.GetChildren()->GetAt(0)->GetSize(), FileSize(30));
    QVERIFY(copy.GetChildren()->GetAt(0) != folder.GetChildren()->GetAt(0));
}

void TestTreeModel::imagesByKindAndState() {
    CFTPVI site(VI_SITE, "s", 0, 0);
    QCOMPARE(site.Image(false), 16);
    site.SetState(VIF_EXPLORED);
    QCOMPARE(site.Image(false), 15);
    CFTPVI folder(VI_REMOTEFOLDER, "f", 0, 0);
    QCOMPARE(folder.Image(false), 19);
    QCOMPARE(folder.Image(true), 20);
    folder.SetLinkText("/x");
    QCOMPARE(folder.Image(false), 23);
    folder.SetState(VIF_EXPLORED);
    QCOMPARE(folder.Image(true), 22);
    QCOMPARE(CFTPVI(VI_LOCALFOLDER, "l", 0, 0).Image(true), 10);
    QCOMPARE(CFTPVI(VI_CDROM, "c", 0, 0).Image(false), 5);
    QCOMPARE(CFTPVI(13, "none", 0, 0).Image(false), -1);
}

void TestTreeModel::siblingOrder() {
    std::vector<std::unique_ptr<CFTPVI>> items;
    items.push_back(std::make_unique<CFTPVI>(VI_SITE, "b", 0, 0));
    items.push_back(std::make_unique<CFTPVI>(VI_SITEFOLDER, "z", 0, 0));
    items.push_back(std::make_unique<CFTPVI>(VI_SITE, "A", 0, 0));
    items.push_back(std::make_unique<CFTPVILocalDrive>(1, MountInfo{"", "/tmp", "tmpfs"}));
    items.push_back(std::make_unique<CFTPVILocalDrive>(0, MountInfo{"", "/", "ext4"}));
    std::sort(items.begin(), items.end(),
              [](const auto& a, const auto& b) { return SiblingLess(*a, *b); });
    QStringList names;
    for (const auto& item : items) {
        names << QString::fromStdString(item->GetName());
    }
    QCOMPARE(names, (QStringList{"(/)", "(/tmp)", "z", "A", "b"}));
}

void TestTreeModel::mountsTable() {
    const std::string table = "overlay / overlay rw 0 0\n"
                              "proc /proc proc rw 0 0\n"
                              "sysfs /sys sysfs rw 0 0\n"
                              "tmpfs /dev/shm tmpfs rw 0 0\n"
                              "/dev/sda1 /home ext4 rw 0 0\n"
                              "/dev/sdb1 /media/USB\\040Stick vfat rw 0 0\n"
                              "server:/x /mnt/nfs nfs4 rw 0 0\n"
                              "/dev/sr0 /run/media/u/CD iso9660 ro 0 0\n"
                              "tmpfs /mnt/ram tmpfs rw 0 0\n"
                              "/dev/loop3 /snap/core squashfs ro 0 0\n"
                              "/dev/sda2 /etc/hosts ext4 rw 0 0\n";
    const std::vector<MountInfo> mounts = ParseMounts(table);
    QStringList points;
    for (const MountInfo& m : mounts) {
        points << QString::fromStdString(m.mountPoint);
    }
    QCOMPARE(points, (QStringList{"/", "/home", "/media/USB Stick", "/mnt/nfs", "/run/media/u/CD",
                                  "/mnt/ram"}));
    QCOMPARE(DriveKind(mounts[3]), std::uint16_t(VI_NETDRIVE));
    QCOMPARE(DriveKind(mounts[4]), std::uint16_t(VI_CDROM));
    QCOMPARE(DriveKind(mounts[5]), std::uint16_t(VI_RAMDISK));
    QCOMPARE(ParseMounts("").front().mountPoint, std::string("/"));
}

void TestTreeModel::modelWithLocalAndSiteContent() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir base(dir.path());
    for (const char* path : {"vol/b", "vol/A/x", "vol/c"}) {
        QVERIFY(base.mkpath(QString::fromLatin1(path)));
    }
    QFile file(base.filePath("vol/file.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    auto profile = MakeProfile(dir.filePath("p.dat"));
    CFolderTreeModel model(profile.get(),
                           {MountInfo{"", base.filePath("vol").toStdString(), "ext4"}});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    const QModelIndex root = model.index(0, 0);
    QCOMPARE(root.data().toString(), QStringLiteral("Quillbeck"));
    QCOMPARE(Labels(model, root), (QStringList{QStringLiteral("(%1)").arg(base.filePath("vol")),
                                               "Empty", "Work", "Alpha", "zeta"}));
    const QModelIndex drive = model.index(0, 0, root);
    QVERIFY(model.hasChildren(drive));
    model.fetchMore(drive);
    QCOMPARE(Labels(model, drive), (QStringList{"A", "b", "c"})); // folders only
    QCOMPARE(model.NodePath(model.NodeOf(model.index(0, 0, drive))),
             base.filePath("vol/A").toStdString());

    // A folder gone from the disk goes; a new one comes; A keeps its own
    // children.
    model.fetchMore(model.index(0, 0, drive));
    QCOMPARE(model.rowCount(model.index(0, 0, drive)), 1);
    QVERIFY(base.rmdir(QStringLiteral("vol/c")));
    QVERIFY(base.mkpath(QStringLiteral("vol/d")));
    QVERIFY(model.ListLocal(model.NodeOf(drive)));
    QCOMPARE(Labels(model, drive), (QStringList{"A", "b", "d"}));
    QCOMPARE(model.rowCount(model.index(0, 0, drive)), 1);

    // Site folders fill from the profile; an empty one has no expand button.
    const QModelIndex empty = model.index(1, 0, root);
    QVERIFY(!model.hasChildren(empty));
    const QModelIndex work = model.index(2, 0, root);
    QVERIFY(model.hasChildren(work));
    model.fetchMore(work);
    QCOMPARE(Labels(model, work), (QStringList{"inner", "A-site", "b-site"}));
    model.fetchMore(model.index(0, 0, work));
    QCOMPARE(model.NodePath(model.NodeOf(model.index(0, 0, model.index(0, 0, work)))),
             std::string("Work/inner/deep"));
    // A site shows an expand button (its placeholder) with no rows.
    const QModelIndex alpha = model.index(3, 0, root);
    QVERIFY(model.hasChildren(alpha));
    QVERIFY(!model.canFetchMore(alpha));
    QCOMPARE(model.rowCount(alpha), 0);
    QVERIFY(model.flags(alpha) & Qt::ItemIsEditable);
    QVERIFY(!(model.flags(root) & Qt::ItemIsEditable));
}

void TestTreeModel::remoteListingMerge() {
    QTemporaryDir dir;
    auto profile = MakeProfile(dir.filePath("p.dat"));
    CFolderTreeModel model(profile.get(), {});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<CFTPVI*> removed;
    model.onRemoving = [&](CFTPVI* node) { removed.push_back(node); };
    CFTPVI* site = model.Child(model.Root(), "Alpha");
    QVERIFY(site != nullptr);
    model.MergeListing(site, Listing({"pub", "link", "old", "Incoming"}, {"readme", "big.iso"}));
    QVERIFY(site->Has(VIF_EXPLORED));
    const QModelIndex siteIndex = model.IndexOf(site);
    QCOMPARE(Labels(model, siteIndex), (QStringList{"Incoming", "link", "old", "pub"}));
    CFTPVI* pub = model.Child(site, "pub");
    QCOMPARE(pub->GetLinkText(), std::string());
    QCOMPARE(model.Child(site, "link")->GetLinkText(), std::string("/target"));
    QCOMPARE(model.RemotePath(pub), std::string("pub"));
    QCOMPARE(site->GetChildren()->GetSize(), std::size_t(2));
    QCOMPARE(site->GetChildren()->GetAt(1)->SizeText(), std::string("5,000,000,000"));

    // pub gets content of its own, then the site is listed again: pub stays
    // with its children, old goes (with what is below it), new comes.
    model.MergeListing(pub, Listing({"sub"}, {}));
    CFTPVI* old = model.Child(site, "old");
    model.MergeListing(old, Listing({"deeper"}, {}));
    CFTPVI* deeper = model.Child(old, "deeper");
    QPersistentModelIndex pubIndex(model.IndexOf(pub));
    model.MergeListing(site, Listing({"pub", "new", "Incoming", "link"}, {}));
    QCOMPARE(Labels(model, siteIndex), (QStringList{"Incoming", "link", "new", "pub"}));
    QCOMPARE(model.Child(site, "pub"), pub);
    QCOMPARE(model.rowCount(model.IndexOf(pub)), 1);
    QCOMPARE(pubIndex.row(), 3);
    QCOMPARE(removed, (std::vector<CFTPVI*>{old, deeper}));
    QVERIFY(site->GetChildren() == nullptr || site->GetChildren()->GetSize() == 0);
    QCOMPARE(model.RemotePath(model.Child(pub, "sub")), std::string("pub/sub"));

    // Back to the placeholder.
    model.ResetToPlaceholder(site);
    QCOMPARE(model.rowCount(siteIndex), 0);
    QVERIFY(model.hasChildren(siteIndex));
    QVERIFY(!site->Has(VIF_EXPLORED) && !site->Has(VIF_CHILDREN));
}

void TestTreeModel::shownNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("pub") << QStringLiteral("pub");
    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9");
    QTest::newRow("invalid utf-8") << QByteArray("a\xff"
                                                 "b")
                                   << QStringLiteral("a\ufffdb");
    QTest::newRow("line break") << QByteArray("a\nb\tc") << QStringLiteral("a\u240ab\u2409c");
}

void TestTreeModel::shownNames() {
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QCOMPARE(CFolderTreeModel::ShownName(name.toStdString()), shown);
    const QString longName = CFolderTreeModel::ShownName(std::string(10000, 'x'));
    QCOMPARE(longName.size(), CFolderTreeModel::kMaxShownName + 1);
    QVERIFY(longName.contains(QChar(0x2026)));
}

QTEST_MAIN(TestTreeModel)
#include "test_tree_model.moc"
