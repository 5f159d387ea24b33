// The archive layout of the profile file: length-prefixed strings, counted
// lists and class-tagged object records, little-endian throughout.
//
// The writer builds the whole file in memory; the reader works on a buffer
// that holds the whole file. The reader trusts nothing: every length and
// count is checked against the bytes that remain before anything is
// allocated, and the first fault stops it with one message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// Text in the archive is UTF-8 when written. Read text that is not valid
// UTF-8 is taken as Windows-1252 and converted.
bool IsValidUtf8(std::string_view bytes);
std::string DecodeArchiveText(std::string_view bytes);

class ArchiveWriter {
public:
    void WriteU8(std::uint8_t value);
    void WriteU16(std::uint16_t value);
    void WriteU32(std::uint32_t value);
    void WriteI32(std::int32_t value);
    // A 32-bit boolean: 1 or 0.
    void WriteBool(bool value) { WriteU32(value ? 1 : 0); }
    // One byte of length below 255; 0xFF and 16 bits below 0xFFFE; else
    // 0xFF 0xFFFF and 32 bits. False (nothing written) past 32 bits.
    bool WriteString(std::string_view bytes);
    // 16 bits below 0xFFFF, else 0xFFFF and 32 bits.
    void WriteCount(std::uint32_t count);
    bool WriteStringList(const std::vector<std::string>& list);
    // 32-bit seconds; times outside 1970..2106 are clamped.
    void WriteTime(std::time_t t);
    // Opens an object record of `className`: the class record the first time
    // the class appears in this archive, its class tag afterwards. The class
    // record and then the object each take the next number. The caller
    // writes the object's body next.
    void WriteObjectTag(std::string_view className, std::uint16_t schema);

    const std::vector<std::uint8_t>& Data() const { return m_data; }

private:
    struct ClassEntry {
        std::string name;
        std::uint32_t number;
    };
    std::vector<std::uint8_t> m_data;
    std::vector<ClassEntry> m_classes;
    std::uint32_t m_nextNumber = 1;
};

class ArchiveReader {
public:
    // What an object reference turned out to be.
    struct ObjectTag {
        enum class Kind { Null, New, Reference };
        Kind kind = Kind::Null;
        // New: the class and schema of the object whose body follows.
        // Reference: the class of the earlier object.
        std::string className;
        std::uint16_t schema = 0;
        // New: the number the object has just taken. Reference: the number
        // of the earlier object.
        std::uint32_t number = 0;
    };

    explicit ArchiveReader(std::span<const std::uint8_t> data) : m_data(data) {}

    bool ReadU8(std::uint8_t& out);
    bool ReadU16(std::uint16_t& out);
    bool ReadU32(std::uint32_t& out);
    bool ReadI32(std::int32_t& out);
    bool ReadBool(bool& out);
    // The stored bytes of a string; a string of 16-bit characters comes back
    // as UTF-8.
    bool ReadRawString(std::string& out);
    // A string as text (see DecodeArchiveText).
    bool ReadString(std::string& out);
    // A count whose elements take at least `minElementBytes` each: a count
    // that the rest of the file cannot hold is a fault.
    bool ReadCount(std::uint32_t& out, std::size_t minElementBytes);
    bool ReadStringList(std::vector<std::string>& out);
    bool ReadTime(std::time_t& out);
    bool ReadObjectTag(ObjectTag& out);

    // Records the first fault (later ones are dropped) and returns false.
    bool Fail(std::string message);
    bool Failed() const { return m_failed; }
    const std::string& Error() const { return m_error; }
    std::size_t Offset() const { return m_pos; }
    std::size_t Remaining() const { return m_data.size() - m_pos; }
    std::size_t Size() const { return m_data.size(); }

private:
    bool Need(std::size_t bytes, const char* what);
    bool ReadLength(std::uint32_t& out, bool& wide);
    bool LookUpClass(std::uint32_t number, ObjectTag& out);

    // A number of the archive: a class record or an object of some class.
    struct NumberEntry {
        bool isClass;
        std::uint32_t classIndex;
    };
    struct ClassEntry {
        std::string name;
        std::uint16_t schema;
    };

    std::span<const std::uint8_t> m_data;
    std::size_t m_pos = 0;
    bool m_failed = false;
    std::string m_error;
    std::vector<ClassEntry> m_classes;
    std::vector<NumberEntry> m_numbers; // index = number - 1
};

} // namespace qb
