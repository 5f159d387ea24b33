#include "engine/listing_parser.h"
#include "platform/time_util.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace qb {
namespace {

using namespace std::string_literals;

std::time_t At(int year, int month, int day, int hour = 12, int minute = 0) {
    return FromLocalTime(LocalTime{year, month, day, hour, minute, 0});
}

const std::time_t kFifthOfDecember = At(2025, 12, 5);

std::string Format(const LocalTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

CFTPFolderContent NewContent() {
    return CFTPFolderContent(CFTPFile("pub", qb::SiteRef{}, false));
}

ListingContext Context(std::time_t now = kFifthOfDecember) {
    return ListingContext{"/home/u", "pub", now};
}

// Every entry: files first, then folders, each in listing order.
std::vector<const CFTPFile*> Entries(const CFTPFolderContent& content) {
    std::vector<const CFTPFile*> all;
    for (std::size_t i = 0; i < content.GetFiles().GetSize(); ++i) {
        all.push_back(content.GetFiles().GetAt(i));
    }
    for (std::size_t i = 0; i < content.GetFolders().GetSize(); ++i) {
        all.push_back(content.GetFolders().GetAt(i));
    }
    return all;
}

// One expected entry; a null name means "no entry".
struct Want {
    const char* name;
    bool isFile = true;
    FileSize size = 0;
    LocalTime time{};
    const char* link = "";
};

constexpr Want kNone{nullptr};

void ExpectOnly(const CFTPFolderContent& content, const Want& want, const std::string& label) {
    const auto all = Entries(content);
    if (!want.name) {
        EXPECT_TRUE(all.empty()) << label << ": got " << all.front()->m_strName;
        return;
    }
    ASSERT_EQ(all.size(), 1u) << label;
    const CFTPFile& entry = *all.front();
    EXPECT_EQ(entry.m_strName, want.name) << label;
    EXPECT_EQ(entry.m_bFile, want.isFile) << label;
    EXPECT_EQ(entry.m_nSize, want.size) << label;
    EXPECT_EQ(Format(ToLocalTime(entry.m_time)), Format(want.time)) << label;
    EXPECT_EQ(entry.m_strLink, want.link) << label;
    EXPECT_EQ(entry.GetPath(), "pub/"s + want.name) << label;
}

using LineParserFn = bool (*)(std::string_view, const ListingContext&, CFTPFolderContent&);

struct LineCase {
    std::string line;
    Want want;
    std::time_t now = kFifthOfDecember;
};

void RunLineCases(LineParserFn parse, const std::vector<LineCase>& cases) {
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        const bool added = parse(c.line, Context(c.now), content);
        EXPECT_EQ(added, c.want.name != nullptr) << c.line;
        ExpectOnly(content, c.want, c.line);
    }
}

// --- Tokens and month names --------------------------------------------------

TEST(ListingTokens, NextTokenTakesRunsOfNonSpaces) {
    const std::string_view line = "  ab\tc   d ";
    std::size_t pos = 0;
    std::string_view token = "stale";
    ASSERT_TRUE(NextToken(line, pos, token));
    EXPECT_EQ(token, "ab\tc") << "only the space character separates";
    EXPECT_EQ(pos, 6u);
    ASSERT_TRUE(NextToken(line, pos, token));
    EXPECT_EQ(token, "d");
    ASSERT_TRUE(NextToken(line, pos, token)) << "a trailing space still gives a token";
    EXPECT_EQ(token, "");
    EXPECT_FALSE(NextToken(line, pos, token));
    EXPECT_EQ(token, "");

    pos = 0;
    token = "stale";
    EXPECT_FALSE(NextToken("", pos, token));
    EXPECT_EQ(token, "");
    pos = 99;
    EXPECT_FALSE(NextToken("abc", pos, token));
    EXPECT_EQ(pos, 99u);
}

TEST(ListingTokens, MonthFromFirstLetters) {
    const std::pair<const char*, int> cases[] = {
        {"Jan", 1},  {"FEB", 2}, {"mar", 3},  {"Apr", 4},   {"May", 5},  {"Jun", 6},
        {"Jul", 7},  {"Aug", 8}, {"Sep", 9},  {"Oct", 10},  {"Nov", 11}, {"Dec", 12},
        {"Juli", 7}, {"Mai", 5}, {"Okt", 10}, {"szept", 9}, {"JUI", 7},  {"Jam", 1},
        {"A", 8},    {"J", 7},   {"M", 5},    {"", 1},      {"7", 1},    {"\xd0\xbc", 1},
    };
    for (const auto& [text, month] : cases) {
        EXPECT_EQ(MonthFromName(text), month) << text;
    }
}

// --- UNIX -----------------------------------------------------------------------

TEST(ListingUnix, EntriesDatesAndSizes) {
    RunLineCases(
        &ParseUnixLine,
        {
            {"drwxr-xr-x   2 user  group   512 Mar  3 14:05 my docs",
             {"my docs", false, 512, {2025, 3, 3, 14, 5, 0}}},
            {"-rw-r--r--   1 user  group  1234 Jan 25  2001 a.txt",
             {"a.txt", true, 1234, {2001, 1, 25, 0, 0, 0}}},
            {"-rw-r--r-- 1 u g 5 Mar 3 2001   a  b  ", {"a  b  ", true, 5, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g 5000000000 Mar 3 2001 big",
             {"big", true, 5000000000ULL, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g 99999999999999999999999 Mar 3 2001 huge",
             {"huge", true, kMaxListedSize, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g 18446744073709551615 Mar 3 2001 max",
             {"max", true, kMaxListedSize, {2001, 3, 3}}},
            // A size column that holds no number: the size is unknown.
            {"-rw-r--r-- 1 u g x12 Mar 3 2001 f", {"f", true, kUnknownSize, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g -528 Mar 3 2001 f", {"f", true, kUnknownSize, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g 1.5K Mar 3 2001 f", {"f", true, 1536, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g 2M Mar 3 2001 f", {"f", true, 2097152, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g 2Q Mar 3 2001 f", {"f", true, kUnknownSize, {2001, 3, 3}}},
            {"-rw-r--r-- 1 u g 7 Mar  3  3:07 early", {"early", true, 7, {2025, 3, 3, 3, 7, 0}}},
            {"-rw-r--r-- 1 u g 7 Jan  1 00:0 busybox", {"busybox", true, 7, {2025, 1, 1}}},
            // Fields that form no valid time: the date is unknown (1 January).
            {"-rw-r--r-- 1 u g 5 Mar 3 25:10 f", {"f", true, 5, {2025, 1, 1}}},
            {"-rw-r--r-- 1 u g 5 Feb 30 2001 f", {"f", true, 5, {2025, 1, 1}}},
            {"-rw-r--r-- 1 u g 5 Feb 29 2004 leap", {"leap", true, 5, {2004, 2, 29}}},
            {"-rw-r--r-- 1 u g 5 Feb 29 2005 f", {"f", true, 5, {2025, 1, 1}}},
            {"-rw-r--r-- 1 u g 5 Dec 31 24:00 f", {"f", true, 5, {2025, 1, 1}}},
            {"-rw-r--r-- 1 u g 5 Feb 28 24:00 f", {"f", true, 5, {2025, 3, 1}}},
            {"-rw-r--r-- 1 u g 5 Mar 3 24:01 f", {"f", true, 5, {2025, 1, 1}}},
            // No reading of the date columns: no entry.
            {"-rw-r--r-- 1 u g 5 Jan 9999999999999 2001 f", kNone},
            // Lines that are not entries.
            {"total 42", kNone},
            {"drwxr-xr-x   8 98 98 512 Oct 22 13:06 .", kNone},
            {"drwxr-xr-x   8 98 98 512 Oct 22 13:06 ..", kNone},
            {"drwxr-xr-x 2 0 0 4096 Mar 18  2007  ", kNone},
            {"drwxr-xr-x 3 ftp ftp 4096 May 15 18:11", kNone},
            {"-rw-r--r-- 1 u g 5 Mar 3 2001 ../../etc/passwd", kNone},
            {"-", kNone},
        });
}

// Lines that servers really write in other forms: the whole name, the folder
// flag, the size and, where it can be read, the date.
TEST(ListingUnix, OtherDateFormsKeepTheWholeName) {
    RunLineCases(
        &ParseUnixLine,
        {
            {"-rw-r--r--   1 root  other   531 09-26 2000 05-unix-date file",
             {"05-unix-date file", true, 531, {2000, 9, 26}}},
            {"-rw-r--r--   1 root  other   531 09-26 13:45 06-unix-date file",
             {"06-unix-date file", true, 531, {2025, 9, 26, 13, 45, 0}}},
            {"-rw-r--r--   1 root  other   531 3 29 03:26 02-unix-std file",
             {"02-unix-std file", true, 531, {2025, 3, 29, 3, 26, 0}}},
            {"-rw-r--r--   1 root  other   531 2005-06-07 21:22 07-unix-date file",
             {"07-unix-date file", true, 531, {2005, 6, 7, 21, 22, 0}}},
            {"-r-xr-xr-x   2 root  other  2235 1999/10/12 17:12 30-datetest file",
             {"30-datetest file", true, 2235, {1999, 10, 12, 17, 12, 0}}},
            {"-r-xr-xr-x   2 root  other  2235 24-04-2003 17:12 31-datetest file",
             {"31-datetest file", true, 2235, {2003, 4, 24, 17, 12, 0}}},
            {"-r-xr-xr-x   2 root  other  2235 04-24-2003 17:12 us file",
             {"us file", true, 2235, {2003, 4, 24, 17, 12, 0}}},
            {"-r-xr-xr-x   2 root  root  96 2004.07.15   35-dotted-date file",
             {"35-dotted-date file", true, 96, {2004, 7, 15}}},
            {"-r-xr-xr-x 2 owner group 4512 01-jun-99 47 short month",
             {"47 short month", true, 4512, {1999, 6, 1}}},
            {"-r-xr-xr-x 2 owner group 4512 01-jun-05 y2k", {"y2k", true, 4512, {2005, 6, 1}}},
            {"-rwxr-xr-x    1 user group        9 Oct 08, 2002 09:47 23-vshell-new file",
             {"23-vshell-new file", true, 9, {2002, 10, 8, 9, 47, 0}}},
            {"-rwxr-xr-x 2 user group 4096 3\xe6\x9c\x88 2 15:13 zxbox",
             {"zxbox", true, 4096, {2025, 3, 2, 15, 13, 0}}},
            {"-rwxr-xr-x 2 user group 4096 3\xe6\x9c\x88 2\xe6\x97\xa5 2003\xe5\xb9\xb4 a b.csv",
             {"a b.csv", true, 4096, {2003, 3, 2}}},
            {"drwxr-xr-x 5 root sys 512 2005\xeb\x85\x84  1\xec\x9b\x94  6\xec\x9d\xbc korean dir",
             {"korean dir", false, 512, {2005, 1, 6}}},
            {"drwxr-xr-x 3 user group 512 01 oct 2004 52-swapped-daymonth dir",
             {"52-swapped-daymonth dir", false, 512, {2004, 10, 1}}},
            {"dr-xr-xr-x 2 root other 2235 26. Juli, 20:10 28-datetest-ger dir",
             {"28-datetest-ger dir", false, 2235, {2025, 7, 26, 20, 10, 0}}},
            {"-r-xr-xr-x 2 root other 2235 2.   Okt.  2003 29-datetest-ger file",
             {"29-datetest-ger file", true, 2235, {2003, 10, 2}}},
            {"drwxrwxrwx   1 0        0               0 29 Jul 02:27 2014 Invoices",
             {"2014 Invoices", false, 0, {2025, 7, 29, 2, 27, 0}}},
            {"-rw-r--r-- 1 u g 3 Apr   4 24:00 alternate_midnight",
             {"alternate_midnight", true, 3, {2025, 4, 5}}},
            {"-rw-r--r-- 1 u g 33.5k Oct 5 21:22 named size",
             {"named size", true, 34304, {2025, 10, 5, 21, 22, 0}}},
            // No date at all: only the plain column layout is certain.
            {"drwxr-xr-x 3 slopri devlab 512 71-unix-dateless",
             {"71-unix-dateless", false, 512, {2025, 1, 1}}},
            {"drwxr-xr-x 3 slopri devlab 512 two words", kNone},
            {"drwxr-xr-x 3 slopri 512 dateless", kNone},
            // Columns that are clear around a date that is not: no date.
            {"drwxr-xr-x 2 root root 4096 Jam  4 00:03 zziplib",
             {"zziplib", false, 4096, {2025, 1, 1}}},
            {"drwxr-xr-x 2 root 99 4096 Feb 23 30:01 zzplayer",
             {"zzplayer", false, 4096, {2025, 1, 1}}},
            {"drwxr-sr-x 2 45854 200 512 May 32  2000 chemeng",
             {"chemeng", false, 512, {2025, 1, 1}}},
            {"drwxrwxrwx 2 root root  4096 2012-30-07 00:31 notas",
             {"notas", false, 4096, {2025, 1, 1}}},
        });
}

TEST(ListingUnix, KindsOfItems) {
    const LocalTime jan2001{2001, 1, 22};
    RunLineCases(
        &ParseUnixLine,
        {
            // Devices, pipes, sockets and other kinds are files; a device's
            // "major, minor" is no size.
            {"crw-r----- 1 root kmem 0, 27 Jan 30 11:42 kmem",
             {"kmem", true, kUnknownSize, {2025, 1, 30, 11, 42, 0}}},
            {"crw-------   1 root     sys      109,767 Jan 22  2001 pci@1c,600000:devctl",
             {"pci@1c,600000:devctl", true, kUnknownSize, jan2001}},
            {"brw-r--r-- 1 ftp nogroup 126552 Jan 22 2001 block", {"block", true, 126552, jan2001}},
            {"prw-r--r-- 1 ftp nogroup 0 Jan 22 2001 fifo", {"fifo", true, 0, jan2001}},
            {"srwxrwxrwx 1 ftp nogroup 0 Jan 22 2001 socket", {"socket", true, 0, jan2001}},
            {"frw-r--r-- 1 14 staff 119926 Jan 22 2001 plain", {"plain", true, 119926, jan2001}},
            {"ar-xr-xr-x 2 none none 512 Jan 22 2001 plan9", {"plan9", true, 512, jan2001}},
            {"lrw-r--r-- 1 14 14 80284 Jan 22 2001 no-arrow", {"no-arrow", false, 80284, jan2001}},
            // Modes with marks and counts run into them, and Hylafax's seven.
            {"drwxr-x---+1464 chrism chrism 41472 Jan 22 2001 20090225",
             {"20090225", false, 41472, jan2001}},
            {"-C--E-----FTP B BCC3I1       7670  1294495 Jan 22 2001 conent",
             {"conent", true, 1294495, jan2001}},
            {"drwxr-x   2       10     4096 Jan 22 2001 pollq", {"pollq", false, 4096, jan2001}},
            // Unknown type letters and modes of another length are no entries.
            {"Zrwxrwxrwx 1 root other 7 Jan 22 2001 bin", kNone},
            {"garbage    1 ftp      ftp           528 Nov 01  2007 README", kNone},
            {"drwxr-sr-    2 45854    200           512 May  4  2000 chemeng", kNone},
            {"ftpd: .: Permission denied", kNone},
            // Owners and groups with spaces, or missing.
            {"-rw-r--r-- 1 ftp group with spaces in it as allowed in cygwin see bug 38634   83853 "
             "Jan 22  2001 zxJDBC-1.2.4.tar.gz",
             {"zxJDBC-1.2.4.tar.gz", true, 83853, jan2001}},
            {"drwxr-xr-x 2 john smith test group 4096 Jan 22 2001 zxbox",
             {"zxbox", false, 4096, jan2001}},
            {"-rwxr-xr-x 2 user my group 500 5000000000 Jan 22 2001 big",
             {"big", true, 5000000000ULL, jan2001}},
            {"-r--r--r-- 0125039 12 Jan 22 2001 no owner", {"no owner", true, 12, jan2001}},
        });
}

// A name's leading spaces stay where the date columns fix where it starts.
TEST(ListingUnix, LeadingAndTrailingSpaces) {
    RunLineCases(&ParseUnixLine,
                 {
                     // ls writes its date in 12 columns and one space after it.
                     {"drwxr-xr-x 2 john group 4096 Mar  2 15:13   zxbox",
                      {"  zxbox", false, 4096, {2025, 3, 2, 15, 13, 0}}},
                     {"-rwxr-xr-x 3 110 1002 1234567 Dec 02  2009  foo bar ",
                      {" foo bar ", true, 1234567, {2009, 12, 2}}},
                     {"drwxr-xr-x 2 john group 4096 Mar  2 15:13 zxbox     ",
                      {"zxbox     ", false, 4096, {2025, 3, 2, 15, 13, 0}}},
                     // Other date forms: the spaces may be padding, so they go.
                     {"-rw-r--r-- 1 u g 5 Mar 3 2001   a  b  ", {"a  b  ", true, 5, {2001, 3, 3}}},
                     {"-rw-r--r-- 1 u g 5 2004.07.15   x", {"x", true, 5, {2004, 7, 15}}},
                     {"drwxr-xr-x 2 0 0 4096 Mar 18  2007   ", kNone},
                 });
}

// vsftpd writes owner and group as numbers. The search for the date skips
// the numeric columns of that layout, except where they themselves read as a
// date (a month and a day of at most two digits, then a four-digit number):
// the first date of the line wins either way.
TEST(ListingUnix, NumericOwnerAndGroup) {
    RunLineCases(
        &ParseUnixLine,
        {
            {"-rw-r--r--    1 0        0            1234 Dec  1 17:05 entry-1",
             {"entry-1", true, 1234, {2025, 12, 1, 17, 5, 0}}},
            {"drwxr-xr-x    2 1000     100          4096 Jan  5  2019 a b",
             {"a b", false, 4096, {2019, 1, 5}}},
            {"-rw-r--r-- 1 0 100 2020 Dec  1 17:05 y", {"y", true, 2020, {2025, 12, 1, 17, 5, 0}}},
            {"-rw-r--r-- 1 1 5 2020 Dec  1 17:05 x", {"Dec  1 17:05 x", true, 1, {2020, 1, 5}}},
            // A number where the month stands: no reading is certain.
            {"-rw-r--r-- 1 0 0 12 2020 Dec 1 z", kNone},
        });
}

// Columns are found 64 bytes at a time: every column and every run of
// spaces may start, end or lie across the edge of such a block.
TEST(ListingUnix, ColumnsAcrossBlockEdges) {
    const std::string tail = " 77 Mar  2 15:13 a b";
    for (std::size_t width = 1; width <= 140; ++width) {
        const std::string word(width, 'o');
        const std::string gap(width, ' ');
        const std::pair<std::string, std::string> cases[] = {
            {"-rw-r--r-- 1 " + word + " g" + tail, "a b"},
            {"-rw-r--r-- 1 u" + gap + "g" + tail, "a b"},
            {"-rw-r--r-- 1 u g" + tail + " " + word, "a b " + word},
        };
        for (const auto& [line, name] : cases) {
            CFTPFolderContent content = NewContent();
            ASSERT_TRUE(ParseUnixLine(line, Context(), content)) << line;
            const CFTPFile& f = *content.GetFiles().GetAt(0);
            EXPECT_EQ(f.m_strName, name) << line;
            EXPECT_EQ(f.m_nSize, 77u) << line;
            EXPECT_EQ(Format(ToLocalTime(f.m_time)), "2025-03-02 15:13:00") << line;
        }
    }
    // More columns than are split: the name keeps every word.
    std::string many;
    for (int i = 0; i < 60; ++i) {
        many += " w" + std::to_string(i);
    }
    CFTPFolderContent content = NewContent();
    ASSERT_TRUE(ParseUnixLine("-rw-r--r-- 1 u g 5 Mar 3 2001" + many, Context(), content));
    EXPECT_EQ(content.GetFiles().GetAt(0)->m_strName, many.substr(1));
}

TEST(ListingUnix, YearOfDatesWithATime) {
    // On 5 December a date that lies after today belongs to the year before.
    const struct {
        const char* date;
        int year;
    } cases[] = {
        {"Mar  3 14:05", 2025}, {"Dec  5 23:59", 2025}, {"Dec  6 00:00", 2024},
        {"Dec 20 14:05", 2024}, {"Jan  1 00:00", 2025},
    };
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_TRUE(ParseUnixLine("-rw-r--r-- 1 u g 1 "s + c.date + " f", Context(), content));
        EXPECT_EQ(ToLocalTime(content.GetFiles().GetAt(0)->m_time).year, c.year) << c.date;
    }
    // On 1 January every other day of the year is still ahead.
    CFTPFolderContent content = NewContent();
    ASSERT_TRUE(
        ParseUnixLine("-rw-r--r-- 1 u g 1 Jan  2 10:00 f", Context(At(2026, 1, 1, 0, 5)), content));
    EXPECT_EQ(ToLocalTime(content.GetFiles().GetAt(0)->m_time).year, 2025);
}

TEST(ListingUnix, ListedYearsAreHeldWithin1980To2030) {
    const std::pair<const char*, int> cases[] = {
        {"1975", 1980}, {"1980", 1980}, {"2030", 2030},
        {"2047", 2030}, {"1800", 1980}, {"9999", 2030},
    };
    for (const auto& [written, year] : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_TRUE(
            ParseUnixLine("-rw-r--r-- 1 u g 100 Jan 1 "s + written + " old", Context(), content));
        EXPECT_EQ(Format(ToLocalTime(content.GetFiles().GetAt(0)->m_time)),
                  Format(LocalTime{year, 1, 1, 0, 0, 0}))
            << written;
    }
}

TEST(ListingUnix, LinksAreFoldersWithTargets) {
    const LocalTime jan2001{2001, 1, 1};
    RunLineCases(
        &ParseUnixLine,
        {
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 bin -> usr/bin",
             {"bin", false, 7, jan2001, "usr/bin"}},
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 sh -> sh",
             {"sh", false, 7, jan2001, "/home/u/pub/sh"}},
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 a b -> /x y", {"a b", false, 7, jan2001, "/x y"}},
            // Only " -> " splits; two of them leave no certain name.
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 a -> b -> /c", kNone},
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 a->b", {"a->b", false, 7, jan2001, ""}},
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 a  ->  /b", {"a ", false, 7, jan2001, " /b"}},
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 pub", {"pub", false, 7, jan2001, ""}},
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 dangling -> ",
             {"dangling", false, 7, jan2001, ""}},
            // A folder line keeps its arrow: only links have targets.
            {"drwxr-xr-x 1 root root 7 Jan 1 2001 a -> b", {"a -> b", false, 7, jan2001, ""}},
            {"drwxr-xr-x 1 root root 7 Jan 1 2001 a -> b -> c",
             {"a -> b -> c", false, 7, jan2001, ""}},
            {"lrwxrwxrwx 1 root root 7 Jan 1 2001 .. -> /", kNone},
            {"l->", kNone},
        });
}

TEST(ListingUnix, TargetsWithoutSlashAreMadeAbsolute) {
    const struct {
        const char* home;
        const char* work;
        const char* target;
        const char* link;
    } cases[] = {
        {"/home/u", "pub", "sh", "/home/u/pub/sh"},
        {"/home/u", "pub/src", "sh", "/home/u/pub/src/sh"},
        {"/home/u", "", "sh", "/home/u/sh"},
        {"/", "pub", "sh", "/pub/sh"},
        {"/", "", "sh", "/sh"},
        {"/home/u", "pub", "usr/bin", "usr/bin"},
        {"/home/u", "pub", "../os2", "../os2"},
    };
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        const ListingContext context{c.home, c.work, kFifthOfDecember};
        ASSERT_TRUE(
            ParseUnixLine("lrwxrwxrwx 1 0 0 2 Jan 1 2001 x -> "s + c.target, context, content));
        EXPECT_EQ(content.GetFolders().GetAt(0)->m_strLink, c.link) << c.home << " " << c.work;
    }
}

TEST(ListingMac, FewerColumnsBeforeTheSize) {
    RunLineCases(&ParseMacLine,
                 {
                     {"-rw-r--r--    54149       27826    81975 Jul 22  2010 09.jpg",
                      {"09.jpg", true, 81975, {2010, 7, 22}}},
                     {"drwxr-xr-x               folder        2 Jan  4 14:51 Alias_to_Steak",
                      {"Alias_to_Steak", false, 2, {2025, 1, 4, 14, 51, 0}}},
                     {"lrwxr-xr-x               folder        0 Jan  4  2001 alias -> target",
                      {"alias", false, 0, {2001, 1, 4}, "/home/u/pub/target"}},
                     {"total 3", kNone},
                 });
}

// --- Windows NT -----------------------------------------------------------------

TEST(ListingNt, DosStyleEntries) {
    RunLineCases(
        &ParseNtLine,
        {
            {"12-31-99  11:59PM       <DIR>          Data",
             {"Data", false, 0, {1999, 12, 31, 23, 59, 0}}},
            {"01-02-98  09:05AM  1234 a b.txt", {"a b.txt", true, 1234, {1998, 1, 2, 9, 5, 0}}},
            {"05-22-97  12:08AM                  5000000000 AUTOEXEC.BAK",
             {"AUTOEXEC.BAK", true, 5000000000ULL, {1997, 5, 22, 0, 8, 0}}},
            {"01-02-98  09:05AM  99999999999999999999999 huge",
             {"huge", true, kMaxListedSize, {1998, 1, 2, 9, 5, 0}}},
            {"01-02-98  09:05AM  1226672x x.exe", {"x.exe", true, 1226672, {1998, 1, 2, 9, 5, 0}}},
            {"02-03-09  04:42PM  1,951,823 VH203_FR.pdf",
             {"VH203_FR.pdf", true, 1951823, {2009, 2, 3, 16, 42, 0}}},
            {"02-03-09  04:42PM  1,,2 odd", {"odd", true, 1, {2009, 2, 3, 16, 42, 0}}},
            // The name is the rest of the line: leading spaces go, others stay.
            {"12-03-96  06:38PM       <DIR>           10 years and under ",
             {"10 years and under ", false, 0, {1996, 12, 3, 18, 38, 0}}},
            // UNIX style lines from the same server.
            {"-rw-r--r-- 1 u g 5 Mar 3 2001 f", {"f", true, 5, {2001, 3, 3}}},
            {"12-07-10  12:05AM       <DIR>    ", kNone},
            {"11-02-09  05:32PM       <DIR>          ..", kNone},
            {"", kNone},
        });
}

TEST(ListingNt, TwelveAndTwentyFourHourClocks) {
    const std::pair<const char*, LocalTime> cases[] = {
        {"12:30PM", {2010, 12, 25, 12, 30, 0}}, {"12:30AM", {2010, 12, 25, 0, 30, 0}},
        {"12:00AM", {2010, 12, 25, 0, 0, 0}},   {"01:15pm", {2010, 12, 25, 13, 15, 0}},
        {"11:59PM", {2010, 12, 25, 23, 59, 0}}, {"12:30ZM", {2010, 12, 25, 0, 30, 0}},
        {"17:03", {2010, 12, 25, 17, 3, 0}},    {"08:08", {2010, 12, 25, 8, 8, 0}},
        {"PM", {2010, 12, 25, 12, 0, 0}},       {"7", {2010, 12, 25, 7, 0, 0}},
        {"13:00PM", {2010, 12, 25, 0, 0, 0}}, // 25:00 is no time: the day at 00:00
    };
    for (const auto& [clock, time] : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_TRUE(ParseNtLine("12-25-10  "s + clock + "  1 f", Context(), content));
        EXPECT_EQ(Format(ToLocalTime(content.GetFiles().GetAt(0)->m_time)), Format(time)) << clock;
    }
}

TEST(ListingNt, YearsOfTwoAndFourDigits) {
    const std::pair<const char*, LocalTime> cases[] = {
        {"01-06-00", {2000, 1, 6}},   {"01-06-69", {2069, 1, 6}},   {"01-06-70", {1970, 1, 6}},
        {"01-06-99", {1999, 1, 6}},   {"01-06-1979", {1979, 1, 6}}, {"10-19-1968", {1970, 10, 19}},
        {"2002-09-02", {2002, 9, 2}}, {"20-05-97", {2025, 1, 1}}, // month 20: no date, 1 January of
                                                                  // this year
    };
    for (const auto& [date, time] : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_TRUE(ParseNtLine(date + "  12:00AM  1 f"s, Context(), content));
        EXPECT_EQ(Format(ToLocalTime(content.GetFiles().GetAt(0)->m_time)), Format(time)) << date;
    }
}

// --- VMS ------------------------------------------------------------------------

TEST(ListingVms, EntriesInBlocks) {
    const LocalTime thisYear{2025, 1, 1};
    RunLineCases(
        &ParseVmsLine,
        {
            {"SRC.DIR;1   2/3  5-DEC-1999 10:20:30 [GRP,USR] (RWED,RWED,RE,)",
             {"SRC", false, 2, {1999, 12, 5, 10, 20, 30}}},
            {"MAIN.FOR;4  12  5-DEC-1999 10:20",
             {"MAIN.FOR;4", true, 12, {1999, 12, 5, 10, 20, 0}}},
            {"37-vms-file;1       155   2-JUL-2003 10:30:13.64",
             {"37-vms-file;1", true, 155, {2003, 7, 2, 10, 30, 13}}},
            {"38.TXT;1    2/8    7-JAN-2000    [IV2_XXX]   (RWED,RWED,RE,)",
             {"38.TXT;1", true, 2, {2000, 1, 7}}},
            {"test.dir;1 1 4-MAR-1999 22:14:34", {"test", false, 1, {1999, 3, 4, 22, 14, 34}}},
            {"OLD.DIR;2 1 4-MAR-1999", {"OLD.DIR;2", true, 1, {1999, 3, 4}}},
            {"FILE.;1", {"FILE.;1", true, 0, thisYear}},
            {"X.;1 1 1-JAN-1975", {"X.;1", true, 1, {1980, 1, 1}}},
            {"X.;1 1 1-JAN-2099", {"X.;1", true, 1, {2030, 1, 1}}},
            {"X.;1 1 30-FEB-2001", {"X.;1", true, 1, thisYear}},
            {"X.;1 1 10:61:00", {"X.;1", true, 1, thisYear}},
            {"X.;1 99999999999999999999999", {"X.;1", true, kMaxListedSize, thisYear}},
            {"PICS.DIR;1\tNo privilege for attempted operation", {"PICS", false, 0, thisYear}},
            {"Directory ANONYMOUS_ROOT:[000000]", kNone},
            {"Total of 11 files, 17 blocks.", kNone},
            {"*.*;0              <%RMS-E-FNF, file not found>", kNone},
            {"..DIR;1 1 4-MAR-1999", kNone},
            {";", {";", true, 0, thisYear}},
        });
}

// Listed times are local times. Whatever the zone, each must be the time the
// system gives for the same wall clock, also around clock changes (the times
// of an hour that occurs twice may be either).
TEST(ListingTimes, LocalTimeInEveryZone) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    for (const char* zone :
         {"UTC0", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu"}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= 28; day += 3) {
                for (int hour : {0, 1, 2, 3, 12, 23}) {
                    char line[64];
                    std::snprintf(line, sizeof line, "X.;1 1 %d-%s-2021 %02d:30:15", day,
                                  months[month - 1], hour);
                    CFTPFolderContent content = NewContent();
                    ASSERT_TRUE(ParseVmsLine(line, Context(At(2021, 6, 1)), content));
                    const std::time_t got = content.GetFiles().GetAt(0)->m_time;
                    const LocalTime wall{2021, month, day, hour, 30, 15};
                    const std::time_t want = FromLocalTime(wall);
                    if (got != want) {
                        EXPECT_EQ(Format(ToLocalTime(got)), Format(wall)) << zone << " " << line;
                    }
                }
            }
        }
        // A whole listing remembers offsets per month and day: every day of
        // two years, in the order the months come and across them.
        std::string listing;
        std::vector<LocalTime> walls;
        for (int year : {2021, 2022}) {
            for (int month = 1; month <= 12; ++month) {
                for (int day = 1; day <= 28; ++day) {
                    for (int hour : {1, 2, 3, 23}) {
                        char line[64];
                        std::snprintf(line, sizeof line, "X.;1 1 %d-%s-%d %02d:30:15\n", day,
                                      months[month - 1], year, hour);
                        listing += line;
                        walls.push_back(LocalTime{year, month, day, hour, 30, 15});
                    }
                }
            }
        }
        CFTPFolderContent content = NewContent();
        ASSERT_EQ(ParseListingText(8, listing, Context(At(2022, 6, 1)), content),
                  ListingParse::Done);
        ASSERT_EQ(content.GetFiles().GetSize(), walls.size());
        for (std::size_t i = 0; i < walls.size(); ++i) {
            const std::time_t got = content.GetFiles().GetAt(i)->m_time;
            if (got != FromLocalTime(walls[i])) {
                EXPECT_EQ(Format(ToLocalTime(got)), Format(walls[i])) << zone;
            }
        }
    }
    if (previous) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

// --- Whole listings -------------------------------------------------------------

std::string UnixLine(const std::string& name) {
    return "-rw-r--r-- 1 u g 1 Jan 1 2001 " + name;
}

std::vector<std::string> Names(const CFTPFolderContent& content) {
    std::vector<std::string> names;
    for (const CFTPFile* entry : Entries(content)) {
        names.push_back(entry->m_strName);
    }
    return names;
}

TEST(ListingText, LineEnds) {
    using Names_ = std::vector<std::string>;
    const std::string a = UnixLine("a");
    const std::string b = UnixLine("b");
    const struct {
        const char* label;
        std::string listing;
        Names_ names;
    } cases[] = {
        {"LF", a + "\n" + b + "\n", {"a", "b"}},
        {"CR LF", a + "\r\n" + b + "\r\n", {"a", "b"}},
        {"CR alone", a + "\r" + b + "\r", {"a", "b"}},
        {"CR before a line start keeps that byte", a + "\r" + b, {"a", "b"}},
        {"LF CR ends two lines", a + "\n\r" + b + "\n\r", {"a", "b"}},
        {"no end after the last line", a + "\r\n" + b, {"a", "b"}},
        {"a single line without an end", a, {"a"}},
        {"empty lines", "\n\r\n" + a + "\r\n\r\n\n", {"a"}},
        {"empty listing", "", {}},
        {"a name cannot hold a CR", a + "\rx\r\n", {"a"}},
    };
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        EXPECT_EQ(ParseListingText(0, c.listing, Context(), content), ListingParse::Done);
        EXPECT_EQ(Names(content), c.names) << c.label;
    }
}

TEST(ListingText, VmsNamesOnALineOfTheirOwnAreJoined) {
    const std::string listing = "Directory DKA0:[PUB]\r\n"
                                "\r\n"
                                "LONG_NAME_OF_A_FILE.TXT;3\r\n"
                                "          12/15  2-JUN-1998 07:32:04  [G,O]  (RWED,RWED,,)\r\n"
                                "SHORT.TXT;1  3  2-JUN-1998 07:32:04\r\n"
                                "WRAPPED_FOLDER.DIR;1\r\n"
                                "NEXT.TXT;1  4  3-JUN-1998 08:00\r\n"
                                "NOPRIV.LOG;23\r\n"
                                "      <%SYSTEM-F-NOPRIV, insufficient privilege>\r\n"
                                "\r\n"
                                "Total of 5 files, 19/25 blocks.\r\n"
                                "LAST.TXT;1";
    CFTPFolderContent content = NewContent();
    ASSERT_EQ(ParseListingText(8, listing, Context(), content), ListingParse::Done);
    const struct {
        const char* name;
        bool isFile;
        FileSize size;
        LocalTime time;
    } want[] = {
        {"LONG_NAME_OF_A_FILE.TXT;3", true, 12, {1998, 6, 2, 7, 32, 4}},
        {"SHORT.TXT;1", true, 3, {1998, 6, 2, 7, 32, 4}},
        {"NEXT.TXT;1", true, 4, {1998, 6, 3, 8, 0, 0}},
        {"NOPRIV.LOG;23", true, 0, {2025, 1, 1}},
        {"LAST.TXT;1", true, 0, {2025, 1, 1}},
        {"WRAPPED_FOLDER", false, 0, {2025, 1, 1}},
    };
    const auto all = Entries(content);
    ASSERT_EQ(all.size(), std::size(want)) << ::testing::PrintToString(Names(content));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i]->m_strName, want[i].name);
        EXPECT_EQ(all[i]->m_bFile, want[i].isFile) << want[i].name;
        EXPECT_EQ(all[i]->m_nSize, want[i].size) << want[i].name;
        EXPECT_EQ(Format(ToLocalTime(all[i]->m_time)), Format(want[i].time)) << want[i].name;
    }
}

// --- MLSD (RFC 3659) ----------------------------------------------------------

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

TEST(ListingMlsd, FactsGiveKindSizeAndUtcTime) {
    constexpr std::time_t kUnknownTime = -1; // 1 January of this year, local midnight
    const std::time_t jan10 = Utc(2024, 1, 10, 12, 0, 0);
    const struct {
        std::string line;
        const char* name; // nullptr: no entry
        bool isFile;
        FileSize size;
        std::time_t time;
        const char* link;
    } cases[] = {
        // RFC 3659, 7.7.4: the example listing.
        {"type=cdir;perm=el;unique=keVO1+ZF4; test", nullptr},
        {"type=pdir;perm=e;unique=keVO1+d?3; ..", nullptr},
        {"type=OS.unix=slink:/foobar;perm=;unique=keVO1+4G4; foobar", "foobar", false, 0,
         kUnknownTime, "/foobar"},
        {"type=OS.unix=chr-13/29;perm=;unique=keVO1+5G4; device", "device", true, kUnknownSize,
         kUnknownTime, ""},
        {"type=file;perm=awr;unique=keVO1+8G4; writable", "writable", true, kUnknownSize,
         kUnknownTime, ""},
        {"type=dir;perm=cpmel;unique=keVO1+7G4; promiscuous", "promiscuous", false, 0, kUnknownTime,
         ""},
        {"type=file;perm=r;unique=keVO1+EG4; two words", "two words", true, kUnknownSize,
         kUnknownTime, ""},
        {"type=file;perm=r;unique=keVO1+IH4;  leading space", " leading space", true, kUnknownSize,
         kUnknownTime, ""},
        // RFC 3659, 7.7.2: facts in any case; a path is not an entry of the folder.
        {"Type=file;Size=1024990;Perm=r; /tmp/cap60.pl198.tar.gz", nullptr},
        {"Type=FILE;Size=1024990;Modify=19990929003355;Perm=r; cap60.pl198.tar.gz",
         "cap60.pl198.tar.gz", true, 1024990, Utc(1999, 9, 29, 0, 33, 55), ""},
        // pyftpdlib
        {"type=file;size=6;modify=20240110120000.123;perm=radfwMT;unix.mode=0644;unix.uid=0;"
         "unix.gid=0;unique=803g1a2b; readme.txt",
         "readme.txt", true, 6, jan10, ""},
        {"type=dir;size=4096;modify=20240110120000;perm=flcdmpe;unix.mode=0755; .git", ".git",
         false, 4096, jan10, ""},
        // proftpd: facts in another order, owner names with spaces, links
        {"modify=20240110120000;perm=adfrw;size=1234;type=file;unique=FD00U1234;UNIX.group=1000;"
         "UNIX.groupname=domain users;UNIX.mode=0644;UNIX.owner=1000;UNIX.ownername=J Smith; "
         ".bashrc",
         ".bashrc", true, 1234, jan10, ""},
        {"modify=20240110120000;perm=adfr;size=7;type=OS.unix=symlink;UNIX.mode=0777; latest",
         "latest", false, 7, jan10, ""},
        {"type=OS.unix=slink:target.txt;size=10;modify=20240110120000; link", "link", false, 10,
         jan10, "/home/u/pub/target.txt"},
        // pure-ftpd
        {"type=file;size=7;modify=20240110120000;UNIX.mode=0644;UNIX.uid=1000;UNIX.gid=1000;"
         "unique=803g2e; a;b c.txt",
         "a;b c.txt", true, 7, jan10, ""},
        // Odd values: sizes saturate or are not sizes, times out of range are unknown.
        {"type=file;size=99999999999999999999999999; huge", "huge", true, kMaxListedSize,
         kUnknownTime, ""},
        {"type=file;size=-1;modify=20241310120000; bad", "bad", true, kUnknownSize, kUnknownTime,
         ""},
        {"type=file;modify=2024011012; short", "short", true, kUnknownSize, kUnknownTime, ""},
        {"type=file;modify=20241231235960; leap", "leap", true, kUnknownSize,
         Utc(2024, 12, 31, 23, 59, 59), ""},
        {"type=file;modify=20240110120000.; dot", "dot", true, kUnknownSize, kUnknownTime, ""},
        {"type=file;x-long-fact=" + std::string(100000, 'x') + ";novalue;=;; long", "long", true,
         kUnknownSize, kUnknownTime, ""},
        {" no facts", "no facts", true, kUnknownSize, kUnknownTime, ""},
        // The last type fact counts, and a link target only with its own.
        {"type=OS.unix=slink:/a;type=file; twice", "twice", true, kUnknownSize, kUnknownTime, ""},
        // No name, or no facts section ended by "; ".
        {"type=file;size=1;", nullptr},
        {"type=file;size=1; ", nullptr},
        {"type=file;size=1;name", nullptr},
        {"type=file name", nullptr},
        {"", nullptr},
    };
    const std::time_t unknown = FromLocalTime(LocalTime{ToLocalTime(kFifthOfDecember).year, 1, 1});
    for (const auto& c : cases) {
        const std::string label = c.line.substr(0, 80);
        CFTPFolderContent content = NewContent();
        EXPECT_EQ(ParseMlsdLine(c.line, Context(), content), c.name != nullptr) << label;
        const auto all = Entries(content);
        if (!c.name) {
            EXPECT_TRUE(all.empty()) << label;
            continue;
        }
        ASSERT_EQ(all.size(), 1u) << label;
        EXPECT_EQ(all[0]->m_strName, c.name) << label;
        EXPECT_EQ(all[0]->m_bFile, c.isFile) << label;
        EXPECT_EQ(all[0]->m_nSize, c.size) << label;
        EXPECT_EQ(all[0]->m_time, c.time == kUnknownTime ? unknown : c.time) << label;
        EXPECT_EQ(all[0]->m_strLink, c.link) << label;
    }
}

TEST(ListingMlsd, WholeListings) {
    const std::string listing = "type=cdir;modify=20240110120000; /home/u/pub\r\n"
                                "type=pdir;modify=20240110120000; /home/u\r\n"
                                "type=dir;modify=20240110120000; sub\n"
                                "type=file;size=3;modify=20240110120000; .hidden\r"
                                "type=file;size=5;modify=20240110120000; a b";
    CFTPFolderContent content = NewContent();
    EXPECT_EQ(ParseListingText(kMlsdListing, listing, Context(), content), ListingParse::Done);
    const auto all = Entries(content);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]->m_strName, ".hidden");
    EXPECT_EQ(all[1]->m_strName, "a b");
    EXPECT_EQ(all[2]->m_strName, "sub");
    EXPECT_FALSE(all[2]->m_bFile);
    EXPECT_TRUE(IsListingSupported(kMlsdListing));
}

TEST(ListingText, ServerTypesChooseTheParser) {
    // Numbers in every column: each layout reads its own columns.
    const std::string unixLine = "-rw-r--r-- 1 2 3 4 Jan 6 2001 8 x";
    const std::string nt = "01-02-98  09:05AM  1234 a.txt";
    const struct {
        int type;
        const std::string& line;
        const char* name;
        FileSize size;
    } cases[] = {
        {0, unixLine, "8 x", 4}, {1, unixLine, "8 x", 4},   {9, unixLine, "8 x", 4},
        {4, unixLine, "8 x", 4}, {8, unixLine, nullptr, 0}, {0, nt, nullptr, 0},
        {4, nt, nullptr, 0},     {9, nt, "a.txt", 1234},    {8, nt, nullptr, 0},
    };
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_EQ(ParseListingText(c.type, c.line, Context(), content), ListingParse::Done);
        const auto all = Entries(content);
        if (!c.name) {
            EXPECT_TRUE(all.empty()) << c.type << ": " << c.line;
            continue;
        }
        ASSERT_EQ(all.size(), 1u) << c.type << ": " << c.line;
        EXPECT_EQ(all[0]->m_strName, c.name) << c.type;
        EXPECT_EQ(all[0]->m_nSize, c.size) << c.type;
    }
}

TEST(ListingText, UnsupportedServersAreRefusedUnread) {
    for (int type : {2, 3, 5, 6, 7, 10, -1, 11}) {
        CFTPFolderContent content = NewContent();
        bool called = false;
        EXPECT_EQ(ParseListingText(type, UnixLine("a") + "\n", Context(), content,
                                   [&](std::uint64_t) { return called = true; }),
                  ListingParse::Unsupported)
            << type;
        EXPECT_FALSE(called);
        EXPECT_TRUE(Entries(content).empty());
        EXPECT_FALSE(IsListingSupported(type));
    }
    for (int type : {0, 1, 4, 8, 9}) {
        EXPECT_TRUE(IsListingSupported(type)) << type;
    }
    const std::string message = UnsupportedServerMessage(5);
    EXPECT_EQ(message.rfind("Unsupported Server ID 005 !!\n", 0), 0u) << message;
    EXPECT_EQ(message.substr(message.size() - 8), "\nThanks!") << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 2) << message;
    EXPECT_NE(message.find("Quillbeck"), std::string::npos);
    EXPECT_EQ(UnsupportedServerMessage(10).rfind("Unsupported Server ID 010 !!\n", 0), 0u);
}

// Within one listing each relative target is made absolute on its own:
// nothing of one entry's target stays in the next.
TEST(ListingText, EachRelativeTargetOfAListingIsMadeAbsolute) {
    const struct {
        int serverType;
        std::string listing;
    } cases[] = {
        {0, "lrwxrwxrwx 1 0 0 2 Jan 1 2001 a -> longer-target\r\n"
            "lrwxrwxrwx 1 0 0 2 Jan 1 2001 b -> t\r\n"
            "lrwxrwxrwx 1 0 0 2 Jan 1 2001 c -> /abs\r\n"
            "lrwxrwxrwx 1 0 0 2 Jan 1 2001 d -> u\r\n"},
        {kMlsdListing, "type=OS.unix=slink:longer-target; a\r\n"
                       "type=OS.unix=slink:t; b\r\n"
                       "type=OS.unix=slink:/abs; c\r\n"
                       "type=OS.unix=slink:u; d\r\n"},
    };
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_EQ(ParseListingText(c.serverType, c.listing, Context(), content),
                  ListingParse::Done);
        std::vector<std::string> links;
        for (std::size_t i = 0; i < content.GetFolders().GetSize(); ++i) {
            links.push_back(content.GetFolders().GetAt(i)->m_strLink.str());
        }
        EXPECT_EQ(links, (std::vector<std::string>{"/home/u/pub/longer-target", "/home/u/pub/t",
                                                   "/abs", "/home/u/pub/u"}))
            << c.serverType;
    }
}

// Where a line's date form leaves the name column open, the other lines of
// the listing fix it: leading spaces stay when another name starts in the
// same column.
TEST(ListingText, NameColumnFromOtherLines) {
    const std::string dotted = "-r-xr-xr-x 2 root root 96 2004.07.15   padded\r\n";
    const std::string plain = "-r-xr-xr-x 2 root root 96 2004.07.15 plain\r\n";
    const std::string shifted = "-r-xr-xr-x 2 root root 960 2004.07.15 shifted\r\n";
    const struct {
        const char* label;
        std::string listing;
        std::vector<std::string> names;
    } cases[] = {
        {"alone", dotted, {"padded"}},
        {"a name in the same column", plain + dotted, {"plain", "  padded"}},
        {"the column is known after the line too", dotted + plain, {"  padded", "plain"}},
        {"names in other columns only", shifted + dotted, {"shifted", "padded"}},
        {"two padded lines fix nothing", dotted + dotted, {"padded", "padded"}},
    };
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_EQ(ParseListingText(0, c.listing, Context(), content), ListingParse::Done);
        EXPECT_EQ(Names(content), c.names) << c.label;
    }
}

TEST(ListingText, ProgressCountsBytesAndCanStop) {
    const std::string listing = UnixLine("a") + "\r\n\r\n" + UnixLine("b") + "\n" + UnixLine("c");
    std::vector<std::uint64_t> seen;
    CFTPFolderContent content = NewContent();
    EXPECT_EQ(ParseListingText(0, listing, Context(), content,
                               [&](std::uint64_t bytes) {
                                   seen.push_back(bytes);
                                   return true;
                               }),
              ListingParse::Done);
    const std::uint64_t aEnd = UnixLine("a").size() + 2;
    const std::uint64_t bEnd = aEnd + 2 + UnixLine("b").size() + 1;
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{aEnd, aEnd + 2, bEnd, listing.size()}));

    // The answer comes before a line is parsed: stopping at the third line
    // leaves the first entry only, and the entries made so far stay.
    int calls = 0;
    CFTPFolderContent stopped = NewContent();
    EXPECT_EQ(ParseListingText(0, listing, Context(), stopped,
                               [&](std::uint64_t) { return ++calls < 3; }),
              ListingParse::Stopped);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(Names(stopped), (std::vector<std::string>{"a"}));
}

// --- Reading a listing as it arrives ---------------------------------------------

// An entry with all that was read of it.
std::string Record(const ListedEntry& entry) {
    return std::string(entry.name) + (entry.isFile ? " file " : " dir ") +
           std::to_string(entry.size) + " " + std::to_string(entry.time) + " -> " +
           std::string(entry.link);
}

std::string Record(const CFTPFile& entry) {
    return Record(AsListedEntry(entry));
}

// Every entry in the content's order.
std::vector<std::string> Records(const CFTPFolderContent& content) {
    std::vector<std::string> records;
    for (const CFTPFile* entry : Entries(content)) {
        records.push_back(Record(*entry));
    }
    return records;
}

// `reader` tells the records of its entries into `told`.
void TellRecords(ListingReader& reader, std::vector<std::string>& told, bool keep) {
    reader.SetEntries(
        [&told](std::span<const ListedEntry> entries) {
            for (const ListedEntry& entry : entries) {
                told.push_back(Record(entry));
            }
        },
        keep);
}

std::vector<std::string> Sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

// Lines that repeat the date columns of the line before (files written
// together) read as they do alone: the same text in another column, with
// other spaces, after a comma or in an owner's place.
TEST(ListingReader, ALineReadsTheSameWhateverLinesCameBefore) {
    const char* const lines[] = {
        "-rw-r--r--    1 0        0               1 Dec 10 19:53 a",
        "-rw-r--r--    1 0        0               2 Dec 10 19:53 b",
        "-rw-r--r-- 1 u g 3 Dec 10 19:53 c",
        "-rw-r--r-- 1 u g 4 Dec 10 19:53  two spaces",
        "-rw-r--r-- 1 Dec 10 19:53 5 Dec 10 19:53 owner",
        "-rw-r--r-- 1 u g 6 Dec 10  2023 d",
        "drwxr-xr-x 1 u g 7 Dec  10 19:53 e",
        "-rw-r--r-- 1 u g 8 Dec 10 19:53 f",
        "-rw-r--r-- 1 u g 9 Dec 10, 2023 g",
        "-rw-r--r-- 1 u g 10 Dec 10, 2023 10:00 h",
        "-rw-r--r-- 1 u g 11 Dec 10, 2023 10:00 i",
        "-rw-r--r-- 1 u g 12 Dec 10 19:53 j",
        "lrwxrwxrwx 1 u g 13 Dec 10 19:53 k -> /t",
        "-rw-r--r-- 1 u g 14 Dec 10 19:5 l",
        "-rw-r--r-- 1 u g 15 Dec 10 19:53 m",
    };
    std::string listing;
    std::vector<std::string> alone;
    for (const char* line : lines) {
        listing += std::string(line) + "\r\n";
        CFTPFolderContent content = NewContent();
        ASSERT_TRUE(ParseUnixLine(line, Context(), content)) << line;
        alone.push_back(Records(content).at(0));
    }
    CFTPFolderContent content = NewContent();
    ListingReader reader(0, Context(), content);
    std::vector<std::string> told;
    TellRecords(reader, told, false);
    ASSERT_TRUE(reader.Feed(listing));
    ASSERT_EQ(reader.Finish(), ListingParse::Done);
    EXPECT_EQ(told, alone);
}

TEST(ListingReader, PiecesCutAnywhereGiveTheWholeListingsEntries) {
    const std::string a = UnixLine("a");
    const std::string padded = "-r-xr-xr-x 2 root root 96 2004.07.15   padded\r\n";
    const std::string plain = "-r-xr-xr-x 2 root root 96 2004.07.15 plain\r\n";
    const struct {
        const char* label;
        int serverType;
        std::string listing;
    } cases[] = {
        {"line ends of every kind", 0,
         "\n\r\n" + a + "\r\n" + UnixLine("b") + "\r" + UnixLine("c") + "\n\r" + a + "\rx\r\n" +
             UnixLine("last")},
        {"a lone CR at the very end", 0, a + "\r"},
        {"links and targets", 0,
         "lrwxrwxrwx 1 u g 7 Jan 10 2024 up -> ../x\r\n"
         "lrwxrwxrwx 1 u g 7 Jan 10 2024 abs -> /etc/y\r\n"},
        {"a name column known only later", 0, padded + plain + padded},
        {"VMS names on a line of their own", 8,
         "Directory DKA0:[PUB]\r\n\r\nLONG_NAME_OF_A_FILE.TXT;3\r\n"
         "          12/15  2-JUN-1998 07:32:04  [G,O]  (RWED,RWED,,)\r\n"
         "WRAPPED_FOLDER.DIR;1\r\nNEXT.TXT;1  4  3-JUN-1998 08:00\r\nLAST.TXT;1"},
        {"MLSD", kMlsdListing,
         "type=cdir;modify=20240110120000; /home/u/pub\r\n"
         "type=dir;modify=20240110120000; sub\n"
         "type=file;size=3;modify=20240110120000; .hidden\r"
         "type=file;size=5;modify=20240110120000; a b"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint64_t> wholeProgress;
        CFTPFolderContent whole = NewContent();
        ASSERT_EQ(ParseListingText(c.serverType, c.listing, Context(), whole,
                                   [&](std::uint64_t bytes) {
                                       wholeProgress.push_back(bytes);
                                       return true;
                                   }),
                  ListingParse::Done)
            << c.label;
        const std::vector<std::string> want = Records(whole);
        ASSERT_FALSE(want.empty()) << c.label;

        // Two pieces cut at every byte, and three with the middle one empty.
        for (std::size_t cut = 0; cut <= c.listing.size(); ++cut) {
            std::vector<std::uint64_t> progress;
            const auto note = [&](std::uint64_t bytes) {
                progress.push_back(bytes);
                return true;
            };
            CFTPFolderContent content = NewContent();
            ListingReader reader(c.serverType, Context(), content);
            // Each entry is told once, as it is in the end.
            std::vector<std::string> told;
            TellRecords(reader, told, true);
            const std::string_view text = c.listing;
            ASSERT_TRUE(reader.Feed(text.substr(0, cut), note));
            ASSERT_TRUE(reader.Feed({}, note));
            ASSERT_TRUE(reader.Feed(text.substr(cut), note));
            ASSERT_EQ(reader.Finish(note), ListingParse::Done);
            EXPECT_EQ(Records(content), want) << c.label << ", cut at " << cut;
            EXPECT_EQ(progress, wholeProgress) << c.label << ", cut at " << cut;
            EXPECT_EQ(Sorted(told), Sorted(want)) << c.label << ", cut at " << cut;

            // Told entries dropped as they go: the same entries are told,
            // the count holds them all, and none stays.
            CFTPFolderContent dropping = NewContent();
            ListingReader dropper(c.serverType, Context(), dropping);
            std::vector<std::string> toldOnce;
            TellRecords(dropper, toldOnce, false);
            ASSERT_TRUE(dropper.Feed(text.substr(0, cut)));
            ASSERT_TRUE(dropper.Feed(text.substr(cut)));
            ASSERT_EQ(dropper.Finish(), ListingParse::Done);
            EXPECT_EQ(Sorted(toldOnce), Sorted(want)) << c.label << ", cut at " << cut;
            EXPECT_EQ(dropper.Count(), want.size());
            EXPECT_TRUE(Entries(dropping).empty());
        }
        // One byte at a time.
        CFTPFolderContent content = NewContent();
        ListingReader reader(c.serverType, Context(), content);
        for (char byte : c.listing) {
            ASSERT_TRUE(reader.Feed(std::string_view(&byte, 1)));
        }
        ASSERT_EQ(reader.Finish(), ListingParse::Done);
        EXPECT_EQ(Records(content), want) << c.label << ", byte by byte";
    }
}

// A long listing read in pieces with the told entries dropped: nothing
// stays from one piece to the next. Entries are told from their lines, or
// from a record where the line cannot give them (a link's target made
// absolute, a line carried over from the piece before, a name too long for
// the shared blocks, which keeps a block of its own meanwhile).
TEST(ListingReader, DroppedEntriesLeaveTheirMemoryToTheNext) {
    std::string listing;
    std::vector<std::string> want;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "entry-" + std::to_string(i) + std::string(i % 50, 'n');
        if (i % 3 == 0) {
            listing += "lrwxrwxrwx 1 u g 1 Jan 1 2001 " + name + " -> t" + std::to_string(i);
            want.push_back(name + " -> /home/u/pub/t" + std::to_string(i));
        } else if (i % 3 == 1) {
            listing += "lrwxrwxrwx 1 u g 1 Jan 1 2001 " + name + " -> /t";
            want.push_back(name + " -> /t");
        } else {
            listing += UnixLine(name);
            want.push_back(name + " -> ");
        }
        listing += "\r\n";
        if (i == 1500) {
            const std::string huge(70000, 'h');
            listing += UnixLine(huge) + "\r\n";
            want.push_back(huge + " -> ");
        }
    }
    CFTPFolderContent content = NewContent();
    ListingReader reader(0, Context(), content);
    std::vector<std::string> told;
    reader.SetEntries(
        [&](std::span<const ListedEntry> entries) {
            for (const ListedEntry& entry : entries) {
                told.push_back(std::string(entry.name) + " -> " + std::string(entry.link));
            }
            EXPECT_LE(Entries(content).size(), entries.size());
        },
        false);
    for (std::size_t at = 0; at < listing.size(); at += 10000) {
        ASSERT_TRUE(reader.Feed(std::string_view(listing).substr(at, 10000)));
    }
    ASSERT_EQ(reader.Finish(), ListingParse::Done);
    EXPECT_EQ(told, want);
    EXPECT_EQ(reader.Count(), want.size());
    EXPECT_TRUE(Entries(content).empty());
}

// Entries are told piece by piece in the order of their lines (folders and
// files mixed); a name whose leading spaces depend on later lines is told at
// the end, with them.
TEST(ListingReader, EntriesAreToldAsTheirLinesArrive) {
    const std::string listing = "drwxr-xr-x 2 u g 0 2004.07.15   padded\r\n" + UnixLine("f1") +
                                "\r\n" + "drwxr-xr-x 2 u g 0 Jan 10 2024 d2\r\n" +
                                "-r-xr-xr-x 2 u g 96 2004.07.15   plain\r\n" + UnixLine("f3");
    CFTPFolderContent content = NewContent();
    ListingReader reader(0, Context(), content);
    std::vector<std::vector<std::string>> pieces;
    reader.SetEntries([&](std::span<const ListedEntry> entries) {
        pieces.emplace_back();
        for (const ListedEntry& entry : entries) {
            pieces.back().push_back(std::string(entry.name));
        }
    });
    const std::size_t second = listing.find("drwxr-xr-x 2 u g 0 Jan");
    ASSERT_TRUE(reader.Feed(std::string_view(listing).substr(0, second)));
    ASSERT_TRUE(reader.Feed(std::string_view(listing).substr(second)));
    ASSERT_EQ(reader.Finish(), ListingParse::Done);
    EXPECT_EQ(pieces, (std::vector<std::vector<std::string>>{
                          {"f1"}, {"d2"}, {"f3", "  padded", "  plain"}}));
}

TEST(ListingReader, AStopEndsTheReadingAndUnsupportedServersReadNothing) {
    const std::string listing = UnixLine("a") + "\n" + UnixLine("b") + "\n" + UnixLine("c") + "\n";
    CFTPFolderContent content = NewContent();
    ListingReader reader(0, Context(), content);
    int calls = 0;
    const auto twoLines = [&](std::uint64_t) { return ++calls <= 2; };
    // The stop comes inside the second piece; what was read stays, later
    // pieces are ignored.
    const std::size_t cut = UnixLine("a").size() + 3;
    ASSERT_TRUE(reader.Feed(std::string_view(listing).substr(0, cut), twoLines));
    EXPECT_FALSE(reader.Feed(std::string_view(listing).substr(cut), twoLines));
    EXPECT_FALSE(reader.Feed(UnixLine("d") + "\n"));
    EXPECT_EQ(reader.Finish(), ListingParse::Stopped);
    EXPECT_EQ(Names(content), (std::vector<std::string>{"a", "b"}));

    CFTPFolderContent none = NewContent();
    ListingReader unsupported(7, Context(), none);
    EXPECT_FALSE(unsupported.IsSupported());
    EXPECT_FALSE(unsupported.Feed(listing));
    EXPECT_EQ(unsupported.Finish(), ListingParse::Unsupported);
    EXPECT_TRUE(Entries(none).empty());
}

// --- Hostile input ------------------------------------------------------------------

TEST(ListingHostile, OddBytesAndLongLines) {
    const std::string longName(1 << 20, 'n');
    const std::string spaces(1 << 20, ' ');
    const struct {
        int type;
        std::string listing;
        std::vector<std::string> names;
    } cases[] = {
        {0, UnixLine("a"s + '\0' + "b"), {"a\0b"s}},
        {0, "\0\0\0\n"s + UnixLine("\xff\xfe\xc0") + "\n", {"\xff\xfe\xc0"}},
        {0, UnixLine(longName), {longName}},
        {0, "-" + spaces + "x", {}},
        {0, "l" + spaces + "->" + spaces, {}},
        {0, "l" + std::string(1000, '-') + std::string(1000, '>'), {}},
        {9, spaces + "\n" + "1-1-1 1:1PM 1 " + longName, {longName}},
        {9,
         "99999999999999999999999-99999999999999999999-9999999999999999 "
         "99999999999999999999:99999999999999999999PM 1 f",
         {"f"}},
        {8, std::string(100000, ';'), {std::string(100000, ';')}},
        {8, "A.;1\n" + spaces, {"A.;1"}},
        {8, "A.;1 1/ -- ::: ::", {"A.;1"}},
        {4, "d" + spaces, {}},
    };
    for (const auto& c : cases) {
        CFTPFolderContent content = NewContent();
        ASSERT_EQ(ParseListingText(c.type, c.listing, Context(), content), ListingParse::Done);
        EXPECT_EQ(Names(content), c.names) << c.type << ": " << c.listing.substr(0, 60);
    }
}

// Every prefix of real lines, for every parser: a line cut anywhere must not
// crash, and never yields a name that is not one plain path component.
TEST(ListingHostile, TruncatedLines) {
    const char* lines[] = {
        "lrwxrwxrwx   1 root     other          7 Jan 25 00:17 bin -> usr/bin",
        "drwxr-xr-x   2 user  group   512 Mar  3 14:05 my docs",
        "-rw-r--r--    54149       27826    81975 Jul 22  2010 09.jpg",
        "12-31-99  11:59PM       <DIR>          Data",
        "02-03-09  04:42PM  1,951,823 VH203_FR.pdf",
        "SRC.DIR;1   2/3  5-DEC-1999 10:20:30 [GRP,USR] (RWED,RWED,RE,)",
        "MAIN.FOR;4\r\n  12  5-DEC-1999 10:20",
    };
    for (const char* raw : lines) {
        const std::string line = raw;
        for (std::size_t cut = 0; cut <= line.size(); ++cut) {
            for (int type : {0, 4, 8, 9}) {
                CFTPFolderContent content = NewContent();
                ParseListingText(type, std::string_view(line).substr(0, cut), Context(), content);
                for (const CFTPFile* entry : Entries(content)) {
                    const std::string& name = entry->m_strName;
                    EXPECT_TRUE(!name.empty() && name != "." && name != ".." &&
                                name.find('/') == std::string::npos)
                        << type << ": " << line.substr(0, cut);
                    EXPECT_TRUE(entry->m_nSize <= kMaxListedSize || entry->m_nSize == kUnknownSize);
                }
            }
        }
    }
}

// --- Real-world listings ----------------------------------------------------------
//
// data/listings/*.tsv hold real LIST lines with what other clients read from
// them. Their conventions are translated to ours (links are folders, VMS
// sizes in blocks, dates without a year by our year rule, years held in our
// ranges); the rows where our rules read a line differently are listed in
// kCorpusDeviations with what our rules give.

struct Expected {
    bool entry = false;
    std::string name;
    bool isFile = true;
    std::optional<FileSize> size;
    std::optional<int> year, month, day, hour, minute;
};

struct CorpusRow {
    std::string family;
    std::string written; // the line as the file writes it (escaped)
    std::string line;
    std::vector<std::string> fields;
    std::string source;
};

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 't' || text[i + 1] == 'n')) {
            out += text[i + 1] == 't' ? '\t' : '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<CorpusRow> ReadCorpus(const std::string& family) {
    std::ifstream in(std::string(QB_LISTING_DATA) + "/" + family + ".tsv", std::ios::binary);
    std::vector<CorpusRow> rows;
    std::string text;
    std::getline(in, text); // header
    while (std::getline(in, text)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = text.find('\t', start);
            fields.push_back(text.substr(start, tab - start));
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        if (fields.size() != 10) {
            ADD_FAILURE() << family << ": malformed row " << text;
            continue;
        }
        rows.push_back(CorpusRow{family, fields[0], Unescape(fields[0]), fields, fields[9]});
    }
    return rows;
}

std::optional<int> Number(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    return std::stoi(text);
}

int ServerTypeOf(const std::string& family) {
    if (family == "nt") {
        return CFTPConstants::SERVER_NT;
    }
    if (family == "vms") {
        return CFTPConstants::SERVER_VMS;
    }
    if (family == "macos") {
        return CFTPConstants::SERVER_MACOS_PETER;
    }
    return CFTPConstants::SERVER_UNIX;
}

// "Today" of a row: the mock date its source used, else a fixed day.
std::time_t NowOf(const CorpusRow& row) {
    const std::size_t at = row.source.find("now=");
    if (at == std::string::npos) {
        return At(2017, 3, 10);
    }
    int year = 0, month = 0, day = 0;
    EXPECT_EQ(std::sscanf(row.source.c_str() + at, "now=%d-%d-%d", &year, &month, &day), 3);
    return At(year, month, day);
}

// The row's hint in our terms.
Expected Translate(const CorpusRow& row) {
    const auto& f = row.fields;
    Expected e;
    e.entry = !f[1].empty();
    e.name = Unescape(f[1]);
    e.isFile = f[2] == "0";
    if (!f[3].empty() && f[3] != "-1") {
        FileSize size = std::stoull(f[3]);
        if (row.family == "vms") {
            size /= 512; // the sources give bytes; we keep blocks
        }
        e.size = std::min(size, kMaxListedSize);
    }
    e.month = Number(f[5]);
    e.day = Number(f[6]);
    e.hour = Number(f[7]);
    e.minute = Number(f[8]);
    const bool relative = row.source.find("yr=rel") != std::string::npos ||
                          (row.source.find("now=") != std::string::npos && e.hour);
    if (relative && e.month && e.day) {
        e.year = YearForMonthDay(*e.month, *e.day, NowOf(row));
    } else if (auto year = Number(f[4])) {
        e.year = row.family == "nt" ? std::clamp(*year, 1970, 2069) : std::clamp(*year, 1980, 2030);
    }
    return e;
}

// VMS sources differ on versions and ".DIR": compare without them, any case.
std::string VmsBaseName(std::string name) {
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::size_t semicolon = name.rfind(';');
    if (semicolon != std::string::npos) {
        name.erase(semicolon);
    }
    if (name.size() > 4 && name.ends_with(".DIR")) {
        name.erase(name.size() - 4);
    }
    return name;
}

struct Deviation {
    const char* family;
    const char* written; // the line as the file writes it
    Expected ours;
    const char* why;
};

const Deviation kCorpusDeviations[] = {
    {"unix",
     "-rw-r--r--   1 root     root       190144 2001-04-27 zxJDBC-2.0.1b1.zip",
     {true, "zxJDBC-2.0.1b1.zip", true, 190144, 2001, 4, 27, 0, 0},
     "a date without a time still leaves the name certain"},
    {"unix",
     "-r-xr-xr-x longowner longgroup123456 Feb 12 17:20 46-unix-concatsize file",
     {true, "46-unix-concatsize file", true, kUnknownSize, 2017, 2, 12, 17, 20},
     "group and size run together: the size is unknown"},
    {"unix",
     "drwxr-xr-x   2 root     root         4096 Jam  4 00:03 zziplib",
     {true, "zziplib", false, 4096, 2017, 1, 1, 0, 0},
     "no such month: the columns are clear, the date is unknown"},
    {"unix",
     "drwxr-xr-x   2 root     99           4096 Feb 23 30:01 zzplayer",
     {true, "zzplayer", false, 4096, 2017, 1, 1, 0, 0},
     "hour 30: the date is unknown"},
    {"unix",
     "-rw-r--r--   1ftp       nogroup    126552 Jan 22  2001 zxJDBC-1.2.4.zip",
     {true, "zxJDBC-1.2.4.zip", true, 126552, 2001, 1, 22, 0, 0},
     "the date columns are found after a glued link count"},
    {"unix",
     "drwxr-xr-x    3 110      1002            3 Dec 02  2009 pub",
     {true, "pub", false, 3, 2009, 12, 2, 0, 0},
     "a folder keeps its listed size"},
    {"unix",
     "drwxr-xr-x    3 110      1002            3 Dec 02  2009 p u b",
     {true, "p u b", false, 3, 2009, 12, 2, 0, 0},
     "a folder keeps its listed size"},
    {"unix",
     "lrwxrwxrwx   1 root     other          7 Jan 25 00:17 bin -> usr/bin",
     {true, "bin", false, 7, 2017, 1, 25, 0, 17},
     "a link keeps its listed size"},
    {"unix",
     "drwxr-xr-x    3 110      1002            3 Dec 02  2009 spaces   dir   name",
     {true, "spaces   dir   name", false, 3, 2009, 12, 2, 0, 0},
     "a folder keeps its listed size"},
    {"unix",
     "drwxr-xr-x    3 110      1002            3 Dec 02  209 pub",
     {true, "pub", false, 3, 2017, 1, 1, 0, 0},
     "a three-digit year: the columns are clear, the date is unknown"},
    {"unix",
     "drwxrwxr-x 1 0  9  Nov 5 2018 docs",
     {true, "docs", false, 9, 2018, 11, 5, 0, 0},
     "the date columns are found after a missing column"},
    {"unix",
     "drwxrwxr-x 1 root  dialout  4096 Nov 31 2018 provola",
     {true, "provola", false, 4096, 2017, 1, 1, 0, 0},
     "31 November: the date is unknown"},
    {"unix",
     "drwxr-sr-x   2 45854    200           512 May  4  2000 chemeng link -> chemeng target",
     {true, "chemeng link -> chemeng target", false, 512, 2000, 5, 4, 0, 0},
     "only link lines split at the arrow: a folder keeps the whole name"},
    {"unix",
     "drwxr-sr-x   2   200           512 May  4  2000 chemeng link -> chemeng target",
     {true, "chemeng link -> chemeng target", false, 512, 2000, 5, 4, 0, 0},
     "only link lines split at the arrow: a folder keeps the whole name"},
    {"unix",
     "drwxr-sr-x   2 45854    200           512 May 32  2000 chemeng",
     {true, "chemeng", false, 512, 2017, 1, 1, 0, 0},
     "day 32: the date is unknown"},
    {"unix",
     "drwxr-sr-x   2 45854    200           512 May 29  2000 os1 -> os2 -> os3",
     {true, "os1 -> os2 -> os3", false, 512, 2000, 5, 29, 0, 0},
     "only link lines split at the arrow: a folder keeps the whole name"},
    {"unix",
     "lrw-rw-rw-   1 user     group         542 /t11/member/incomingFeb  8  2007 Shortcut to "
     "incoming.lnk -> /t11/member/incoming",
     {true, "Shortcut to incoming.lnk", false, 542, 2017, 1, 1, 0, 0},
     "text run into the month: the columns are clear, the date is unknown"},
    {"unix",
     "garbage    1 ftp      ftp           528 Nov 01  2007 README",
     {},
     "an unknown type letter: no entry line"},
    {"unix",
     "-rw-r--r-- 1 ftp ftp 528 Foo 01 2007 README",
     {true, "README", true, 528, 2017, 1, 1, 0, 0},
     "no such month: the columns are clear, the date is unknown"},
    {"unix",
     "drwxrwxrwx 2 root root  4096 2012-30-07 00:31 notas_servico",
     {true, "notas_servico", false, 4096, 2017, 1, 1, 0, 0},
     "month 30: the date is unknown"},
    {"unix",
     "-rwxrwxrwx    1 1000     1000      1564767 Apr 06  2010 RUS_v_01_00_МЕТОД СБОРА И "
     "ДОКУМЕНТИРОВАНИЯ\\n     ТРЕБОВАНИЙ К ПОРТАЛУ\\n.pdf",
     {true, "RUS_v_01_00_МЕТОД СБОРА И ДОКУМЕНТИРОВАНИЯ", true, 1564767, 2010, 4, 6, 0, 0},
     "a line end ends the name"},
    {"unix",
     "dr-xr-xr-x  50 0       0             0 Jan  1 00:0 proc",
     {true, "proc", false, 0, 2017, 1, 1, 0, 0},
     "the source's today was 1994-11-15; ours is 2017-03-10"},
    {"unix",
     "lrwxrwxrwx   1 500     244           7 Jan  1 00:0 tmp -> ram/tmp",
     {true, "tmp", false, 7, 2017, 1, 1, 0, 0},
     "the source's today was 1994-11-15; ours is 2017-03-10"},
    {"unix",
     "drwxr-xr-x   8 98       98           512 Oct 22 13:06 .",
     {},
     "'.' is never an entry"},
    {"nt",
     "20-05-97  03:31PM                  681 .bash_history",
     {true, ".bash_history", true, 681, 2017, 1, 1, 0, 0},
     "month 20 is no date: 1 January"},
    {"nt",
     "     0           DIR   05-19-97   12:56  local",
     {true, "12:56  local", true, 5, 2017, 1, 1, 0, 0},
     "OS/2 layout read as MS-DOS"},
    {"nt",
     "34-08-14  03:09PM  <DIR> docs",
     {true, "docs", false, 0, 2017, 1, 1, 0, 0},
     "month 34 is no date: 1 January"},
    {"nt",
     "04-08-14  03:09PM  OMAR docs",
     {true, "docs", true, 0, 2014, 4, 8, 15, 9},
     "a size that is no number is 0"},
    {"nt",
     "07-17-00  02:08             12266720 test.exe",
     {true, "test.exe", true, 12266720, 2000, 7, 17, 2, 8},
     "24-hour times are read"},
    {"nt",
     "07-17-00  02:08AM           1226672x test.exe",
     {true, "test.exe", true, 1226672, 2000, 7, 17, 2, 8},
     "the size's leading digits"},
    {"nt",
     "01-06-79  02:42AM                  458 Corner4",
     {true, "Corner4", true, 458, 1979, 1, 6, 2, 42},
     "two-digit years 70-99 are 1970-1999"},
    {"nt",
     "11-FEB-09 05:32PM       <DIR>          NT",
     {true, "NT", false, 0, 2017, 1, 1, 0, 0},
     "month names are not read in MS-DOS dates: no date, 1 January"},
    {"nt",
     "11-02-09  05:32PM                 -1   NT",
     {true, "NT", true, 0, 2009, 11, 2, 17, 32},
     "a size that is no number is 0"},
    {"nt",
     "12-25-10  12:00ZM                  0   what does ZM mean",
     {true, "what does ZM mean", true, 0, 2010, 12, 25, 0, 0},
     "any ending but PM is the morning"},
    {"vms",
     "42-vms-alternate-field-order-file;1   [SUMMARY]    1/3     2-AUG-2006 13:05  (RWE,RWE,RE,)",
     {true, "42-vms-alternate-field-order-file;1", true, 0, 2006, 8, 2, 1, 0},
     "columns out of order: the block ratio is read as an hour"},
    {"vms",
     "43-vms-alternate-field-order-file;1       17-JUN-1994 17:25:37     6308/13     "
     "(RWED,RWED,R,)",
     {true, "43-vms-alternate-field-order-file;1", true, 17, 2017, 1, 1, 0, 0},
     "columns out of order: the date is read as the size, no valid time"},
    {"vms",
     "56-VMS-complex-size;1 2KB 23-SEP-2005 14:57:07.27",
     {true, "56-VMS-complex-size;1", true, 2, 2005, 9, 23, 14, 57},
     "size 2KB: its leading digits, in blocks"},
    {"vms",
     "1-JUN.LIS;2              9/9           JUN-2-1998 07:32:04  [GROUP,OWNER]    "
     "(RWED,RWED,RWED,)",
     {true, "1-JUN.LIS;2", true, 9, 2017, 1, 1, 0, 0},
     "MON-D-YYYY is no date: 1 January"},
    {"vms",
     "DATA.DIR; 1              1/9           2-JUN-1998 07:32:04  [GROUP,OWNER]    (,RWED,RWED,RE)",
     {true, "DATA.DIR;", true, 1, 1998, 6, 2, 1, 0},
     "a space before the version: a file named by the first token"},
    {"vms",
     "120196.TXT;1           118/126        14-APR-1997 12:45:27 PM  [GROUP,OWNER]    "
     "(RWED,,RWED,RE)",
     {true, "120196.TXT;1", true, 118, 1997, 4, 14, 12, 45},
     "the columns after the time are not checked"},
    {"vms",
     "30CHARBAR.TXT;1         11/18          2-JUN-1998 08:38:42  [GROUP-1,OWNER]    "
     "(RWED,RWED,RWED,RE)",
     {true, "30CHARBAR.TXT;1", true, 11, 1998, 6, 2, 8, 38},
     "the columns after the time are not checked"},
    {"vms",
     "README;1 2 18-APR-2000 10:40:39",
     {true, "README;1", true, 2, 2000, 4, 18, 10, 40},
     "names without an extension are kept"},
    {"vms",
     "X.TXT;2 1 12-MAR-2005 08:44:57 [SYSTEM]",
     {true, "X.TXT;2", true, 1, 2005, 3, 12, 8, 44},
     "the columns after the time are not checked"},
    {"vms",
     "README.TXT;1  9223372036854775807  18-APR-2000 10:40:39.90",
     {true, "README.TXT;1", true, 9223372036854775807ULL, 2000, 4, 18, 10, 40},
     "the size in blocks fits"},
    {"vms",
     "PICS.DIR;1\\tNo privilege for attempted operation",
     {true, "PICS", false, 0, 2017, 1, 1, 0, 0},
     "a folder without details: the message after the tab is no column"},
    {"vms",
     "ANON_FTP_LOG.LOG;23\\n                   <%SYSTEM-F-NOPRIV, insufficient privilege or object "
     "protection violation>",
     {true, "ANON_FTP_LOG.LOG;23", true, 0, 2017, 1, 1, 0, 0},
     "a file without details is still listed"},
    {"macos",
     "drwxr-xr-x    123       folder        0 Jan  4 14:49 Steak",
     {true, "Steak", false, 0, 2017, 1, 4, 14, 49},
     "the date columns are found after an extra column"},
};

void CheckRow(const CorpusRow& row, const Expected& want, const std::string& label) {
    CFTPFolderContent content = NewContent();
    ASSERT_EQ(ParseListingText(ServerTypeOf(row.family), row.line, Context(NowOf(row)), content),
              ListingParse::Done)
        << label;
    const auto all = Entries(content);
    if (!want.entry) {
        EXPECT_TRUE(all.empty()) << label << "\n  got: " << all.front()->m_strName;
        return;
    }
    ASSERT_EQ(all.size(), 1u) << label;
    const CFTPFile& got = *all.front();
    if (row.family == "vms") {
        EXPECT_EQ(VmsBaseName(got.m_strName), VmsBaseName(want.name)) << label;
    } else {
        EXPECT_EQ(got.m_strName, want.name) << label;
    }
    EXPECT_EQ(got.m_bFile, want.isFile) << label;
    if (want.size) {
        EXPECT_EQ(got.m_nSize, *want.size) << label;
    }
    const LocalTime t = ToLocalTime(got.m_time);
    const std::pair<const std::optional<int>&, int> parts[] = {
        {want.year, t.year}, {want.month, t.month},   {want.day, t.day},
        {want.hour, t.hour}, {want.minute, t.minute},
    };
    for (const auto& [expected, actual] : parts) {
        if (expected) {
            EXPECT_EQ(actual, *expected) << label << "\n  got " << Format(t);
        }
    }
}

TEST(ListingCorpus, RealWorldLines) {
    std::size_t rows = 0;
    std::vector<bool> used(std::size(kCorpusDeviations));
    for (const std::string family : {"unix", "nt", "vms", "macos"}) {
        for (const CorpusRow& row : ReadCorpus(family)) {
            ++rows;
            std::string label = family + ": " + row.written + "\n  (" + row.source + ")";
            Expected want = Translate(row);
            for (std::size_t i = 0; i < std::size(kCorpusDeviations); ++i) {
                const Deviation& d = kCorpusDeviations[i];
                if (family == d.family && row.written == d.written) {
                    want = d.ours;
                    used[i] = true;
                    label += "\n  read by our rules: "s + d.why;
                }
            }
            CheckRow(row, want, label);
        }
    }
    EXPECT_EQ(rows, 149u + 58u + 60u + 17u) << "rows read from " << QB_LISTING_DATA;
    for (std::size_t i = 0; i < used.size(); ++i) {
        EXPECT_TRUE(used[i]) << "no row for deviation " << kCorpusDeviations[i].written;
    }
}

} // namespace
} // namespace qb
