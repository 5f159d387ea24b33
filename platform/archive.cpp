#include "platform/archive.h"

#include <limits>

namespace qb {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 bytes 0x80..0x9F; the five holes map to the C1 control of
// the same value.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::uint32_t kReplacement = 0xFFFD;

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        std::uint32_t cp = 0;
        std::uint32_t min = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            return false;
        }
        if (n - i < len) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

std::string DecodeArchiveText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c < 0xA0) {
            AppendUtf8(out, kCp1252High[c - 0x80]);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Writer

void ArchiveWriter::WriteU8(std::uint8_t value) {
    m_data.push_back(value);
}

void ArchiveWriter::WriteU16(std::uint16_t value) {
    m_data.push_back(static_cast<std::uint8_t>(value & 0xFF));
    m_data.push_back(static_cast<std::uint8_t>(value >> 8));
}

void ArchiveWriter::WriteU32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        m_data.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
    }
}

void ArchiveWriter::WriteI32(std::int32_t value) {
    WriteU32(static_cast<std::uint32_t>(value));
}

bool ArchiveWriter::WriteString(std::string_view bytes) {
    const std::size_t len = bytes.size();
    if (len > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    if (len < 0xFF) {
        WriteU8(static_cast<std::uint8_t>(len));
    } else if (len < 0xFFFE) {
        WriteU8(0xFF);
        WriteU16(static_cast<std::uint16_t>(len));
    } else {
        WriteU8(0xFF);
        WriteU16(0xFFFF);
        WriteU32(static_cast<std::uint32_t>(len));
    }
    m_data.insert(m_data.end(), bytes.begin(), bytes.end());
    return true;
}

void ArchiveWriter::WriteCount(std::uint32_t count) {
    if (count < 0xFFFF) {
        WriteU16(static_cast<std::uint16_t>(count));
    } else {
        WriteU16(0xFFFF);
        WriteU32(count);
    }
}

bool ArchiveWriter::WriteStringList(const std::vector<std::string>& list) {
    if (list.size() > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    WriteCount(static_cast<std::uint32_t>(list.size()));
    for (const auto& s : list) {
        if (!WriteString(s)) {
            return false;
        }
    }
    return true;
}

void ArchiveWriter::WriteTime(std::time_t t) {
    constexpr std::time_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (t < 0) {
        t = 0;
    } else if (t > kMax) {
        t = kMax;
    }
    WriteU32(static_cast<std::uint32_t>(t));
}

void ArchiveWriter::WriteObjectTag(std::string_view className, std::uint16_t schema) {
    for (const auto& entry : m_classes) {
        if (entry.name == className) {
            if (entry.number < 0x7FFF) {
                WriteU16(static_cast<std::uint16_t>(0x8000 | entry.number));
            } else {
                WriteU16(0x7FFF);
                WriteU32(0x80000000u | entry.number);
            }
            ++m_nextNumber; // the object
            return;
        }
    }
    WriteU16(0xFFFF);
    WriteU16(schema);
    WriteU16(static_cast<std::uint16_t>(className.size()));
    m_data.insert(m_data.end(), className.begin(), className.end());
    m_classes.push_back({std::string(className), m_nextNumber});
    m_nextNumber += 2; // the class record, then the object
}

// ---------------------------------------------------------------------------
// Reader

bool ArchiveReader::Fail(std::string message) {
    if (!m_failed) {
        m_failed = true;
        m_error = std::move(message);
    }
    return false;
}

bool ArchiveReader::Need(std::size_t bytes, const char* what) {
    if (m_failed) {
        return false;
    }
    if (bytes > Remaining()) {
        return Fail(std::string("the file ends inside ") + what + " at byte " +
                    std::to_string(m_pos));
    }
    return true;
}

bool ArchiveReader::ReadU8(std::uint8_t& out) {
    if (!Need(1, "a number")) {
        return false;
    }
    out = m_data[m_pos++];
    return true;
}

bool ArchiveReader::ReadU16(std::uint16_t& out) {
    if (!Need(2, "a number")) {
        return false;
    }
    out = static_cast<std::uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
    m_pos += 2;
    return true;
}

bool ArchiveReader::ReadU32(std::uint32_t& out) {
    if (!Need(4, "a number")) {
        return false;
    }
    out = 0;
    for (int k = 3; k >= 0; --k) {
        out = (out << 8) | m_data[m_pos + static_cast<std::size_t>(k)];
    }
    m_pos += 4;
    return true;
}

bool ArchiveReader::ReadI32(std::int32_t& out) {
    std::uint32_t v = 0;
    if (!ReadU32(v)) {
        return false;
    }
    out = static_cast<std::int32_t>(v);
    return true;
}

bool ArchiveReader::ReadBool(bool& out) {
    std::uint32_t v = 0;
    if (!ReadU32(v)) {
        return false;
    }
    out = v != 0;
    return true;
}

bool ArchiveReader::ReadLength(std::uint32_t& out, bool& wide) {
    wide = false;
    std::uint8_t b = 0;
    if (!ReadU8(b)) {
        return false;
    }
    if (b < 0xFF) {
        out = b;
        return true;
    }
    std::uint16_t w = 0;
    if (!ReadU16(w)) {
        return false;
    }
    if (w == 0xFFFE) {
        // A string of 16-bit characters: its own length follows.
        wide = true;
        if (!ReadU8(b)) {
            return false;
        }
        if (b < 0xFF) {
            out = b;
            return true;
        }
        if (!ReadU16(w)) {
            return false;
        }
    }
    if (w < 0xFFFF) {
        out = w;
        return true;
    }
    return ReadU32(out);
}

bool ArchiveReader::ReadRawString(std::string& out) {
    const std::size_t start = m_pos;
    std::uint32_t len = 0;
    bool wide = false;
    if (!ReadLength(len, wide)) {
        return false;
    }
    const std::uint64_t bytes = wide ? std::uint64_t{len} * 2 : len;
    if (bytes > Remaining()) {
        return Fail("a string of " + std::to_string(len) + " characters at byte " +
                    std::to_string(start) + " runs past the end of the file");
    }
    const auto* p = m_data.data() + m_pos;
    m_pos += static_cast<std::size_t>(bytes);
    out.clear();
    if (!wide) {
        out.assign(reinterpret_cast<const char*>(p), len);
        return true;
    }
    out.reserve(len);
    for (std::uint32_t i = 0; i < len; ++i) {
        std::uint32_t unit = p[2 * i] | (p[2 * i + 1] << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < len) {
            std::uint32_t low = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? kReplacement : unit);
    }
    return true;
}

bool ArchiveReader::ReadString(std::string& out) {
    if (!ReadRawString(out)) {
        return false;
    }
    if (!IsValidUtf8(out)) {
        out = DecodeArchiveText(out);
    }
    return true;
}

bool ArchiveReader::ReadCount(std::uint32_t& out, std::size_t minElementBytes) {
    const std::size_t start = m_pos;
    std::uint16_t w = 0;
    if (!ReadU16(w)) {
        return false;
    }
    if (w < 0xFFFF) {
        out = w;
    } else if (!ReadU32(out)) {
        return false;
    }
    if (std::uint64_t{out} * minElementBytes > Remaining()) {
        return Fail("the count " + std::to_string(out) + " at byte " + std::to_string(start) +
                    " is more than the rest of the file holds");
    }
    return true;
}

bool ArchiveReader::ReadStringList(std::vector<std::string>& out) {
    std::uint32_t count = 0;
    if (!ReadCount(count, 1)) {
        return false;
    }
    out.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string s;
        if (!ReadString(s)) {
            return false;
        }
        out.push_back(std::move(s));
    }
    return true;
}

bool ArchiveReader::ReadTime(std::time_t& out) {
    std::uint32_t v = 0;
    if (!ReadU32(v)) {
        return false;
    }
    out = static_cast<std::time_t>(v);
    return true;
}

bool ArchiveReader::LookUpClass(std::uint32_t number, ObjectTag& out) {
    if (number == 0 || number > m_numbers.size() || !m_numbers[number - 1].isClass) {
        return Fail("unknown class number " + std::to_string(number) + " before byte " +
                    std::to_string(m_pos));
    }
    const ClassEntry& cls = m_classes[m_numbers[number - 1].classIndex];
    out.className = cls.name;
    out.schema = cls.schema;
    return true;
}

bool ArchiveReader::ReadObjectTag(ObjectTag& out) {
    const std::size_t start = m_pos;
    out = ObjectTag{};
    std::uint16_t tag = 0;
    if (!ReadU16(tag)) {
        return false;
    }
    if (tag == 0) {
        out.kind = ObjectTag::Kind::Null;
        return true;
    }
    if (tag == 0xFFFF) {
        std::uint16_t schema = 0;
        std::uint16_t nameLen = 0;
        if (!ReadU16(schema) || !ReadU16(nameLen) || !Need(nameLen, "a class name")) {
            return false;
        }
        std::string name(reinterpret_cast<const char*>(m_data.data() + m_pos), nameLen);
        m_pos += nameLen;
        m_classes.push_back({name, schema});
        m_numbers.push_back({true, static_cast<std::uint32_t>(m_classes.size() - 1)});
        m_numbers.push_back({false, static_cast<std::uint32_t>(m_classes.size() - 1)});
        out.kind = ObjectTag::Kind::New;
        out.className = std::move(name);
        out.schema = schema;
        out.number = static_cast<std::uint32_t>(m_numbers.size());
        return true;
    }
    bool classTag = false;
    std::uint32_t number = 0;
    if (tag == 0x7FFF) {
        std::uint32_t big = 0;
        if (!ReadU32(big)) {
            return false;
        }
        classTag = (big & 0x80000000u) != 0;
        number = big & 0x7FFFFFFFu;
    } else if ((tag & 0x8000) != 0) {
        classTag = true;
        number = tag & 0x7FFFu;
    } else {
        number = tag;
    }
    if (classTag) {
        if (!LookUpClass(number, out)) {
            return false;
        }
        m_numbers.push_back({false, m_numbers[number - 1].classIndex});
        out.kind = ObjectTag::Kind::New;
        out.number = static_cast<std::uint32_t>(m_numbers.size());
        return true;
    }
    if (number == 0 || number > m_numbers.size() || m_numbers[number - 1].isClass) {
        return Fail("a reference at byte " + std::to_string(start) + " names no earlier object (" +
                    std::to_string(number) + ")");
    }
    const ClassEntry& cls = m_classes[m_numbers[number - 1].classIndex];
    out.kind = ObjectTag::Kind::Reference;
    out.className = cls.name;
    out.schema = cls.schema;
    out.number = number;
    return true;
}

} // namespace qb
