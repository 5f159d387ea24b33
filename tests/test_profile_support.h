// Small helpers for the profile tests: hand-written byte fixtures, a byte
// builder, scripted answers and a private temporary folder.
#pragma once

#include "platform/questions.h"
#include "profile/proxy_login.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace qb::test {

using Bytes = std::vector<std::uint8_t>;

// Reads tests/data/profile/<name>: two hex digits are one byte, "text" is
// its bytes, "#" comments to the end of the line.
inline Bytes LoadHexFixture(const std::string& name) {
    std::ifstream in(std::string(QB_PROFILE_DATA) + "/" + name);
    EXPECT_TRUE(in.good()) << name;
    Bytes out;
    std::string line;
    while (std::getline(in, line)) {
        std::size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (c == '#') {
                break;
            }
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
            } else if (c == '"') {
                const auto end = line.find('"', i + 1);
                EXPECT_NE(end, std::string::npos) << name << ": " << line;
                for (std::size_t k = i + 1; k < end; ++k) {
                    out.push_back(static_cast<std::uint8_t>(line[k]));
                }
                i = end + 1;
            } else {
                out.push_back(
                    static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
                i += 2;
            }
        }
    }
    return out;
}

// Little-endian bytes put together by hand.
class ByteBuilder {
public:
    ByteBuilder& U8(unsigned v) {
        m_bytes.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    ByteBuilder& U16(unsigned v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF); }
    ByteBuilder& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    // A short string: one length byte (below 255), then the text.
    ByteBuilder& Str(const std::string& s) {
        EXPECT_LT(s.size(), 255u) << "a short string only";
        U8(static_cast<unsigned>(s.size()));
        return Raw(s);
    }
    ByteBuilder& Raw(const std::string& s) {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    ByteBuilder& Append(const Bytes& b) {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    const Bytes& Get() const { return m_bytes; }
    std::size_t Size() const { return m_bytes.size(); }

private:
    Bytes m_bytes;
};

// Answers message boxes from a script (then IDCANCEL) and records them.
class ScriptedQuestions : public IQuestions {
public:
    explicit ScriptedQuestions(std::deque<int> answers = {}) : m_answers(std::move(answers)) {}
    int MessageBox(const std::string& text, unsigned style) override {
        asked.push_back(text);
        styles.push_back(style);
        if (m_answers.empty()) {
            return IDCANCEL;
        }
        const int a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    std::vector<std::string> asked;
    std::vector<unsigned> styles;

private:
    std::deque<int> m_answers;
};

// A private folder removed with its content at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qbprofile.XXXXXX").string();
        const char* made = ::mkdtemp(tmpl.data());
        EXPECT_NE(made, nullptr);
        m_path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace qb::test
