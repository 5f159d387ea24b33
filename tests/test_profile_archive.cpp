// The archive layout: string prefixes, counts, times, object tags, and how
// the reader fails on damaged input.
#include "platform/archive.h"
#include "test_profile_support.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

using test::ByteBuilder;
using test::Bytes;

Bytes Prefix(const Bytes& data, std::size_t n) {
    return Bytes(data.begin(), data.begin() + n);
}

TEST(Archive, StringLengthPrefixes) {
    struct Case {
        std::size_t length;
        Bytes prefix;
    };
    const Case cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {65535, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        const std::string text(c.length, 'x');
        ArchiveWriter w;
        ASSERT_TRUE(w.WriteString(text));
        const Bytes& data = w.Data();
        ASSERT_EQ(data.size(), c.prefix.size() + c.length) << c.length;
        EXPECT_EQ(Prefix(data, c.prefix.size()), c.prefix) << c.length;

        ArchiveReader r(data);
        std::string back;
        ASSERT_TRUE(r.ReadString(back)) << c.length;
        EXPECT_EQ(back, text);
        EXPECT_EQ(r.Remaining(), 0u);
    }
}

TEST(Archive, CountsUseTheEscapeFrom0xFFFF) {
    struct Case {
        std::uint32_t count;
        Bytes bytes;
    };
    const Case cases[] = {
        {0, {0x00, 0x00}},
        {0xFFFE, {0xFE, 0xFF}},
        {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {0x12345, {0xFF, 0xFF, 0x45, 0x23, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        ArchiveWriter w;
        w.WriteCount(c.count);
        EXPECT_EQ(w.Data(), c.bytes) << c.count;
        // Zero-size elements: the count alone is checked here.
        ArchiveReader r(w.Data());
        std::uint32_t back = 0;
        ASSERT_TRUE(r.ReadCount(back, 0));
        EXPECT_EQ(back, c.count);
    }
}

TEST(Archive, TimesAreClamped32BitSeconds) {
    ArchiveWriter w;
    w.WriteTime(0x65000000);
    w.WriteTime(-5);
    w.WriteTime(static_cast<std::time_t>(0x1FFFFFFFFLL));
    EXPECT_EQ(w.Data(), (Bytes{0x00, 0x00, 0x00, 0x65, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    ArchiveReader r(w.Data());
    std::time_t t = 0;
    ASSERT_TRUE(r.ReadTime(t));
    EXPECT_EQ(t, 0x65000000);
    ASSERT_TRUE(r.ReadTime(t));
    ASSERT_TRUE(r.ReadTime(t));
    EXPECT_EQ(t, 0xFFFFFFFFLL) << "seconds past 2038 read back unsigned";
}

TEST(Archive, TextDecoding) {
    struct Case {
        Bytes stored;
        std::string text;
    };
    const Case cases[] = {
        // UTF-8 is kept.
        {{0x05, 'B', 0xC3, 0xBC, 'r', 'o'}, "B\xC3\xBCro"},
        // Anything else is Windows-1252.
        {{0x04, 'C', 'a', 'f', 0xE9}, "Caf\xC3\xA9"},
        {{0x03, 0x80, 0x81, 0x9F}, "\xE2\x82\xAC\xC2\x81\xC5\xB8"},
        // Overlong and surrogate forms are not UTF-8.
        {{0x02, 0xC0, 0xAF}, "\xC3\x80\xC2\xAF"},
        {{0x03, 0xED, 0xA0, 0x80}, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
        // 16-bit characters: FF FFFE, then their own count.
        {{0xFF, 0xFE, 0xFF, 0x02, 'h', 0x00, 0xAC, 0x20}, "h\xE2\x82\xAC"},
        {{0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
        {{0xFF, 0xFE, 0xFF, 0x01, 0x3D, 0xD8}, "\xEF\xBF\xBD"},
        {{0xFF, 0xFE, 0xFF, 0xFF, 0x01, 0x00, 'a', 0x00}, "a"},
    };
    for (const auto& c : cases) {
        ArchiveReader r(c.stored);
        std::string text;
        ASSERT_TRUE(r.ReadString(text)) << r.Error();
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(r.Remaining(), 0u);
    }
}

TEST(Archive, ObjectNumbersAndClassTags) {
    // One counter per file: class records and objects each take the next
    // number, the class first.
    ArchiveWriter w;
    w.WriteObjectTag("CFTPSiteFolder", 1); // class 1, object 2
    w.WriteObjectTag("CFTPSiteFolder", 1); // object 3
    w.WriteObjectTag("CFTPSite", 2);       // class 4, object 5
    w.WriteObjectTag("CFTPSite", 2);       // object 6
    const Bytes expected = ByteBuilder()
                               .U16(0xFFFF)
                               .U16(1)
                               .U16(14)
                               .Raw("CFTPSiteFolder")
                               .U16(0x8001)
                               .U16(0xFFFF)
                               .U16(2)
                               .U16(8)
                               .Raw("CFTPSite")
                               .U16(0x8004)
                               .Get();
    EXPECT_EQ(w.Data(), expected);

    // The reader accepts references to earlier objects (n alone, and the
    // 32-bit form) as well.
    const Bytes in = ByteBuilder()
                         .Append(expected)
                         .U16(0x0003)
                         .U16(0x7FFF)
                         .U32(0x80000004)
                         .U16(0x7FFF)
                         .U32(5)
                         .Get();
    ArchiveReader r(in);
    using Kind = ArchiveReader::ObjectTag::Kind;
    struct Want {
        Kind kind;
        const char* cls;
        std::uint16_t schema;
        std::uint32_t number;
    };
    const Want wants[] = {
        {Kind::New, "CFTPSiteFolder", 1, 2},
        {Kind::New, "CFTPSiteFolder", 1, 3},
        {Kind::New, "CFTPSite", 2, 5},
        {Kind::New, "CFTPSite", 2, 6},
        {Kind::Reference, "CFTPSiteFolder", 1, 3},
        {Kind::New, "CFTPSite", 2, 7},
        {Kind::Reference, "CFTPSite", 2, 5},
    };
    for (const auto& want : wants) {
        ArchiveReader::ObjectTag tag;
        ASSERT_TRUE(r.ReadObjectTag(tag)) << r.Error();
        EXPECT_EQ(tag.kind, want.kind);
        EXPECT_EQ(tag.className, want.cls);
        EXPECT_EQ(tag.schema, want.schema);
        EXPECT_EQ(tag.number, want.number);
    }
}

TEST(Archive, ClassNumbersPast0x7FFEUseThe32BitForm) {
    ArchiveWriter w;
    w.WriteObjectTag("CFTPSiteFolder", 1); // class 1, object 2
    for (int i = 0; i < 0x7FFC; ++i) {
        w.WriteObjectTag("CFTPSiteFolder", 1); // objects 3 .. 0x7FFE
    }
    const std::size_t before = w.Data().size();
    w.WriteObjectTag("CFTPSite", 2); // class 0x7FFF, object 0x8000
    w.WriteObjectTag("CFTPSite", 2);
    const Bytes tail(w.Data().begin() + static_cast<std::ptrdiff_t>(before) + 14, w.Data().end());
    EXPECT_EQ(tail, (Bytes{0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x80}));

    ArchiveReader r(w.Data());
    ArchiveReader::ObjectTag tag;
    while (r.Remaining() > 0) {
        ASSERT_TRUE(r.ReadObjectTag(tag)) << r.Error();
    }
    EXPECT_EQ(tag.className, "CFTPSite");
    EXPECT_EQ(tag.number, 0x8001u);
}

TEST(Archive, DamageIsOneClearFailure) {
    struct Case {
        const char* what;
        Bytes data;
        const char* error; // a part of the message
    };
    const Case cases[] = {
        {"string past the end",
         {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a'},
         "runs past the end"},
        {"wide string past the end", {0xFF, 0xFE, 0xFF, 0x10, 'a', 0}, "runs past the end"},
        {"length cut short", {0xFF, 0x10}, "ends inside"},
        {"unknown class number", {0x05, 0x80}, "unknown class number 5"},
        {"class number 0", {0x00, 0x80}, "unknown class number 0"},
        {"reference to nothing", {0x07, 0x00}, "names no earlier object"},
        {"class name cut short", {0xFF, 0xFF, 0x01, 0x00, 0x40, 0x00, 'C'}, "class name"},
    };
    for (const auto& c : cases) {
        ArchiveReader r(c.data);
        std::string s;
        ArchiveReader::ObjectTag tag;
        const bool isTag = std::string(c.what).find("class") != std::string::npos ||
                           std::string(c.what).find("reference") != std::string::npos;
        EXPECT_FALSE(isTag ? r.ReadObjectTag(tag) : r.ReadString(s)) << c.what;
        EXPECT_NE(r.Error().find(c.error), std::string::npos) << c.what << ": " << r.Error();
        // After a fault nothing more is read, and the first message stays.
        const std::string first = r.Error();
        std::uint32_t v = 0;
        EXPECT_FALSE(r.ReadU32(v));
        EXPECT_EQ(r.Error(), first);
    }

    // A count that the rest of the file cannot hold fails before anything
    // is allocated.
    const Bytes huge = ByteBuilder().U16(0xFFFF).U32(0xFFFFFFFF).U8(0).Get();
    ArchiveReader r(huge);
    std::vector<std::string> list;
    EXPECT_FALSE(r.ReadStringList(list));
    EXPECT_NE(r.Error().find("4294967295"), std::string::npos) << r.Error();
}

} // namespace
} // namespace qb
