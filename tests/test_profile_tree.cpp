// The site tree: unique labels per folder, path lookups, rename messages,
// deep copies and the login values of a site.
#include "profile/site_tree.h"
#include "test_profile_support.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

using test::ScriptedQuestions;

std::unique_ptr<CFTPSite> Site(const std::string& label) {
    return std::make_unique<CFTPSite>(label, label + ".example.org", false, "user", "pw", "", 21,
                                      "");
}

// root: folders A (holding folder B, which holds site S2, and site S) and
// "a"; sites S and T.
std::unique_ptr<CFTPSiteFolder> SampleTree() {
    auto root = std::make_unique<CFTPSiteFolder>("Quillbeck", "");
    auto a = std::make_unique<CFTPSiteFolder>("A", "first");
    auto b = std::make_unique<CFTPSiteFolder>("B", "");
    b->AddSite(Site("S2"));
    a->AddSiteFolder(std::move(b));
    a->AddSite(Site("S"));
    root->AddSiteFolder(std::move(a));
    root->AddSiteFolder(std::make_unique<CFTPSiteFolder>("a", ""));
    root->AddSite(Site("S"));
    root->AddSite(Site("T"));
    return root;
}

TEST(SiteTree, AddKeepsLabelsUniqueAcrossFoldersAndSites) {
    struct Case {
        const char* label;
        bool asFolder;
        bool added;
    };
    const Case cases[] = {
        {"A", false, false},                     // a site named like a sub-folder
        {"A", true, false},  {"S", true, false}, // a folder named like a site
        {"S", false, false}, {"s", false, true}, // case matters
        {"B", true, true},                       // B exists only inside A
        {"S2", false, true}, {"", false, true},
    };
    for (const auto& c : cases) {
        auto root = SampleTree();
        const std::size_t folders = root->GetSiteFolders().size();
        const std::size_t sites = root->GetSites().size();
        bool added = false;
        if (c.asFolder) {
            auto folder = std::make_unique<CFTPSiteFolder>(c.label, "");
            added = root->AddSiteFolder(std::move(folder));
            EXPECT_EQ(folder == nullptr, added) << "a refused folder stays the caller's";
        } else {
            auto site = Site(c.label);
            added = root->AddSite(std::move(site));
            EXPECT_EQ(site == nullptr, added) << "a refused site stays the caller's";
        }
        EXPECT_EQ(added, c.added) << c.label;
        EXPECT_EQ(root->GetSiteFolders().size() + root->GetSites().size(),
                  folders + sites + (c.added ? 1 : 0));
    }
    CFTPSiteFolder root;
    EXPECT_FALSE(root.AddSite(nullptr));
    EXPECT_FALSE(root.AddSiteFolder(nullptr));
}

TEST(SiteTree, AddCopyLeavesTheArgumentAlone) {
    auto root = SampleTree();
    auto source = SampleTree();
    CFTPSiteFolder& a = *source->m_arrFolders[0];
    EXPECT_FALSE(root->AddSiteFolderCopy(a)) << "label A is taken";
    a.m_strLabel = "A copy";
    ASSERT_TRUE(root->AddSiteFolderCopy(a));
    EXPECT_FALSE(root->AddSiteCopy(*source->m_arrSites[1])) << "label T is taken";
    source->m_arrSites[1]->m_strLabel = "T2";
    ASSERT_TRUE(root->AddSiteCopy(*source->m_arrSites[1]));

    // The copies are independent of their sources.
    a.m_arrFolders[0]->m_arrSites[0]->m_strHost = "changed";
    EXPECT_EQ(root->FindSite("A copy/B/S2")->m_strHost, "S2.example.org");
    EXPECT_NE(root->FindSite("T2"), source->m_arrSites[1].get());
}

TEST(SiteTree, PathLookups) {
    auto root = SampleTree();
    CFTPSiteFolder* a = root->m_arrFolders[0].get();
    CFTPSiteFolder* b = a->m_arrFolders[0].get();
    struct Case {
        const char* path;
        CFTPSiteFolder* folder;
        const char* siteHostPrefix; // host of the site found, or null
    };
    const Case cases[] = {
        {"", root.get(), nullptr},  {"/", nullptr, nullptr},
        {"/A", nullptr, nullptr},   {"A", a, nullptr},
        {"A/B", b, nullptr},        {"A/", a, nullptr},
        {"A//B", nullptr, nullptr}, {"a", root->m_arrFolders[1].get(), nullptr},
        {"A/C", nullptr, nullptr},  {"S", nullptr, "S."},
        {"T", nullptr, "T."},       {"A/S", nullptr, "S."},
        {"A/B/S2", nullptr, "S2."}, {"S2", nullptr, nullptr},
        {"/S", nullptr, nullptr},   {"X/S", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(root->FindSiteFolder(c.path), c.folder) << c.path;
        CFTPSite* site = root->FindSite(c.path);
        if (c.siteHostPrefix == nullptr) {
            EXPECT_EQ(site, nullptr) << c.path;
        } else {
            ASSERT_NE(site, nullptr) << c.path;
            EXPECT_EQ(site->m_strHost.rfind(c.siteHostPrefix, 0), 0u) << c.path;
        }
    }
    // "A/S" is the site inside A, not the one at the root.
    EXPECT_EQ(root->FindSite("A/S"), a->m_arrSites[0].get());
}

TEST(SiteTree, RenameRulesAndMessages) {
    struct Case {
        const char* oldLabel;
        const char* newLabel;
        bool folder;
        bool ok;
        const char* message; // null: none
    };
    const Case cases[] = {
        {"A", "A", true, true, nullptr},
        {"A", "S", true, false,
         "Failed to rename FTP Site Folder \"S\"\nAn item with the same label already exists."},
        {"S", "a", false, false,
         "Failed to rename FTP Site \"a\"\nAn item with the same label already exists."},
        {"A", "Z", true, true, nullptr},
        {"S", "Z", false, true, nullptr},
        {"Missing", "Z", true, false, nullptr},
        {"Missing", "Z", false, false, nullptr},
        {"S", "A", true, false,
         "Failed to rename FTP Site Folder \"A\"\nAn item with the same label already exists."},
    };
    for (const auto& c : cases) {
        auto root = SampleTree();
        ScriptedQuestions q;
        const bool ok = c.folder ? root->RenameSiteFolder(c.oldLabel, c.newLabel, &q)
                                 : root->RenameSite(c.oldLabel, c.newLabel, &q);
        EXPECT_EQ(ok, c.ok) << c.oldLabel << " -> " << c.newLabel;
        if (c.message == nullptr) {
            EXPECT_TRUE(q.asked.empty()) << c.oldLabel << " -> " << c.newLabel;
        } else {
            ASSERT_EQ(q.asked.size(), 1u);
            EXPECT_EQ(q.asked[0], c.message);
            EXPECT_EQ(q.styles[0] & 0xF, MB_OK);
        }
        if (ok && std::string(c.oldLabel) != c.newLabel) {
            EXPECT_EQ(c.folder ? static_cast<void*>(root->FindSiteFolder(c.newLabel))
                               : static_cast<void*>(root->FindSite(c.newLabel)),
                      c.folder ? static_cast<void*>(root->m_arrFolders[0].get())
                               : static_cast<void*>(root->m_arrSites[0].get()));
        }
    }
    // The taken label is checked before the old one is looked for.
    auto root = SampleTree();
    ScriptedQuestions missing;
    EXPECT_FALSE(root->RenameSiteFolder("Missing", "S", &missing));
    EXPECT_EQ(missing.asked.size(), 1u);
    // Renaming an item to its own label succeeds even where that label
    // is taken twice over (a site and a folder in a damaged file).
    root->m_arrSites.push_back(Site("A"));
    ScriptedQuestions q;
    EXPECT_TRUE(root->RenameSite("A", "A", &q));
    EXPECT_TRUE(q.asked.empty());
}

TEST(SiteTree, RemoveDeletesTheWholeSubtree) {
    auto root = SampleTree();
    EXPECT_FALSE(root->RemoveSiteFolder("S")) << "S is a site, not a folder";
    EXPECT_FALSE(root->RemoveSite("A"));
    EXPECT_TRUE(root->RemoveSiteFolder("A"));
    EXPECT_EQ(root->FindSiteFolder("A"), nullptr);
    EXPECT_EQ(root->FindSite("A/B/S2"), nullptr);
    ASSERT_EQ(root->GetSiteFolders().size(), 1u);
    EXPECT_EQ(root->GetSiteFolders()[0]->m_strLabel, "a");
    EXPECT_TRUE(root->RemoveSite("S"));
    EXPECT_FALSE(root->RemoveSite("S"));
    ASSERT_EQ(root->GetSites().size(), 1u);
    EXPECT_EQ(root->GetSites()[0]->m_strLabel, "T");
}

TEST(SiteTree, DeepCopyKeepsOrderFieldsAndTimes) {
    auto source = SampleTree();
    source->m_timeCreated = 1234;
    source->m_arrSites[0]->m_timeCreated = 99;
    source->m_arrSites[0]->m_bInsideFirewall = true;
    CFTPSiteFolder copy;
    copy.CopyFrom(*source);
    EXPECT_EQ(copy.m_strLabel, "Quillbeck");
    EXPECT_EQ(copy.m_timeCreated, 1234);
    ASSERT_EQ(copy.m_arrFolders.size(), 2u);
    EXPECT_EQ(copy.m_arrFolders[0]->m_strLabel, "A");
    EXPECT_EQ(copy.m_arrFolders[0]->m_strComments, "first");
    EXPECT_EQ(copy.m_arrFolders[1]->m_strLabel, "a");
    ASSERT_EQ(copy.m_arrSites.size(), 2u);
    EXPECT_EQ(copy.m_arrSites[0]->m_timeCreated, 99);
    EXPECT_TRUE(copy.m_arrSites[0]->m_bInsideFirewall);
    EXPECT_NE(copy.FindSite("A/B/S2"), source->FindSite("A/B/S2"));

    // Copying a folder into one of its own descendants copies the tree as
    // it was.
    CFTPSiteFolder* b = source->FindSiteFolder("A/B");
    ASSERT_TRUE(b->AddSiteFolderCopy(*source->FindSiteFolder("A")));
    EXPECT_NE(source->FindSite("A/B/A/B/S2"), nullptr);
    EXPECT_EQ(source->FindSiteFolder("A/B/A/B/A"), nullptr);
}

TEST(SiteTree, LoginValues) {
    CFTPSite named("Work", "ftp.example.com", true, "alice", "secret", "/home", 2121, "note");
    EXPECT_FALSE(named.m_bAnonymous);
    EXPECT_EQ(named.GetLoginUser(), "alice");
    EXPECT_EQ(named.GetLoginPassword("me@example.org"), "secret");
    EXPECT_NE(named.m_timeCreated, 0);

    CFTPSite anon("GNU", "ftp.gnu.org", false, "/gnu", 21, "");
    EXPECT_TRUE(anon.m_bAnonymous);
    EXPECT_TRUE(anon.m_strUser.empty());
    // An anonymous site logs in as "ftp" with the e-mail address, whatever
    // its own fields hold.
    anon.m_strUser = "alice";
    anon.m_strPassword = "secret";
    EXPECT_EQ(anon.GetLoginUser(), "ftp");
    EXPECT_EQ(anon.GetLoginPassword("me@example.org"), "me@example.org");
}

} // namespace
} // namespace qb
