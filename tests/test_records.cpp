#include "engine/ftp_file.h"
#include "platform/time_util.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qb {
namespace {

// A connection as items see it.
struct Site {
    explicit Site(const std::string& host) : connection(test::NewSite(host)) {}
    SiteRef connection;
};

TEST(RemoteItem, PathAndDisplayForm) {
    Site site("ftp.example.org");
    Site nameless("");
    CFTPFile pub("pub", site.connection, false);
    CFTPFile file(&pub, "a.txt", site.connection, true);
    EXPECT_EQ(file.GetPath(), "pub/a.txt");
    EXPECT_EQ(file.GetPath(true), "ftp.example.org : pub/a.txt");

    CFTPFile pubNoHost("pub", nameless.connection, false);
    CFTPFile fileNoHost(&pubNoHost, "a.txt", nameless.connection, true);
    EXPECT_EQ(fileNoHost.GetPath(true), "pub/a.txt");

    CFTPFile login("", site.connection, false);
    CFTPFile top(&login, "top.txt", site.connection, true);
    EXPECT_EQ(top.GetPath(), "top.txt");
    EXPECT_EQ(login.GetPath(true), "ftp.example.org : ");

    CFTPFile local("/home/u/x.txt", {}, true);
    EXPECT_EQ(local.GetPath(true), "/home/u/x.txt");
}

TEST(RemoteItem, NameAndParent) {
    struct Case {
        const char* name;
        const char* lastPart;
        const char* parent;
    };
    const Case cases[] = {
        {"pub/src/main.c", "main.c", "pub/src"},
        {"main.c", "main.c", ""},
        {"", "", ""},
        {"a/", "", "a"},
    };
    for (const auto& c : cases) {
        CFTPFile item(c.name, {}, true);
        EXPECT_EQ(item.GetName(), c.lastPart) << c.name;
        item.ToParent();
        EXPECT_EQ(item.m_strName, c.parent) << c.name;
        EXPECT_TRUE(item.m_bFile) << "ToParent leaves the file flag alone";
    }

    CFTPFile src("pub/src", {}, false);
    CFTPFile withParent(&src, "main.c", {}, true);
    withParent.ToParent();
    EXPECT_EQ(withParent.m_strName, "pub/src");
    EXPECT_EQ(withParent.GetParent(), nullptr);
    withParent.ToParent();
    EXPECT_EQ(withParent.GetPath(), "pub");
}

TEST(RemoteItem, SameNeedsConnectionAndExactPath) {
    Site one("h1");
    Site two("h2");
    CFTPFile a("pub/x", one.connection, true);
    CFTPFile sameOnOther("pub/x", two.connection, true);
    CFTPFile otherCase("Pub/x", one.connection, true);
    CFTPFile pub("pub", one.connection, false);
    CFTPFile viaParent(&pub, "x", one.connection, true);
    EXPECT_FALSE(CFTPFile::IsSame(a, sameOnOther));
    EXPECT_FALSE(CFTPFile::IsSame(a, otherCase));
    EXPECT_TRUE(CFTPFile::IsSame(a, viaParent));
}

TEST(RemoteItem, CopiesShareNothingMutable) {
    CFTPFile root("pub", {}, false);
    CFTPFile src(&root, "src", {}, false);
    auto original = std::make_unique<CFTPFile>(&src, "main.c", SiteRef{}, true);
    {
        CFTPFile copy(*original);
        copy.m_strName = "other.c";
        copy.ToParent();
        copy.ToParent();
        EXPECT_EQ(copy.GetPath(), "pub");
    }
    EXPECT_EQ(original->GetPath(), "pub/src/main.c");
    // The parent handed to the constructor is copied too.
    src.m_strName = "changed";
    EXPECT_EQ(original->GetPath(), "pub/src/main.c");
}

TEST(RemoteItem, NewItemsStartAtTheYearsFirstDay) {
    CFTPFile item("x", {}, true);
    LocalTime t = ToLocalTime(item.m_time);
    EXPECT_EQ(t.year, ToLocalTime(std::time(nullptr)).year);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(item.m_nSize, kUnknownSize) << "a size comes only from a listing or the disk";
}

TEST(FolderContent, AddSortsByKindAndKeepsOrder) {
    Site site("h");
    CFTPFile folder("pub", site.connection, false);
    CFTPFolderContent content(folder);
    EXPECT_EQ(content.Add("a.txt", true, 1000, 5, ""), 0u);
    EXPECT_EQ(content.Add("docs", false, 2000, 0, ""), 0u);
    EXPECT_EQ(content.Add("b.txt", true, 3000, 6000000000ULL, ""), 1u);
    EXPECT_EQ(content.Add("link", false, 4000, 0, "/pub/docs"), 1u);
    ASSERT_EQ(content.GetFiles().GetSize(), 2u);
    ASSERT_EQ(content.GetFolders().GetSize(), 2u);
    const CFTPFile* b = content.GetFiles().GetAt(1);
    EXPECT_EQ(b->GetPath(), "pub/b.txt");
    EXPECT_EQ(b->m_nSize, 6000000000ULL);
    EXPECT_EQ(b->m_time, 3000);
    EXPECT_EQ(b->m_nConnection, site.connection.id);
    EXPECT_EQ(b->GetPath(true), "h : pub/b.txt") << "entries show their folder's host";
    EXPECT_EQ(content.GetFolders().GetAt(1)->m_strLink, "/pub/docs");

    // A copy of the content is independent of the original.
    CFTPFolderContent copy(content);
    copy.GetFiles().GetAt(0)->m_strName = "changed";
    EXPECT_EQ(content.GetFiles().GetAt(0)->GetName(), "a.txt");
}

TEST(ItemText, BehavesLikeAString) {
    CFTPText text;
    EXPECT_TRUE(text.empty());
    EXPECT_STREQ(text.c_str(), "");
    text = "pub/src";
    EXPECT_EQ(text, "pub/src");
    EXPECT_EQ(text.size(), 7u);
    EXPECT_EQ(text.rfind('/'), 3u);
    EXPECT_EQ(text.substr(4), "src");
    // Assigning a part of itself.
    text = text.view().substr(4);
    EXPECT_EQ(std::string(text), "src");
    text = std::string(1000, 'x');
    EXPECT_EQ(text.view(), std::string(1000, 'x'));
    text = "";
    EXPECT_TRUE(text.empty());
    const std::string withNul("a\0b", 3);
    text = withNul;
    EXPECT_EQ(std::string(text), withNul);
}

// Listed entries keep their texts in an arena of their array; nothing taken
// out of the array may point into it.
TEST(FolderContent, EntriesOutliveNothingTheyPointInto) {
    Site site("h");
    auto content = std::make_unique<CFTPFolderContent>(CFTPFile("pub", site.connection, false));
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i) {
        // Short, long, and longer than an arena chunk's share.
        std::string name = "entry-" + std::to_string(i);
        if (i % 100 == 7) {
            name += std::string(100000, 'n');
        }
        names.push_back(name);
        content->AddListed(name, true, i, static_cast<FileSize>(i), i % 3 ? "" : "/t/" + name);
    }
    CFTPFile* first = content->GetFiles().GetAt(0);
    content->Add("more", true, 0, 0, "");
    EXPECT_EQ(content->GetFiles().GetAt(0), first) << "items keep their addresses";
    EXPECT_THROW(content->GetFiles().GetAt(3001), std::out_of_range);

    CFTPFile copied(*content->GetFiles().GetAt(7));
    CFTPFile moved(std::move(*content->GetFiles().GetAt(9)));
    CFTPFileArray files = std::move(content->GetFiles());
    CFTPFileArray copy(files);
    EXPECT_EQ(content->GetFiles().GetSize(), 0u);
    content.reset();
    EXPECT_EQ(copied.m_strName, names[7]);
    EXPECT_EQ(copied.m_strLink, "");
    EXPECT_EQ(moved.m_strName, names[9]);
    EXPECT_EQ(moved.GetPath(true), "h : pub/" + names[9]);
    ASSERT_EQ(files.GetSize(), 3001u);
    files.RemoveAll();
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(copy.GetAt(i)->m_strName, names[i]) << i;
        EXPECT_EQ(copy.GetAt(i)->m_strLink, i % 3 ? std::string() : "/t/" + names[i]);
        EXPECT_EQ(copy.GetAt(i)->m_nSize, i);
    }
}

} // namespace
} // namespace qb
