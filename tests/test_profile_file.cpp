// The profile file: hand-made files of both versions, byte-exact writing,
// damaged and hostile input, and the file handling around it (atomic save,
// mode 0600, keeping unreadable files, where the file lives).
#include "profile/profile.h"
#include "profile/profile_path.h"
#include "profile/scramble.h"
#include "test_profile_support.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qb {
namespace {

using test::ByteBuilder;
using test::Bytes;
using test::LoadHexFixture;
using test::ScriptedQuestions;
using test::TempDir;

std::size_t CountSites(const CFTPSiteFolder& folder) {
    std::size_t n = folder.GetSites().size();
    for (const auto& sub : folder.GetSiteFolders()) {
        n += CountSites(*sub);
    }
    return n;
}

// Header and fields 2 to 24 of a plain profile, put together by hand.
ByteBuilder FieldsPrefix(char version = '1') {
    ByteBuilder b;
    b.Str(std::string("Quillbeck By Varnholme Jude Ko; Profile Version ") + version);
    b.U32(1).U16(0).U16(1).U16(0).Str(""); // view, sort, mode, Go To, e-mail
    b.U32(1).U32(1).U32(1).U32(0).U16(0);  // log flags, auto explore, extensions
    b.Str("").U32(21).Str("").Str("");     // proxy address, port, user, password
    b.U16(1).U32(0);                       // firewall type, enabled
    b.U32(1).U32(1).U32(0).U32(0).U32(1).U32(0).U32(1);
    return b;
}

// A root body start: label, comments, time.
ByteBuilder& RootStart(ByteBuilder& b) {
    return b.Str("Quillbeck").Str("").U32(0x65000000);
}

ByteBuilder& FolderClass(ByteBuilder& b) {
    return b.U16(0xFFFF).U16(1).U16(14).Raw("CFTPSiteFolder");
}
ByteBuilder& SiteClass(ByteBuilder& b, unsigned schema = 2) {
    return b.U16(0xFFFF).U16(schema).U16(8).Raw("CFTPSite");
}
ByteBuilder& SiteBody(ByteBuilder& b, const std::string& label, const std::string& comments = "") {
    b.Str(label).Str("host").Str("").Str("").U32(1).U32(0).U32(21).Str("").Str(comments);
    return b.U32(0);
}

TEST(ProfileFile, LoadsAHandMadeVersion2File) {
    CFTPProfile p("/nowhere/Quillbeck.dat");
    std::string error;
    ASSERT_TRUE(p.Serialize(LoadHexFixture("v2_small.hex"), error)) << error;
    EXPECT_TRUE(p.IsLoaded());
    EXPECT_EQ(p.GetVersionRead(), 2);
    EXPECT_EQ(p.GetViewStyle(), 3);
    EXPECT_EQ(p.GetSortKey(), 1);
    EXPECT_TRUE(p.IsSortReversed());
    EXPECT_EQ(p.m_arrGotoHistory, (std::vector<std::string>{"pub", "pub/gnu"}));
    const SharedSettings shared = p.GetSharedSettings();
    EXPECT_EQ(shared, (SharedSettings{"me@example.org", true, false, true, 2, {"TXT", "C"}}));
    EXPECT_TRUE(p.m_bAutoExplore);
    EXPECT_EQ(p.GetFirewallOptions(),
              (FirewallOptions{"proxy.example.net", 1080, "pxuser", "abc", 2, true}));
    EXPECT_FALSE(p.m_bConfirmDelete);
    EXPECT_TRUE(p.m_bConfirmMove);
    EXPECT_TRUE(p.m_bConfirmCopy);
    EXPECT_EQ(p.m_nReserved21, 7u);
    EXPECT_FALSE(p.m_bConfirmDisconnect);
    EXPECT_TRUE(p.m_bConfirmStop);
    EXPECT_EQ(p.m_nReserved24, 1u);

    EXPECT_EQ(p.m_strLabel, "Quillbeck");
    EXPECT_EQ(p.m_timeCreated, 0x65000000);
    ASSERT_EQ(p.GetSiteFolders().size(), 1u);
    const CFTPSiteFolder& mirrors = *p.GetSiteFolders()[0];
    EXPECT_EQ(mirrors.m_strComments, "Fast ones");
    ASSERT_NE(p.FindSiteFolder("Mirrors/Empty"), nullptr);
    const CFTPSite* funet = p.FindSite("Mirrors/FUNET");
    ASSERT_NE(funet, nullptr);
    EXPECT_TRUE(funet->m_bAnonymous);
    EXPECT_EQ(funet->m_strLoginFolder, "/pub");
    const CFTPSite* work = p.FindSite("Mirrors/Work");
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work->m_strUser, "alice");
    EXPECT_EQ(work->m_strPassword, "s3cret");
    EXPECT_EQ(work->m_nPort, 2581u);
    EXPECT_EQ(work->m_strComments, "B\xC3\xBCro");
    EXPECT_TRUE(work->m_bInsideFirewall);
    EXPECT_EQ(work->m_timeCreated, 0x65000040);
    ASSERT_NE(p.FindSite("Root site"), nullptr);
    EXPECT_EQ(p.FindSite("Root site")->m_strHost, "192.0.2.7");

    const CFTPProfileX& layout = p.m_layout;
    EXPECT_EQ(layout.m_nVersion, 1u);
    EXPECT_EQ(layout.m_dockState.m_nScreenWidth, 1920);
    ASSERT_EQ(layout.m_dockState.m_arrBars.size(), 2u);
    const CFTPDockBarInfo& tool = layout.m_dockState.m_arrBars[0];
    EXPECT_EQ(tool.m_nBarID, 0xE800u);
    EXPECT_EQ(tool.m_uMRUDockID, 0xE81Bu);
    EXPECT_EQ(tool.m_rectMRUDockPos, (std::array<std::int32_t, 4>{0, 0, 300, 26}));
    EXPECT_EQ(tool.m_ptMRUFloatPosY, 200);
    EXPECT_EQ(layout.m_dockState.m_arrBars[1].m_arrBarID,
              (std::vector<std::uint32_t>{0, 0xE800, 0}));
    EXPECT_EQ(layout.m_placement.m_ptMinX, -1);
    EXPECT_EQ(layout.m_placement.m_rcNormalRight, 1010);
    EXPECT_EQ(layout.m_placement.m_nShowCmd, 3);
    EXPECT_EQ(layout.m_arrOuterSplitter, (std::array<std::int32_t, 4>{500, 20, 180, 20}));
    EXPECT_EQ(layout.m_arrInnerSplitter, (std::array<std::int32_t, 4>{250, 40, 700, 40}));
}

TEST(ProfileFile, WritingTheVersion2FileGivesTheSameBytes) {
    const Bytes fixture = LoadHexFixture("v2_small.hex");
    CFTPProfile p("/nowhere/Quillbeck.dat");
    std::string error;
    ASSERT_TRUE(p.Serialize(fixture, error)) << error;
    const Bytes written = p.Serialize();
    ASSERT_EQ(written.size(), fixture.size());
    for (std::size_t i = 0; i < fixture.size(); ++i) {
        ASSERT_EQ(written[i], fixture[i]) << "first difference at byte " << i;
    }
}

TEST(ProfileFile, LoadsAHandMadeVersion1FileAndRewritesItAsVersion2) {
    CFTPProfile p("/nowhere/Quillbeck.dat");
    std::string error;
    ASSERT_TRUE(p.Serialize(LoadHexFixture("v1_small.hex"), error)) << error;
    EXPECT_EQ(p.GetVersionRead(), 1);
    EXPECT_EQ(p.m_strHeader, CFTPProfile::kSignature);
    EXPECT_EQ(p.GetEMail(), "j\xC3\xB6@x") << "a string of 16-bit characters";
    EXPECT_EQ(p.GetTransferMode(), 0);
    EXPECT_EQ(p.GetSharedSettings().m_arrTextExtensions, std::vector<std::string>{"HTML"});
    EXPECT_EQ(p.GetFirewallOptions().m_wFirewallType, 5);
    EXPECT_EQ(p.m_layout.m_nVersion, 0u) << "a version 1 file has no layout";
    const CFTPSite* old = p.FindSite("Caf\xC3\xA9/Old");
    ASSERT_NE(old, nullptr) << "a Windows-1252 label";
    EXPECT_FALSE(old->m_bInsideFirewall) << "a schema 1 site";
    EXPECT_EQ(old->m_strPassword, "ab");
    EXPECT_EQ(old->m_strComments, "schema1");
    EXPECT_EQ(old->m_timeCreated, 0x42000000);

    const Bytes written = p.Serialize();
    const std::string header(written.begin() + 1, written.begin() + 50);
    EXPECT_EQ(header, CFTPProfile::kSignature);
    CFTPProfile again("/nowhere/Quillbeck.dat");
    ASSERT_TRUE(again.Serialize(written, error)) << error;
    EXPECT_EQ(again.GetVersionRead(), 2);
    EXPECT_EQ(again.Serialize(), written);
    ASSERT_NE(again.FindSite("Caf\xC3\xA9/Old"), nullptr);
}

TEST(ProfileFile, HeaderCheck) {
    struct Case {
        std::string header;
        bool ok;
    };
    const std::string stem = "Quillbeck By Varnholme Jude Ko; Profile Version ";
    const Case cases[] = {
        {stem + "1", true},
        {stem + "2", true},
        {stem + "3", false},
        {stem + "0", false},
        {stem + "x", false},
        {stem + "22", false},
        {stem, false},
        {"", false},
        {"Quillbeck By Someone Else; Profile Version 2", false},
        {"quillbeck By Varnholme Jude Ko; Profile Version 2", false},
    };
    for (const auto& c : cases) {
        ByteBuilder b;
        b.Str(c.header);
        // The rest of a plain version 1 file.
        const Bytes plain = FieldsPrefix().Get();
        b.Append(Bytes(plain.begin() + 50, plain.end()));
        RootStart(b).U16(0).U16(0);
        if (c.header == stem + "2") {
            b.U32(0); // a layout block of version 0: nothing more of it is read
        }
        CFTPProfile p("/nowhere/Quillbeck.dat");
        std::string error;
        EXPECT_EQ(p.Serialize(b.Get(), error), c.ok) << c.header << ": " << error;
        EXPECT_EQ(p.IsLoaded(), c.ok);
    }
}

TEST(ProfileFile, PasswordsAreStoredScrambled) {
    EXPECT_EQ(SwapNibbles("abc"), "\x16\x26\x36");
    EXPECT_EQ(SwapNibbles("\x4A"), "\xA4");
    EXPECT_EQ(SwapNibbles(SwapNibbles("p\xC3\xA4ss")), "p\xC3\xA4ss");
    EXPECT_EQ(SwapNibbles(""), "");

    CFTPProfile p("/nowhere/Quillbeck.dat");
    p.SetDefaults();
    FirewallOptions fw = p.GetFirewallOptions();
    fw.m_strProxyPassword = "abc";
    p.SetFirewallOptions(fw);
    auto site = std::make_unique<CFTPSite>("Z", "h", false, "u", "abc", "", 21, "");
    ASSERT_TRUE(p.AddSite(std::move(site)));
    const Bytes bytes = p.Serialize();
    const Bytes scrambled{0x03, 0x16, 0x26, 0x36};
    std::size_t found = 0;
    for (auto it = bytes.begin();
         (it = std::search(it, bytes.end(), scrambled.begin(), scrambled.end())) != bytes.end();
         ++it) {
        ++found;
    }
    EXPECT_EQ(found, 2u) << "the proxy password and the site password";
    EXPECT_EQ(p.GetFirewallOptions().m_strProxyPassword, "abc") << "memory keeps it plain";
}

TEST(ProfileFile, GotoHistoryKeepsTwentyNewestLast) {
    CFTPProfile p;
    for (int i = 1; i <= 21; ++i) {
        p.AddGotoHistory("path" + std::to_string(i));
    }
    ASSERT_EQ(p.m_arrGotoHistory.size(), 20u);
    EXPECT_EQ(p.m_arrGotoHistory.front(), "path2") << "the 21st entry pushed out the oldest";
    EXPECT_EQ(p.m_arrGotoHistory.back(), "path21");

    p.AddGotoHistory("path5");
    EXPECT_EQ(p.m_arrGotoHistory.size(), 20u);
    EXPECT_EQ(p.m_arrGotoHistory.back(), "path5");
    EXPECT_EQ(std::count(p.m_arrGotoHistory.begin(), p.m_arrGotoHistory.end(), "path5"), 1);
    EXPECT_EQ(p.m_arrGotoHistory.front(), "path2") << "nothing else was dropped";

    p.AddGotoHistory("PATH5");
    EXPECT_EQ(p.m_arrGotoHistory.size(), 20u) << "exact comparison: a new entry";
    EXPECT_EQ(p.m_arrGotoHistory.front(), "path3");
}

TEST(ProfileFile, SortKeyAccessors) {
    CFTPProfile p;
    p.SetSortKey(2);
    EXPECT_EQ(p.GetSortKey(), 2);
    EXPECT_FALSE(p.IsSortReversed());
    p.ToggleSortDirection();
    EXPECT_EQ(p.m_wSortOrder, 0x8002);
    EXPECT_EQ(p.GetSortKey(), 2);
    p.ToggleSortDirection();
    EXPECT_EQ(p.m_wSortOrder, 2);
}

TEST(ProfileFile, SiteRows) {
    const std::string_view rows[] = {
        "Top",
        "Alpha/alpha.example.org",
        "Beta/beta.example.org/mirror/of/things",
        "Inner",
        "Deep",
        "Deeper",
        "TooDeep", // a fifth open folder ends the list
        "Lost/lost.example.org",
    };
    CFTPSiteFolder root;
    AddSiteRows(root, rows);
    const CFTPSite* alpha = root.FindSite("Top/Alpha");
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->m_strHost, "alpha.example.org");
    EXPECT_TRUE(alpha->m_strComments.empty());
    EXPECT_TRUE(alpha->m_bAnonymous);
    EXPECT_EQ(alpha->m_nPort, 21u);
    EXPECT_FALSE(alpha->m_bInsideFirewall);
    const CFTPSite* beta = root.FindSite("Top/Beta");
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(beta->m_strHost, "beta.example.org/mirror/of") << "between first and last slash";
    EXPECT_EQ(beta->m_strComments, "things");
    EXPECT_NE(root.FindSiteFolder("Top/Inner/Deep/Deeper"), nullptr);
    EXPECT_EQ(root.FindSiteFolder("Top/Inner/Deep/Deeper/TooDeep"), nullptr);
    EXPECT_EQ(CountSites(root), 2u);

    // Closing more folders than are open ends the list; a taken label is
    // skipped; rows of a folder that exists go into it; an empty row ends
    // the list.
    const std::string_view more[] = {
        "Top/dup.example.org",
        "Site/site.example.org",
        "Site",
        "Inside/x.example.org",
        "/",
        "Top",
        "Gamma/g.example.org",
        "/",
        "/",
        "After/after.example.org",
    };
    AddSiteRows(root, more);
    EXPECT_EQ(root.FindSite("Top"), nullptr) << "a folder already has that label";
    EXPECT_NE(root.FindSite("Site"), nullptr);
    EXPECT_EQ(root.FindSiteFolder("Site"), nullptr);
    EXPECT_EQ(root.FindSite("Inside"), nullptr) << "rows of a refused folder are dropped";
    EXPECT_NE(root.FindSite("Top/Gamma"), nullptr);
    EXPECT_EQ(root.FindSite("After"), nullptr);

    CFTPSiteFolder other;
    const std::string_view withGap[] = {"A/a.example.org", "", "B/b.example.org"};
    AddSiteRows(other, withGap);
    EXPECT_EQ(CountSites(other), 1u);
}

TEST(ProfileFile, Defaults) {
    CFTPProfile p("/nowhere/Quillbeck.dat");
    EXPECT_FALSE(p.IsLoaded());
    EXPECT_FALSE(p.IsFirstRun());
    p.SetDefaults();
    EXPECT_TRUE(p.IsLoaded());
    EXPECT_TRUE(p.IsFirstRun());
    EXPECT_EQ(p.m_strHeader, CFTPProfile::kSignature);
    EXPECT_EQ(p.GetViewStyle(), 1);
    EXPECT_EQ(p.m_wSortOrder, 0);
    EXPECT_EQ(p.GetSharedSettings(),
              (SharedSettings{std::string(CFTPProfile::kDefaultEMail),
                              true,
                              true,
                              true,
                              1,
                              {"BAT", "C", "CGI", "CPP", "H", "HTM", "HTML", "JAVA", "TXT"}}));
    EXPECT_EQ(p.GetFirewallOptions(), (FirewallOptions{"", 21, "", "", 1, false}));
    EXPECT_TRUE(p.m_bConfirmDelete && p.m_bConfirmMove && p.m_bConfirmDisconnect);
    EXPECT_FALSE(p.m_bConfirmCopy || p.m_bConfirmStop || p.m_bAutoExplore);
    EXPECT_EQ(p.m_nReserved21, 0u);
    EXPECT_EQ(p.m_nReserved24, 1u);

    // The default site list: archives, then company sites with a software
    // and a hardware folder.
    ASSERT_EQ(p.GetSiteFolders().size(), 2u);
    EXPECT_EQ(p.GetSiteFolders()[0]->m_strLabel, "Software Archives");
    EXPECT_EQ(p.GetSiteFolders()[0]->GetSites().size(), 4u);
    std::size_t withComments = 0;
    for (const auto& site : p.GetSiteFolders()[0]->GetSites()) {
        withComments += site->m_strComments.empty() ? 0 : 1;
    }
    EXPECT_EQ(withComments, 2u);
    const CFTPSiteFolder* software = p.FindSiteFolder("Company Sites/Software Company");
    const CFTPSiteFolder* hardware = p.FindSiteFolder("Company Sites/Hardware Company");
    ASSERT_NE(software, nullptr);
    ASSERT_NE(hardware, nullptr);
    EXPECT_EQ(software->GetSites().size(), 7u);
    EXPECT_EQ(hardware->GetSites().size(), 17u);
    EXPECT_TRUE(p.GetSites().empty());
    EXPECT_EQ(DefaultSiteRows().size(), 34u) << "rows 500 to 533";
}

// A version 1 file whose root body is `root` (and whatever follows).
Bytes V1With(const Bytes& root) {
    return FieldsPrefix().Append(root).Get();
}

TEST(ProfileFile, HostileInputFailsCleanly) {
    std::vector<std::pair<const char*, Bytes>> cases;
    auto add = [&](const char* what, ByteBuilder b) { cases.emplace_back(what, b.Get()); };
    {
        ByteBuilder b;
        RootStart(b).U16(0xFFFF).U32(0xFFFFFFFF);
        add("count", b);
    }
    {
        ByteBuilder b;
        RootStart(b).U16(0).U16(0xFFFF).U32(0x7FFFFFFF);
        add("count", b);
    }
    {
        ByteBuilder b;
        RootStart(b).U16(1).U16(0xFFFF).U16(1).U16(4).Raw("CFoo");
        add("unknown class \"CFoo\"", b);
    }
    {
        ByteBuilder b;
        RootStart(b).U16(0).U16(1);
        SiteClass(b, 3);
        SiteBody(b, "S");
        add("schema 3", b);
    }
    {
        ByteBuilder b;
        RootStart(b).U16(1).U16(0xFFFF).U16(2).U16(14).Raw("CFTPSiteFolder");
        add("schema 2", b);
    }
    {
        ByteBuilder b;
        RootStart(b).U16(1);
        SiteClass(b);
        add("stands where", b);
    }
    {
        // A folder (object 2) that lists itself as its own sub-folder.
        ByteBuilder b;
        RootStart(b).U16(1);
        FolderClass(b).Str("F").Str("").U32(0).U16(1).U16(0x0002);
        add("contains itself", b);
    }
    {
        // A reference to a class record.
        ByteBuilder b;
        RootStart(b).U16(1);
        FolderClass(b).Str("F").Str("").U32(0).U16(0).U16(0);
        b.U16(1).U16(0x0001);
        add("names no earlier object", b);
    }
    {
        // Folders nested 100,000 deep.
        ByteBuilder b;
        RootStart(b).U16(1);
        FolderClass(b);
        for (int i = 0; i < 100000; ++i) {
            b.Str("").Str("").U32(0).U16(1).U16(0x8001);
        }
        add("nested more than", b);
    }
    {
        // One big site named again and again: the copies would take far
        // more memory than the file holds.
        ByteBuilder b;
        RootStart(b).U16(0).U16(2000);
        SiteClass(b);
        SiteBody(b, "Big", std::string(200, 'c'));
        for (int i = 1; i < 2000; ++i) {
            b.U16(0x0002);
        }
        add("too often", b);
    }
    {
        ByteBuilder b;
        RootStart(b).U16(0).U16(1);
        SiteClass(b).Str("S").Str("host").Str("").U8(0xFF).U16(0xFFFF).U32(0xFFFFFFF0);
        add("runs past the end", b);
    }

    // The profile holds the version 1 fixture; a failed read changes none
    // of it.
    CFTPProfile p("/nowhere/Quillbeck.dat");
    std::string error;
    ASSERT_TRUE(p.Serialize(LoadHexFixture("v1_small.hex"), error)) << error;
    const Bytes before = p.Serialize();
    for (const auto& [what, root] : cases) {
        error.clear();
        EXPECT_FALSE(p.Serialize(V1With(root), error)) << what;
        EXPECT_NE(error.find(what), std::string::npos) << what << ": " << error;
        EXPECT_EQ(p.Serialize(), before) << what;
    }

    // Layout blocks: an unknown dock state version fails; an unknown layout
    // version is read no further.
    ByteBuilder v2 = FieldsPrefix('2');
    RootStart(v2).U16(0).U16(0);
    ByteBuilder dock3 = v2;
    dock3.U32(1).U32(3);
    EXPECT_FALSE(p.Serialize(dock3.Get(), error));
    EXPECT_NE(error.find("version 3"), std::string::npos) << error;
    ByteBuilder layout5 = v2;
    layout5.U32(5).U32(0xDEADBEEF);
    ASSERT_TRUE(p.Serialize(layout5.Get(), error)) << error;
    EXPECT_EQ(p.m_layout.m_nVersion, 5u);
}

TEST(ProfileFile, EveryTruncationFails) {
    for (const char* name : {"v1_small.hex", "v2_small.hex"}) {
        const Bytes full = LoadHexFixture(name);
        CFTPProfile p("/nowhere/Quillbeck.dat");
        for (std::size_t n = 0; n < full.size(); ++n) {
            std::string error;
            ASSERT_FALSE(
                p.Serialize(Bytes(full.begin(), full.begin() + static_cast<long>(n)), error))
                << name << " cut at " << n;
            ASSERT_FALSE(error.empty());
            ASSERT_FALSE(p.IsLoaded());
        }
    }
}

TEST(ProfileFile, ReferencesToEarlierObjectsAreCopied) {
    // Folder F (object 2) holds site S (object 4); the root then names F and
    // S again by number, and a null element that is skipped.
    ByteBuilder b;
    RootStart(b).U16(3);
    FolderClass(b).Str("F").Str("").U32(0).U16(0).U16(1);
    SiteClass(b);
    SiteBody(b, "S");
    b.U16(0x0000).U16(0x0002); // null, then F again
    b.U16(1).U16(0x0004);      // S again, at the root
    CFTPProfile p("/nowhere/Quillbeck.dat");
    std::string error;
    ASSERT_TRUE(p.Serialize(V1With(b.Get()), error)) << error;
    ASSERT_EQ(p.GetSiteFolders().size(), 2u);
    ASSERT_EQ(p.GetSites().size(), 1u);
    EXPECT_NE(p.GetSiteFolders()[0].get(), p.GetSiteFolders()[1].get());
    EXPECT_NE(p.GetSites()[0].get(), p.GetSiteFolders()[0]->GetSites()[0].get());
    EXPECT_EQ(p.GetSites()[0]->m_strLabel, "S");
    EXPECT_EQ(p.GetSiteFolders()[1]->GetSites()[0]->m_strLabel, "S");
}

TEST(ProfileFile, StoredDockStateIsScaledToTheCurrentScreen) {
    CFTPProfile p("/nowhere/Quillbeck.dat");
    p.SetScreenSize(960, 540);
    std::string error;
    ASSERT_TRUE(p.Serialize(LoadHexFixture("v2_small.hex"), error)) << error;
    const CFTPDockState& dock = p.m_layout.m_dockState;
    EXPECT_EQ(dock.m_nScreenWidth, 960);
    const CFTPDockBarInfo& tool = dock.m_arrBars[0];
    EXPECT_EQ(tool.m_rectMRUDockPos, (std::array<std::int32_t, 4>{0, 0, 150, 13}));
    EXPECT_EQ(tool.m_ptMRUFloatPosX, 50);
    EXPECT_EQ(tool.m_ptMRUFloatPosY, 100);

    CFTPDockState state;
    state.m_nScreenWidth = 100;
    state.m_nScreenHeight = 100;
    CFTPDockBarInfo bar;
    bar.m_ptPosX = 90;
    bar.m_ptPosY = -40;
    state.m_arrBars.push_back(bar);
    CFTPDockState unknown = state;
    unknown.m_nScreenWidth = 0;
    unknown.ScaleToScreen(200, 200);
    EXPECT_EQ(unknown.m_arrBars[0].m_ptPosX, 90) << "no stored size: nothing to scale from";
    state.ScaleToScreen(50, 50);
    EXPECT_EQ(state.m_arrBars[0].m_ptPosX, 45);
    EXPECT_EQ(state.m_arrBars[0].m_ptPosY, 0) << "kept on the screen";
}

// --- Files on disk ---

TEST(ProfileDisk, MissingFileAtTheProgramsLocationGivesDefaultsSilently) {
    TempDir dir;
    CFTPProfile p(dir.File("Quillbeck.dat"), false);
    ASSERT_TRUE(p.LoadProfile());
    EXPECT_TRUE(p.IsLoaded());
    EXPECT_TRUE(p.IsFirstRun());
    EXPECT_TRUE(p.GetLoadNote().empty());
    EXPECT_NE(p.FindSiteFolder("Software Archives"), nullptr);

    // A first run saves the defaults at exit; the next run reads them.
    ASSERT_EQ(p.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
    CFTPProfile next(dir.File("Quillbeck.dat"), false);
    ASSERT_TRUE(next.LoadProfile());
    EXPECT_FALSE(next.IsFirstRun());
    EXPECT_EQ(next.Serialize(), p.Serialize());
}

TEST(ProfileDisk, NamedFileMustExist) {
    TempDir dir;
    CFTPProfile p(dir.File("mine.dat"));
    EXPECT_FALSE(p.LoadProfile());
    EXPECT_EQ(p.GetLoadFailureText(),
              "Cannot find the following profile!\n" + dir.File("mine.dat"));
    EXPECT_FALSE(p.IsLoaded());
    EXPECT_EQ(p.SaveProfile(nullptr), CFTPProfile::SAVE_NOTHING);
    EXPECT_FALSE(std::filesystem::exists(dir.File("mine.dat")));

    CFTPProfile nowhere("");
    EXPECT_FALSE(nowhere.LoadProfile());
    EXPECT_EQ(nowhere.GetLoadFailureText(), "Failed to load profile!");
}

TEST(ProfileDisk, UnreadableFilesAreKeptAsBad) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    const Bytes v2 = LoadHexFixture("v2_small.hex");
    std::string header3(v2.begin(), v2.end());
    header3[49] = '3';
    const std::string workHost = "ftp.example.com";
    const auto work = std::search(v2.begin(), v2.end(), workHost.begin(), workHost.end());
    ASSERT_NE(work, v2.end());
    struct Case {
        const char* what;
        Bytes content;
        const char* keptAs;
    };
    const Case cases[] = {
        // Cut inside the second site of "Mirrors": what was read before the
        // damage is not kept.
        {"truncated", Bytes(v2.begin(), work), "Quillbeck.dat.bad"},
        {"from the future", Bytes(header3.begin(), header3.end()), "Quillbeck.dat.bad.1"},
        {"foreign", Bytes{'G', 'I', 'F', '8', '9', 'a'}, "Quillbeck.dat.bad.2"},
        {"empty", Bytes{}, "Quillbeck.dat.bad.3"},
    };
    for (const auto& c : cases) {
        test::WriteFile(path, c.content);
        CFTPProfile p(path);
        ASSERT_TRUE(p.LoadProfile()) << c.what;
        EXPECT_TRUE(p.IsLoaded()) << c.what;
        EXPECT_TRUE(p.IsFirstRun()) << c.what;
        EXPECT_EQ(p.FindSiteFolder("Mirrors"), nullptr) << c.what;
        EXPECT_NE(p.FindSiteFolder("Software Archives"), nullptr) << c.what;
        EXPECT_EQ(test::ReadFile(dir.File(c.keptAs)), c.content) << c.what;
        EXPECT_FALSE(std::filesystem::exists(path)) << c.what;
        EXPECT_NE(p.GetLoadNote().find(dir.File(c.keptAs)), std::string::npos)
            << c.what << ": " << p.GetLoadNote();
    }

    // What cannot be set aside is never written over.
    std::filesystem::create_directory(path);
    CFTPProfile folder(path);
    ASSERT_TRUE(folder.LoadProfile());
    EXPECT_FALSE(folder.IsLoaded());
    EXPECT_NE(folder.GetLoadNote().find("nothing will be saved"), std::string::npos)
        << folder.GetLoadNote();
    EXPECT_EQ(folder.SaveProfile(nullptr), CFTPProfile::SAVE_NOTHING);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

// A program that only reads the profile never moves or writes the file:
// the load fails with the reason and every byte stays where it was.
TEST(ProfileDisk, ReadOnlyLoadLeavesUnreadableFilesAlone) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    const Bytes v2 = LoadHexFixture("v2_small.hex");
    const struct {
        const char* what;
        Bytes content;
    } cases[] = {
        {"truncated", Bytes(v2.begin(), v2.begin() + 80)},
        {"foreign", Bytes{'1', '2', '7', '.', '0', '.', '0', '.', '1', ' ', 'h', '\n'}},
        {"empty", Bytes{}},
    };
    for (const auto& c : cases) {
        test::WriteFile(path, c.content);
        CFTPProfile p(path);
        p.SetReadOnly(true);
        EXPECT_FALSE(p.LoadProfile()) << c.what;
        EXPECT_NE(p.GetLoadFailureText().find("could not be read"), std::string::npos)
            << c.what << ": " << p.GetLoadFailureText();
        EXPECT_EQ(p.SaveProfile(nullptr), CFTPProfile::SAVE_NOTHING) << c.what;
        EXPECT_EQ(test::ReadFile(path), c.content) << c.what;
        EXPECT_FALSE(std::filesystem::exists(path + ".bad")) << c.what;
    }
    // A readable profile loads as usual and is still never written.
    test::WriteFile(path, v2);
    CFTPProfile good(path);
    good.SetReadOnly(true);
    ASSERT_TRUE(good.LoadProfile());
    EXPECT_NE(good.FindSiteFolder("Mirrors"), nullptr);
    EXPECT_EQ(good.SaveProfile(nullptr), CFTPProfile::SAVE_NOTHING);
    EXPECT_EQ(test::ReadFile(path), v2);
}

TEST(ProfileDisk, SavedFileHasMode0600AndReadsBack) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    test::WriteFile(path, LoadHexFixture("v2_small.hex"));
    ::chmod(path.c_str(), 0644);
    CFTPProfile p(path);
    ASSERT_TRUE(p.LoadProfile());
    ASSERT_TRUE(p.GetLoadNote().empty()) << p.GetLoadNote();
    p.AddGotoHistory("pub/new");
    ASSERT_EQ(p.SaveProfile(nullptr), CFTPProfile::SAVE_DONE) << p.GetLastSaveError();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(test::ReadFile(path), p.Serialize());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file is left";

    // A profile reached through a symbolic link stays behind the link.
    const std::string link = dir.File("link.dat");
    std::filesystem::create_symlink(path, link);
    CFTPProfile viaLink(link);
    ASSERT_TRUE(viaLink.LoadProfile());
    viaLink.AddGotoHistory("via/link");
    ASSERT_EQ(viaLink.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::ReadFile(path), viaLink.Serialize());
}

TEST(ProfileDisk, FailedSaveAsksRetryOrCancel) {
    TempDir dir;
    const std::string path = dir.File("missing-folder/Quillbeck.dat");
    CFTPProfile p(path);
    p.SetDefaults();
    ScriptedQuestions q({IDRETRY, IDCANCEL});
    EXPECT_EQ(p.SaveProfile(&q), CFTPProfile::SAVE_RETRY);
    EXPECT_EQ(p.SaveProfile(&q), CFTPProfile::SAVE_NOTHING);
    ASSERT_EQ(q.asked.size(), 2u);
    EXPECT_EQ(q.asked[0], "Failed to save profile\n" + path);
    EXPECT_EQ(q.styles[0] & 0xF, MB_RETRYCANCEL);
    EXPECT_FALSE(p.GetLastSaveError().empty());
    EXPECT_EQ(p.SaveProfile(nullptr), CFTPProfile::SAVE_NOTHING) << "no one to ask: cancel";
}

// Runs `body` in a child process and returns its exit status.
template <class F>
int InChild(F body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void AddSites(CFTPProfile& p, int count, const std::string& prefix) {
    for (int i = 0; i < count; ++i) {
        p.AddSite(std::make_unique<CFTPSite>(prefix + std::to_string(i), "ftp.example.org", false,
                                             "user", "password", "/pub", 21,
                                             "a comment long enough to take some room"));
    }
}

TEST(ProfileDisk, AWriteThatFailsLeavesTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    CFTPProfile old(path);
    old.SetDefaults();
    ASSERT_EQ(old.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
    const Bytes before = test::ReadFile(path);

    // The file size limit makes the write fail part way, as a full disk
    // would.
    const int status = InChild([&] {
        CFTPProfile bigger(path);
        bigger.SetDefaults();
        AddSites(bigger, 500, "site");
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4096;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ScriptedQuestions q({IDCANCEL});
        return bigger.SaveProfile(&q) == CFTPProfile::SAVE_NOTHING && q.asked.size() == 1 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1)
        << "the partial temporary file is removed";
}

TEST(ProfileDisk, KillingTheWriterBeforeTheRenameLeavesTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    CFTPProfile old(path);
    old.SetDefaults();
    ASSERT_EQ(old.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
    const Bytes before = test::ReadFile(path);

    CFTPProfile bigger(path);
    bigger.SetDefaults();
    AddSites(bigger, 500, "site");
    const Bytes newer = bigger.Serialize();
    const int status = InChild([&] {
        // The process dies with the new content written and flushed, before
        // it replaces the old file.
        bigger.SetBeforeReplace([](const std::string&) { ::raise(SIGKILL); });
        bigger.SaveProfile(nullptr);
        return 0;
    });
    EXPECT_EQ(status, 128 + SIGKILL);
    EXPECT_EQ(test::ReadFile(path), before);
    CFTPProfile after(path);
    ASSERT_TRUE(after.LoadProfile());
    EXPECT_TRUE(after.GetLoadNote().empty()) << after.GetLoadNote();
    EXPECT_EQ(CountSites(after), CountSites(old));

    // The temporary file beside it held the complete new content.
    std::vector<std::string> temps;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        if (entry.path().filename().string().starts_with(".Quillbeck.dat.")) {
            temps.push_back(entry.path().string());
        }
    }
    ASSERT_EQ(temps.size(), 1u);
    EXPECT_EQ(test::ReadFile(temps[0]), newer);
}

TEST(ProfileDisk, DefaultLocation) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("portable"));
    test::WriteFile(dir.File("portable/Quillbeck.dat"), Bytes{});
    const std::string portableExe = dir.File("portable/qbftp");
    const std::string plainExe = dir.File("bin/qbftp");
    struct Case {
        std::string exe;
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {portableExe, "/cfg", "/home/u", dir.File("portable/Quillbeck.dat")},
        {plainExe, "/cfg", "/home/u", "/cfg/quillbeck/Quillbeck.dat"},
        {plainExe, "relative/cfg", "/home/u", "/home/u/.config/quillbeck/Quillbeck.dat"},
        {plainExe, "", "/home/u", "/home/u/.config/quillbeck/Quillbeck.dat"},
        {plainExe, nullptr, "/home/u", "/home/u/.config/quillbeck/Quillbeck.dat"},
        {"", nullptr, "/home/u", "/home/u/.config/quillbeck/Quillbeck.dat"},
        {plainExe, nullptr, nullptr, ""},
        {plainExe, nullptr, "home", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DefaultProfilePath(c.exe, c.xdg, c.home), c.expected)
            << c.exe << " " << (c.xdg ? c.xdg : "(null)") << " " << (c.home ? c.home : "(null)");
    }
}

TEST(ProfileDisk, FirstSaveCreatesThePrivateConfigFolder) {
    TempDir dir;
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg != nullptr ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    CFTPProfile p;
    const bool loaded = p.LoadProfile();
    const int result = p.SaveProfile(nullptr);
    if (oldXdg != nullptr) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
    ASSERT_TRUE(loaded);
    EXPECT_EQ(p.GetPath(), dir.File("config/quillbeck/Quillbeck.dat"));
    EXPECT_TRUE(p.IsFirstRun());
    EXPECT_TRUE(p.GetLoadNote().empty());
    ASSERT_EQ(result, CFTPProfile::SAVE_DONE) << p.GetLastSaveError();
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("config/quillbeck").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(std::filesystem::is_regular_file(p.GetPath()));
}

} // namespace
} // namespace qb
