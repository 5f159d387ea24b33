// The program's clipboard on its own: what a confirmation names, the
// content classes, and the walk that turns entries into records with its
// refusals (own folder, a folder into itself, sites gone, the wrong kind
// of target) and the delete walk.
#include "clipboard.h"
#include "view_item.h"

#include <QTest>
#include <optional>
#include <string>
#include <vector>

using namespace qb;
using namespace qb::ui;

namespace {

constexpr ConnectionId kSiteA = 7;
constexpr ConnectionId kSiteB = 8;

// Remote entries live under "F/A" (connection 7) and "F/B" (8); "F/Gone"
// is a site that is not connected.
std::optional<CFTPFile> Resolve(const std::string& path, bool isFile) {
    for (const auto& [prefix, id] : {std::pair<std::string, ConnectionId>{"F/A/", kSiteA},
                                     std::pair<std::string, ConnectionId>{"F/B/", kSiteB}}) {
        if (path.rfind(prefix, 0) == 0) {
            return CFTPFile(path.substr(prefix.size()), SiteRef{id, "host"}, isFile);
        }
    }
    return std::nullopt;
}

struct Walked {
    std::vector<std::string> records; // names of the records, in order
    std::vector<std::string> refused; // entries offered to skip
    CFTPClipboard::Step end = CFTPClipboard::Step::End;
};

Walked Walk(CFTPClipboard& clip, bool skipRefused) {
    Walked out;
    CFTPFile record("", SiteRef{}, false);
    for (int guard = 0; guard < 100; ++guard) {
        const CFTPClipboard::Step step = clip.Next(record, Resolve, [&](const std::string& entry) {
            out.refused.push_back(entry);
            return skipRefused;
        });
        if (step != CFTPClipboard::Step::Record) {
            out.end = step;
            return out;
        }
        out.records.push_back((record.IsRemote() ? std::to_string(record.GetSite().id) + ":" : "") +
                              record.m_strName.str());
    }
    return out;
}

using Entries = std::vector<std::pair<int, std::string>>; // kind, path

} // namespace

Q_DECLARE_METATYPE(Entries)

class TestClipboard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void describe_data();
    void describe();
    void contentClasses();
    void walkRefusals_data();
    void walkRefusals();
    void cancelStopsTheWholeWalk();
    void deleteWalkTakesEverythingUntilASiteIsGone();
};

void TestClipboard::describe_data() {
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << Entries{} << "Unknown Item";
    QTest::newRow("one item: its path") << Entries{{VI_LOCALFILE, "/data/a.txt"}} << "/data/a.txt";
    QTest::newRow("three local items") << Entries{{VI_LOCALFOLDER, "/data/sub"},
                                                  {VI_LOCALFILE, "/data/a"},
                                                  {VI_LOCALFILE, "/data/b"}}
                                       << "3 items in /data";
    QTest::newRow("in the local root")
        << Entries{{VI_LOCALFILE, "/a"}, {VI_LOCALFILE, "/b"}} << "2 items in /";
    QTest::newRow("three sites at the root level")
        << Entries{{VI_SITE, "One"}, {VI_SITE, "Two"}, {VI_SITEFOLDER, "Three"}}
        << "3 items in Quillbeck";
    // The first entry is taken from local files, local folders, remote
    // files, remote folders, sites, site folders in that order.
    QTest::newRow("remote files before remote folders")
        << Entries{{VI_REMOTEFOLDER, "F/A/x/dir"}, {VI_REMOTEFILE, "F/A/y/file"}}
        << "2 items in F/A/y";
}

void TestClipboard::describe() {
    QFETCH(Entries, entries);
    QFETCH(QString, text);
    CFTPClipboard clip;
    for (const auto& [kind, path] : entries) {
        QVERIFY(clip.Add(static_cast<std::uint16_t>(kind), path));
    }
    QCOMPARE(QString::fromStdString(clip.Describe()), text);
}

void TestClipboard::contentClasses() {
    CFTPClipboard clip;
    QVERIFY(clip.IsEmpty());
    QVERIFY(!clip.IsLocalContent() && !clip.IsRemoteContent() && !clip.IsSiteContent());
    // Drives and the root are not taken.
    QVERIFY(!clip.Add(VI_FIXEDDISK, "/"));
    QVERIFY(!clip.Add(VI_ROOT, ""));
    QVERIFY(clip.IsEmpty());
    clip.Add(VI_LOCALFILE, "/a");
    QVERIFY(clip.IsLocalContent() && !clip.IsRemoteContent() && !clip.IsSiteContent());
    clip.Add(VI_SITE, "S");
    // Mixed content belongs to no class.
    QVERIFY(!clip.IsLocalContent() && !clip.IsSiteContent());
    clip.SetCut(true, true);
    clip.Clear();
    QVERIFY(clip.IsEmpty() && !clip.IsCut() && !clip.IsCutFromTree());
    clip.Add(VI_REMOTEFOLDER, "F/A/dir");
    QVERIFY(clip.IsRemoteContent());
    QVERIFY(clip.Contains(VI_REMOTEFOLDER, "F/A/dir"));
    QVERIFY(!clip.Contains(VI_REMOTEFILE, "F/A/dir"));
}

void TestClipboard::walkRefusals_data() {
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<int>("targetKind");
    QTest::addColumn<QString>("targetPath");
    QTest::addColumn<int>("targetConnection"); // 0: a local target
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QStringList>("refused");

    QTest::newRow("remote file into its own folder")
        << Entries{{VI_REMOTEFILE, "F/A/pub/a"}, {VI_REMOTEFILE, "F/A/other/b"}}
        << int(VI_REMOTEFOLDER) << "F/A/pub" << int(kSiteA) << QStringList{"7:other/b"}
        << QStringList{"F/A/pub/a"};
    QTest::newRow("the same path on another connection goes")
        << Entries{{VI_REMOTEFILE, "F/B/pub/a"}} << int(VI_REMOTEFOLDER) << "F/A/pub" << int(kSiteA)
        << QStringList{"8:pub/a"} << QStringList{};
    QTest::newRow("remote folder into itself or its own subfolder")
        << Entries{{VI_REMOTEFOLDER, "F/A/pub"},
                   {VI_REMOTEFOLDER, "F/A/pub/sub"},
                   {VI_REMOTEFOLDER, "F/A/pu"}}
        << int(VI_REMOTEFOLDER) << "F/A/pub/sub" << int(kSiteA) << QStringList{"7:pu"}
        << QStringList{"F/A/pub", "F/A/pub/sub"};
    QTest::newRow("remote entry whose site is gone")
        << Entries{{VI_REMOTEFILE, "F/Gone/a"}, {VI_REMOTEFILE, "F/A/b"}} << int(VI_LOCALFOLDER)
        << "/tmp" << 0 << QStringList{"7:b"} << QStringList{"F/Gone/a"};
    QTest::newRow("local file into its own folder")
        << Entries{{VI_LOCALFILE, "/home/u/a"}} << int(VI_LOCALFOLDER) << "/home/u" << 0
        << QStringList{} << QStringList{"/home/u/a"};
    QTest::newRow("local items upload")
        << Entries{{VI_LOCALFOLDER, "/home/u/d"}, {VI_LOCALFILE, "/home/u/a"}}
        << int(VI_REMOTEFOLDER) << "F/A/home/u" << int(kSiteA)
        << QStringList{"/home/u/a", "/home/u/d"} << QStringList{};
    QTest::newRow("a site folder is no target for files")
        << Entries{{VI_LOCALFILE, "/home/u/a"}} << int(VI_SITEFOLDER) << "F" << 0 << QStringList{}
        << QStringList{"/home/u/a"};
}

void TestClipboard::walkRefusals() {
    QFETCH(Entries, entries);
    QFETCH(int, targetKind);
    QFETCH(QString, targetPath);
    QFETCH(int, targetConnection);
    QFETCH(QStringList, records);
    QFETCH(QStringList, refused);
    CFTPClipboard clip;
    for (const auto& [kind, path] : entries) {
        clip.Add(static_cast<std::uint16_t>(kind), path);
    }
    const std::string target = targetPath.toStdString();
    clip.SetTarget(
        static_cast<std::uint16_t>(targetKind), target,
        CFTPFile(target, SiteRef{static_cast<ConnectionId>(targetConnection), "h"}, false));
    const Walked walked = Walk(clip, true);
    QStringList gotRecords, gotRefused;
    for (const auto& r : walked.records) {
        gotRecords << QString::fromStdString(r);
    }
    for (const auto& r : walked.refused) {
        gotRefused << QString::fromStdString(r);
    }
    QCOMPARE(gotRecords, records);
    QCOMPARE(gotRefused, refused);
    QVERIFY(walked.end == CFTPClipboard::Step::End);
}

void TestClipboard::cancelStopsTheWholeWalk() {
    CFTPClipboard clip;
    clip.Add(VI_REMOTEFILE, "F/A/pub/a");
    clip.Add(VI_REMOTEFILE, "F/A/other/b");
    clip.SetTarget(VI_REMOTEFOLDER, "F/A/pub", CFTPFile("pub", SiteRef{kSiteA, "h"}, false));
    const Walked walked = Walk(clip, false);
    QVERIFY(walked.end == CFTPClipboard::Step::Stop);
    QVERIFY(walked.records.empty());
    // A new walk starts from the top once the positions are reset.
    clip.ResetPositions();
    QCOMPARE(Walk(clip, true).records, std::vector<std::string>{"7:other/b"});
}

void TestClipboard::deleteWalkTakesEverythingUntilASiteIsGone() {
    CFTPClipboard clip;
    clip.Add(VI_REMOTEFILE, "F/A/pub/a");
    clip.Add(VI_REMOTEFILE, "F/Gone/b");
    clip.Add(VI_REMOTEFILE, "F/A/pub/c");
    clip.SetDelete(true);
    // No refusals for a delete; an entry whose site is gone ends the walk.
    const Walked walked = Walk(clip, false);
    QCOMPARE(walked.records, std::vector<std::string>{"7:pub/a"});
    QVERIFY(walked.refused.empty());
    QVERIFY(walked.end == CFTPClipboard::Step::End);
}

QTEST_APPLESS_MAIN(TestClipboard)
#include "test_clipboard.moc"
