#include "engine/ftp_file.h"
#include "platform/time_util.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

// A connection as items see it: an id of its own and a host name.
class Site {
public:
    explicit Site(const std::string& host) : connection{NextId(), host} {}
    SiteRef connection;

private:
    static ConnectionId NextId() {
        static ConnectionId last = kNoConnection;
        return ++last;
    }
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

} // namespace
} // namespace qb
