// The content list's model on its own: the order of the rows (drives by
// index, kind groups, names without case, signed times, 64-bit sizes, both
// directions), the columns and texts, the rows read from a local folder or
// copied from a tree node, and the model under QAbstractItemModelTester
// while it is filled, sorted and emptied.
#include "content_model.h"
#include "view_item.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qb;
using namespace qb::ui;

namespace {

constexpr FileSize kGiB = 1024ULL * 1024 * 1024;

// "kind:name[:time[:size]]", kind a number; "D<index>:<mount>:<fs>" is a
// drive.
std::unique_ptr<CFTPVI> MakeItem(const QString& spec) {
    const QStringList parts = spec.split(QLatin1Char(':'));
    if (parts[0].startsWith(QLatin1Char('D'))) {
        const CFTPVILocalDrive drive(
            parts[0].mid(1).toInt(),
            MountInfo{"none", parts[1].toStdString(), parts[2].toStdString()});
        return std::make_unique<CFTPVIDriveRow>(drive);
    }
    const auto kind = static_cast<std::uint16_t>(parts[0].toInt());
    const std::time_t time = parts.size() > 2 ? parts[2].toLongLong() : 0;
    const FileSize size = parts.size() > 3 ? parts[3].toULongLong() : 0;
    return std::make_unique<CFTPVI>(kind, parts[1].toStdString(), time, size);
}

std::vector<std::unique_ptr<CFTPVI>> MakeItems(const QStringList& specs) {
    std::vector<std::unique_ptr<CFTPVI>> items;
    for (const QString& spec : specs) {
        items.push_back(MakeItem(spec));
    }
    return items;
}

QStringList Column(const QAbstractItemModel& model, int column) {
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row) {
        out << model.index(row, column).data().toString();
    }
    return out;
}

} // namespace

class TestContentModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sortRules_data();
    void sortRules();
    void columnsAndTexts();
    void readLocalFolder();
    void copyNodeContent();
    void modelTesterThroughFillSortAndClear();
};

void TestContentModel::sortRules_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("order");

    const QString fiveGiB = QString::number(5 * kGiB); // low 32 bits: 1 GiB
    const QString twoGiB = QString::number(2 * kGiB);  // low 32 bits: 0
    const QString oneGiBPlus = QString::number(kGiB + 512);
    const QStringList sizes{"12:big:0:" + fiveGiB, "12:two:0:" + twoGiB, "12:small:0:" + oneGiBPlus,
                            "11:dir:0:0"};

    QTest::newRow("folder b before file a, by name up")
        << QStringList{"12:a", "11:b"} << 0 << QStringList{"b", "a"};
    QTest::newRow("by name down: files before folders")
        << QStringList{"12:a", "11:b", "12:c"} << 0x8000 << QStringList{"c", "a", "b"};
    QTest::newRow("names without case")
        << QStringList{"12:Beta", "12:alpha", "12:GAMMA", "12:delta"} << 0
        << QStringList{"alpha", "Beta", "delta", "GAMMA"};
    QTest::newRow("letters beyond ASCII without case")
        << QStringList{"12:\u00e9t\u00e9", "12:\u00c9T\u00c9b", "12:zeta", "12:apple"} << 0
        << QStringList{"apple", "zeta", "\u00e9t\u00e9", "\u00c9T\u00c9b"};
    QTest::newRow("kinds go in groups: sites, remote folders, remote files")
        << QStringList{"15:a", "14:b", "10:c", "9:d"} << 0 << QStringList{"d", "c", "b", "a"};
    QTest::newRow("times up, then names for equal times")
        << QStringList{"12:a:300", "12:b:100", "12:c:200", "12:A0:200"} << 1
        << QStringList{"b", "A0", "c", "a"};
    QTest::newRow("times before 1970 come first")
        << QStringList{"12:later:100", "12:early:-100"} << 1 << QStringList{"early", "later"};
    QTest::newRow("times down") << QStringList{"12:a:300", "12:b:100", "12:c:200"} << 0x8001
                                << QStringList{"a", "c", "b"};
    QTest::newRow("sizes as 64-bit numbers")
        << sizes << 2 << QStringList{"dir", "small", "two", "big"};
    QTest::newRow("sizes down: files first, largest first")
        << sizes << 0x8002 << QStringList{"big", "two", "small", "dir"};
    QTest::newRow("a size not yet known ranks as the largest")
        << QStringList{"15:new:0:" + QString::number(kUnknownSize), "15:old:0:" + fiveGiB} << 2
        << QStringList{"old", "new"};
    // The RAM disk's kind number is lower than the fixed disk's; drives
    // still go by index.
    for (int key : {0, 0x8000, 2, 0x8002}) {
        QTest::addRow("drives by index, key %x", key)
            << QStringList{"D1:/dev/shm:tmpfs", "D0:/:ext4"} << key
            << QStringList{"(/)", "(/dev/shm)"};
    }
}

void TestContentModel::sortRules() {
    QFETCH(QStringList, items);
    QFETCH(int, key);
    QFETCH(QStringList, order);

    // Sorted when filled...
    CFolderContentModel model;
    model.Sort(static_cast<std::uint16_t>(key));
    model.Reset(MakeItems(items));
    QCOMPARE(Column(model, CFolderContentModel::COL_NAME), order);

    // ...and when sorted again from another order.
    CFolderContentModel resorted;
    resorted.Reset(MakeItems(items));
    resorted.Sort(static_cast<std::uint16_t>(key ^ 0x8000));
    resorted.Sort(static_cast<std::uint16_t>(key));
    QCOMPARE(Column(resorted, CFolderContentModel::COL_NAME), order);

    // The comparison is antisymmetric.
    for (int a = 0; a < model.rowCount(); ++a) {
        for (int b = 0; b < model.rowCount(); ++b) {
            const int ab = CFolderContentModel::Compare(*model.Item(a), *model.Item(b),
                                                        static_cast<std::uint16_t>(key));
            const int ba = CFolderContentModel::Compare(*model.Item(b), *model.Item(a),
                                                        static_cast<std::uint16_t>(key));
            QCOMPARE(ab, -ba);
            QCOMPARE(ab < 0, a < b);
        }
    }
}

void TestContentModel::columnsAndTexts() {
    CFolderContentModel model;
    model.Reset(MakeItems({"12:five.iso:0:" + QString::number(5 * kGiB), "11:folder:0:4096",
                           "15:uploaded:0:" + QString::number(kUnknownSize),
                           QStringLiteral("12:line\nbreak:0:7")}));
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Name"));
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Modified"));
    QCOMPARE(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Size"));
    QCOMPARE(CFolderContentModel::kColumnWidth[0], 200);
    QCOMPARE(CFolderContentModel::kColumnWidth[1], 150);
    QCOMPARE(CFolderContentModel::kColumnWidth[2], 100);
    for (int column = 0; column < 3; ++column) {
        const auto align =
            Qt::Alignment(model.index(0, column).data(Qt::TextAlignmentRole).toInt());
        QCOMPARE(bool(align & Qt::AlignRight), column != 0);
        const auto headerAlign =
            Qt::Alignment(model.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt());
        QCOMPARE(bool(headerAlign & Qt::AlignRight), column != 0);
    }
    // folder, five.iso, line break, then the remote file.
    QCOMPARE(Column(model, 2), (QStringList{"N/A", "5,368,709,120", "7", "Need Refresh"}));
    QCOMPARE(model.index(3, 1).data().toString(), QString("Need Refresh"));
    // A control character is shown as its picture; the edit text is the name.
    QCOMPARE(model.index(2, 0).data().toString(), QString("line\u240Abreak"));
    QCOMPARE(model.index(2, 0).data(Qt::EditRole).toString(), QString("line\nbreak"));
    // Names can be edited, other columns not.
    QVERIFY(model.flags(model.index(1, 0)) & Qt::ItemIsEditable);
    QVERIFY(!(model.flags(model.index(1, 1)) & Qt::ItemIsEditable));
    QCOMPARE(model.RowNamedNoCase("FIVE.ISO"), 1);
    QCOMPARE(model.RowNamedNoCase("FIVE.ISO", 1), -1);
    QCOMPARE(model.RowOf("FIVE.ISO"), -1);
}

void TestContentModel::readLocalFolder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir base(dir.path());
    QVERIFY(base.mkpath("sub"));
    QFile file(base.filePath("three.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    QFile big(base.filePath("sparse.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(static_cast<qint64>(5 * kGiB)));
    big.close();
    QVERIFY(QFile::link(base.filePath("sub"), base.filePath("to-sub")));
    QVERIFY(QFile::link(base.filePath("missing"), base.filePath("broken")));
    QFile hidden(base.filePath(".hidden"));
    QVERIFY(hidden.open(QIODevice::WriteOnly));
    hidden.close();

    CFolderContentModel model;
    model.Reset(CFolderContentModel::ReadLocalFolder(dir.path().toStdString()), true,
                dir.path().toStdString());
    QVERIFY(model.IsLocal());
    QCOMPARE(Column(model, 0),
             (QStringList{"sub", "to-sub", ".hidden", "broken", "sparse.bin", "three.txt"}));
    QCOMPARE(model.Item(0)->GetKind(), std::uint16_t(VI_LOCALFOLDER));
    QCOMPARE(model.Item(1)->GetKind(), std::uint16_t(VI_LOCALFOLDER));
    QCOMPARE(model.Item(3)->GetKind(), std::uint16_t(VI_LOCALFILE));
    QCOMPARE(model.Item(4)->GetSize(), 5 * kGiB);
    QCOMPARE(model.Item(5)->GetSize(), FileSize(3));
    QCOMPARE(model.Item(5)->GetTime(), QFileInfo(file).lastModified().toSecsSinceEpoch());

    // A folder that cannot be listed gives no rows.
    QVERIFY(CFolderContentModel::ReadLocalFolder(base.filePath("none").toStdString()).empty());
    QVERIFY(CFolderContentModel::ReadLocalFolder(base.filePath("three.txt").toStdString()).empty());
}

void TestContentModel::copyNodeContent() {
    auto site = std::make_unique<CFTPVI>(VI_SITE, "site", 0, 0);
    site->SetState(VIF_EXPLORED);
    auto folder = std::make_unique<CFTPVI>(VI_REMOTEFOLDER, "pub", 10, 0);
    folder->SetLinkText("/srv/pub");
    site->m_nodes.push_back(std::move(folder));
    auto explored = std::make_unique<CFTPVI>(VI_REMOTEFOLDER, "done", 10, 0);
    explored->SetState(VIF_EXPLORED);
    site->m_nodes.push_back(std::move(explored));
    site->AddChild(std::make_unique<CFTPVI>(VI_REMOTEFILE, "big.iso", 20, 5 * kGiB), false);

    auto rows = CFolderContentModel::CopyNodeContent(*site);
    // The tree may drop its nodes at any time; the rows are copies.
    site.reset();
    CFolderContentModel model;
    model.Reset(std::move(rows));
    QCOMPARE(Column(model, 0), (QStringList{"done", "pub", "big.iso"}));
    QVERIFY(model.Item(0)->Has(VIF_EXPLORED));
    QVERIFY(!model.Item(1)->Has(VIF_EXPLORED));
    QCOMPARE(model.Item(1)->GetLinkText(), std::string("/srv/pub"));
    QCOMPARE(model.Item(1)->Image(false), int(IMG_LINK_FOLDER));
    QCOMPARE(model.Item(2)->GetSize(), 5 * kGiB);
    QVERIFY(!model.IsLocal());
}

void TestContentModel::modelTesterThroughFillSortAndClear() {
    CFolderContentModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QItemSelectionModel selection(&model);
    model.Reset(MakeItems({"12:c:3:10", "12:a:1:30", "11:dir:2:0", "12:B:2:20"}));
    QCOMPARE(Column(model, 0), (QStringList{"dir", "a", "B", "c"}));

    // Sorting keeps the selected and current rows on their items.
    selection.select(model.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.setCurrentIndex(model.index(3, 0), QItemSelectionModel::NoUpdate);
    model.Sort(0x8002);
    QCOMPARE(Column(model, 0), (QStringList{"a", "B", "c", "dir"}));
    QCOMPARE(selection.selectedRows(), QModelIndexList{model.index(1, 0)});
    QCOMPARE(selection.currentIndex(), model.index(2, 0));
    QCOMPARE(model.SortKey(), std::uint16_t(0x8002));

    model.Renamed(0, "zz");
    QCOMPARE(model.index(0, 0).data().toString(), QString("zz"));
    QCOMPARE(model.RowNamedNoCase("ZZ"), 0);
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
    model.Reset(MakeItems({"12:one"}));
    QCOMPARE(model.rowCount(), 1);
}

QTEST_MAIN(TestContentModel)
#include "test_content_model.moc"
