// The site settings file beside the profile: its text, its round trip with
// the profile, damaged files, and sites that move about the tree.
#include "platform/questions.h"
#include "profile/profile.h"
#include "test_profile_support.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qb {
namespace {

using test::Bytes;
using test::LoadHexFixture;
using test::TempDir;
using Tls = SiteSecurity::Tls;

const std::string kPrint = "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:"
                           "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF";

std::unique_ptr<CFTPSite> Site(const std::string& label) {
    return std::make_unique<CFTPSite>(label, "host", false, "", 21, "");
}

Bytes AsBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string AsText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(SiteSettings, TextRoundTrip) {
    struct Case {
        const char* what;
        const char* folder; // "" for the root
        const char* label;
        SiteSecurity security;
        const char* line; // nullptr: no line (the defaults)
    };
    const Case cases[] = {
        {"defaults", "", "Plain", {}, nullptr},
        {"no tls", "", "Old", {Tls::None, true, ""}, "Old\ttls=none\tepsv=on"},
        {"explicit, no epsv",
         "Work",
         "Box",
         {Tls::Explicit, false, ""},
         "Work/Box\ttls=explicit\tepsv=off"},
        {"implicit with a kept certificate",
         "Work/Deep",
         "Vault",
         {Tls::Implicit, true, kPrint},
         "Work/Deep/Vault\ttls=implicit\tepsv=on\tfingerprint="},
        {"only a kept certificate",
         "",
         "Kept",
         {Tls::IfAvailable, true, kPrint},
         "Kept\ttls=if-available\tepsv=on\tfingerprint="},
        {"awkward label",
         "a/b",
         "50% off\ttab",
         {Tls::None, false, ""},
         "a%2Fb/50%25 off%09tab\ttls=none\tepsv=off"},
    };
    CFTPSiteFolder root("Quillbeck", "");
    for (const auto& c : cases) {
        CFTPSiteFolder* folder = &root;
        std::string rest = c.folder;
        // Folder labels here never hold "/" except the escaped case, which
        // is one folder "a/b".
        if (rest == "a/b") {
            root.AddSiteFolder(std::make_unique<CFTPSiteFolder>(rest, ""));
            folder = root.GetSiteFolders().back().get();
        } else {
            while (!rest.empty()) {
                const auto slash = rest.find('/');
                const std::string part = rest.substr(0, slash);
                rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
                if (folder->FindSiteFolder(part) == nullptr) {
                    folder->AddSiteFolder(std::make_unique<CFTPSiteFolder>(part, ""));
                }
                folder = folder->FindSiteFolder(part);
            }
        }
        auto site = Site(c.label);
        site->m_security = c.security;
        ASSERT_TRUE(folder->AddSite(std::move(site))) << c.what;
    }
    const std::string text = WriteSiteSettings(root);
    EXPECT_EQ(text.rfind("Quillbeck site settings 1\n", 0), 0u) << text;
    for (const auto& c : cases) {
        if (c.line == nullptr) {
            EXPECT_EQ(text.find(std::string("\n") + c.label), std::string::npos) << c.what;
            continue;
        }
        std::string line = c.line;
        if (!c.security.fingerprint.empty()) {
            line += c.security.fingerprint;
        }
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << c.what << "\n" << text;
    }

    // Read into the same tree after every site was changed: each gets back
    // exactly what was written, the defaults included.
    std::vector<CFTPSite*> sites;
    std::function<void(CFTPSiteFolder&)> collect = [&](CFTPSiteFolder& f) {
        for (const auto& sub : f.GetSiteFolders()) {
            collect(*sub);
        }
        for (const auto& s : f.GetSites()) {
            sites.push_back(s.get());
        }
    };
    collect(root);
    ASSERT_EQ(sites.size(), std::size(cases));
    std::vector<SiteSecurity> before;
    for (CFTPSite* s : sites) {
        before.push_back(s->m_security);
        s->m_security = SiteSecurity{Tls::Explicit, false, "junk"};
    }
    std::string error;
    ASSERT_TRUE(ReadSiteSettings(text, root, error)) << error;
    for (std::size_t i = 0; i < sites.size(); ++i) {
        EXPECT_EQ(sites[i]->m_security, before[i]) << sites[i]->m_strLabel;
    }
}

TEST(SiteSettings, Reading) {
    const std::string header = "Quillbeck site settings 1\n";
    std::string lower = kPrint;
    for (char& ch : lower) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    struct Case {
        const char* what;
        std::string text;
        bool ok;
        SiteSecurity expected; // of "F/S" when ok
    };
    const Case cases[] = {
        {"header only", header, true, {}},
        {"CR LF and no last line end",
         header + "F/S\ttls=none\tepsv=off\r",
         true,
         {Tls::None, false, ""}},
        {"missing keys keep their defaults",
         header + "F/S\tepsv=off\n",
         true,
         {Tls::IfAvailable, false, ""}},
        {"unknown keys are skipped",
         header + "F/S\ttls=explicit\tcolour=blue\n",
         true,
         {Tls::Explicit, true, ""}},
        {"lower-case fingerprint",
         header + "F/S\tfingerprint=" + lower + "\n",
         true,
         {Tls::IfAvailable, true, kPrint}},
        {"a site not in the tree", header + "F/Gone\ttls=none\n", true, {}},
        {"blank lines", header + "\n\nF/S\ttls=implicit\n\n", true, {Tls::Implicit, true, ""}},
        {"empty", "", false, {}},
        {"other file", "Quillbeck site settings 2\n", false, {}},
        {"bad tls", header + "F/S\ttls=maybe\n", false, {}},
        {"bad epsv", header + "F/S\tepsv=yes\n", false, {}},
        {"short fingerprint", header + "F/S\tfingerprint=00:11\n", false, {}},
        {"fingerprint without colons",
         header + "F/S\tfingerprint=" + std::string(95, 'A') + "\n",
         false,
         {}},
        {"field without =", header + "F/S\ttls\n", false, {}},
        {"empty label", header + "F//S\ttls=none\n", false, {}},
        {"bad escape", header + "F/S%2\ttls=none\n", false, {}},
        {"bad escape digits", header + "F/S%zz\ttls=none\n", false, {}},
    };
    for (const auto& c : cases) {
        CFTPSiteFolder root("Quillbeck", "");
        root.AddSiteFolder(std::make_unique<CFTPSiteFolder>("F", ""));
        root.FindSiteFolder("F")->AddSite(Site("S"));
        CFTPSite* site = root.FindSite("F/S");
        const SiteSecurity marker{Tls::Explicit, false, "marker"};
        site->m_security = marker;
        std::string error;
        EXPECT_EQ(ReadSiteSettings(c.text, root, error), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(site->m_security, c.expected) << c.what;
        } else {
            EXPECT_FALSE(error.empty()) << c.what;
            EXPECT_EQ(site->m_security, marker) << c.what << ": damage changes nothing";
        }
    }
}

// Settings live in the site record, so whatever the tree does to a site
// (rename, move by cut and paste, copy, delete) its settings follow, and the
// next save writes them under the site's new path.
TEST(SiteSettings, SitesKeepTheirSettingsAsTheTreeChanges) {
    CFTPSiteFolder root("Quillbeck", "");
    root.AddSiteFolder(std::make_unique<CFTPSiteFolder>("A", ""));
    root.AddSiteFolder(std::make_unique<CFTPSiteFolder>("B", ""));
    CFTPSiteFolder& a = *root.FindSiteFolder("A");
    CFTPSiteFolder& b = *root.FindSiteFolder("B");
    a.AddSite(Site("S"));
    a.AddSite(Site("Gone"));
    const SiteSecurity mine{Tls::Explicit, false, kPrint};
    a.FindSite("S")->m_security = mine;
    a.FindSite("Gone")->m_security = SiteSecurity{Tls::None, true, ""};

    ASSERT_TRUE(a.RenameSite("S", "T", nullptr));
    // A paste copies the site into its new folder and, for a cut, removes
    // the original.
    ASSERT_TRUE(b.AddSiteCopy(*a.FindSite("T")));
    ASSERT_TRUE(a.RemoveSite("Gone"));
    // A folder pasted elsewhere is a deep copy.
    auto folderCopy = std::make_unique<CFTPSiteFolder>();
    folderCopy->CopyFrom(a);
    folderCopy->SetLabel("C");
    ASSERT_TRUE(root.AddSiteFolder(std::move(folderCopy)));

    EXPECT_EQ(a.FindSite("T")->m_security, mine);
    EXPECT_EQ(b.FindSite("T")->m_security, mine);
    EXPECT_EQ(root.FindSite("C/T")->m_security, mine);

    const std::string text = WriteSiteSettings(root);
    EXPECT_EQ(text.find("Gone"), std::string::npos) << text;
    EXPECT_EQ(text.find("A/S\t"), std::string::npos) << text;
    for (const char* path : {"A/T", "B/T", "C/T"}) {
        EXPECT_NE(text.find(std::string("\n") + path + "\ttls=explicit\tepsv=off"),
                  std::string::npos)
            << path << "\n"
            << text;
    }
}

TEST(SiteSettingsDisk, SavedBesideTheProfileAndReadBack) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    const Bytes v2 = LoadHexFixture("v2_small.hex");
    test::WriteFile(path, v2);
    {
        CFTPProfile p(path);
        ASSERT_TRUE(p.LoadProfile());
        ASSERT_EQ(p.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
        EXPECT_FALSE(std::filesystem::exists(SiteSettingsPath(path)))
            << "no file while every site has the defaults";
        p.FindSite("Mirrors/Work")->m_security = SiteSecurity{Tls::Explicit, false, kPrint};
        ASSERT_EQ(p.SaveProfile(nullptr), CFTPProfile::SAVE_DONE) << p.GetLastSaveError();
        EXPECT_EQ(test::ReadFile(path), v2) << "the profile file keeps its bytes";
    }
    EXPECT_EQ(SiteSettingsPath(path), path + ".sites");
    struct stat st {};
    ASSERT_EQ(::stat(SiteSettingsPath(path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    CFTPProfile again(path);
    ASSERT_TRUE(again.LoadProfile());
    EXPECT_TRUE(again.GetLoadNote().empty()) << again.GetLoadNote();
    EXPECT_EQ(again.FindSite("Mirrors/Work")->m_security,
              (SiteSecurity{Tls::Explicit, false, kPrint}));
    EXPECT_EQ(again.FindSite("Mirrors/FUNET")->m_security, SiteSecurity{});

    // Back to the defaults: the file stays, with no site in it.
    again.FindSite("Mirrors/Work")->m_security = SiteSecurity{};
    ASSERT_EQ(again.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
    EXPECT_EQ(AsText(test::ReadFile(SiteSettingsPath(path))), "Quillbeck site settings 1\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              2)
        << "no temporary file is left";

    // A program that only reads the profile reads the settings too.
    test::WriteFile(SiteSettingsPath(path),
                    AsBytes("Quillbeck site settings 1\nMirrors/FUNET\ttls=implicit\n"));
    CFTPProfile reader(path);
    reader.SetReadOnly(true);
    ASSERT_TRUE(reader.LoadProfile());
    EXPECT_EQ(reader.FindSite("Mirrors/FUNET")->m_security.tls, Tls::Implicit);
}

TEST(SiteSettingsDisk, DamagedSettingsAreKeptAsBad) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    const std::string settings = SiteSettingsPath(path);
    const Bytes v2 = LoadHexFixture("v2_small.hex");
    const Bytes good = AsBytes("Quillbeck site settings 1\nMirrors/Work\ttls=none\n");
    const struct {
        const char* what;
        Bytes content;
        const char* keptAs;
    } cases[] = {
        {"bad value", AsBytes("Quillbeck site settings 1\nMirrors/Work\ttls=sometimes\n"),
         "Quillbeck.dat.sites.bad"},
        {"foreign", Bytes{'G', 'I', 'F', '8', '9', 'a'}, "Quillbeck.dat.sites.bad.1"},
        {"empty", Bytes{}, "Quillbeck.dat.sites.bad.2"},
    };
    for (const auto& c : cases) {
        test::WriteFile(path, v2);
        test::WriteFile(settings, c.content);
        CFTPProfile p(path);
        ASSERT_TRUE(p.LoadProfile()) << c.what;
        EXPECT_TRUE(p.IsLoaded()) << c.what;
        EXPECT_NE(p.FindSiteFolder("Mirrors"), nullptr) << c.what << ": the profile is read";
        EXPECT_EQ(p.FindSite("Mirrors/Work")->m_security, SiteSecurity{}) << c.what;
        EXPECT_EQ(test::ReadFile(dir.File(c.keptAs)), c.content) << c.what;
        EXPECT_FALSE(std::filesystem::exists(settings)) << c.what;
        EXPECT_NE(p.GetLoadNote().find(dir.File(c.keptAs)), std::string::npos)
            << c.what << ": " << p.GetLoadNote();
    }

    // Read-only: the load fails, saying why, and nothing moves.
    test::WriteFile(settings, cases[0].content);
    CFTPProfile reader(path);
    reader.SetReadOnly(true);
    EXPECT_FALSE(reader.LoadProfile());
    EXPECT_NE(reader.GetLoadFailureText().find(settings), std::string::npos)
        << reader.GetLoadFailureText();
    EXPECT_EQ(test::ReadFile(settings), cases[0].content);

    // What cannot be set aside is never written over; the profile still is.
    std::filesystem::remove(settings);
    std::filesystem::create_directory(settings);
    CFTPProfile held(path);
    ASSERT_TRUE(held.LoadProfile());
    EXPECT_TRUE(held.IsLoaded());
    EXPECT_NE(held.GetLoadNote().find("will not be saved"), std::string::npos)
        << held.GetLoadNote();
    held.FindSite("Mirrors/Work")->m_security.tls = Tls::None;
    held.AddGotoHistory("saved/anyway");
    EXPECT_EQ(held.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
    EXPECT_TRUE(std::filesystem::is_directory(settings));
    std::filesystem::remove(settings);

    // A profile file set aside takes its settings with it.
    test::WriteFile(path, Bytes{'x'});
    test::WriteFile(settings, good);
    CFTPProfile broken(path);
    ASSERT_TRUE(broken.LoadProfile());
    EXPECT_FALSE(std::filesystem::exists(settings));
    EXPECT_EQ(test::ReadFile(path + ".bad.sites"), good);
}

TEST(SiteSettingsDisk, AFailedSettingsWriteFailsTheSave) {
    TempDir dir;
    const std::string path = dir.File("Quillbeck.dat");
    test::WriteFile(path, LoadHexFixture("v2_small.hex"));
    CFTPProfile p(path);
    ASSERT_TRUE(p.LoadProfile());
    p.FindSite("Mirrors/Work")->m_security.epsv = false;
    // A folder where the file would go cannot be replaced by a file.
    std::filesystem::create_directory(SiteSettingsPath(path));
    test::ScriptedQuestions questions({IDCANCEL});
    EXPECT_EQ(p.SaveProfile(&questions), CFTPProfile::SAVE_NOTHING);
    EXPECT_EQ(questions.asked.size(), 1u);
    EXPECT_FALSE(p.GetLastSaveError().empty());
}

} // namespace
} // namespace qb
