// The texts of a remote item (name, link target, host): one pointer wide, so
// that a listing of a million entries stays small. The bytes live in a block
// of their own, or in the text arena of the array that holds the item; a copy
// or a move out of the array always takes its own block, so no text outlives
// the arena it points into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class CFTPTextArena;

class CFTPText {
public:
    static constexpr std::size_t npos = std::string_view::npos;

    CFTPText() = default;
    explicit CFTPText(std::string_view text) { Assign(text); }
    CFTPText(const CFTPText& other) { Assign(other.view()); }
    // A text borrowed from an arena is copied (it must not leave its array).
    CFTPText(CFTPText&& other) noexcept(false);
    CFTPText& operator=(const CFTPText& other);
    CFTPText& operator=(CFTPText&& other) noexcept(false);
    CFTPText& operator=(std::string_view text);
    ~CFTPText() { Release(); }

    std::string_view view() const {
        return m_p ? std::string_view(Block() + kHeader, size()) : std::string_view();
    }
    operator std::string_view() const { return view(); }
    operator std::string() const { return std::string(view()); }
    std::string str() const { return std::string(view()); }

    bool empty() const { return m_p == nullptr; }
    std::size_t size() const {
        if (!m_p) {
            return 0;
        }
        std::uint32_t length = 0;
        std::memcpy(&length, Block(), kHeader);
        return length;
    }
    std::size_t length() const { return size(); }
    const char* data() const { return m_p ? Block() + kHeader : ""; }
    const char* c_str() const { return data(); }

    std::size_t find(std::string_view part, std::size_t pos = 0) const {
        return view().find(part, pos);
    }
    std::size_t find(char c, std::size_t pos = 0) const { return view().find(c, pos); }
    std::size_t rfind(char c, std::size_t pos = npos) const { return view().rfind(c, pos); }
    std::string substr(std::size_t pos, std::size_t count = npos) const {
        return std::string(view().substr(pos, count));
    }
    void clear() { Release(); }

    friend bool operator==(const CFTPText& a, const CFTPText& b) { return a.view() == b.view(); }
    friend bool operator==(const CFTPText& a, std::string_view b) { return a.view() == b; }
    friend bool operator==(const CFTPText& a, const char* b) { return a.view() == b; }
    friend bool operator==(const CFTPText& a, const std::string& b) { return a.view() == b; }
    friend std::string operator+(std::string a, const CFTPText& b) { return a.append(b.view()); }
    friend std::ostream& operator<<(std::ostream& out, const CFTPText& text) {
        return out << text.view();
    }

private:
    friend class CFTPTextArena;

    // The block: the size as 4 bytes, the bytes, a NUL. The lowest bit of the
    // pointer marks a block borrowed from an arena.
    static constexpr std::uintptr_t kBorrowed = 1;
    static constexpr std::size_t kHeader = sizeof(std::uint32_t);

    friend std::size_t TextBlockSize(std::size_t length);
    friend void FillTextBlock(char* block, std::string_view text);

    bool IsBorrowed() const { return (reinterpret_cast<std::uintptr_t>(m_p) & kBorrowed) != 0; }
    const char* Block() const {
        return reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(m_p) & ~kBorrowed);
    }
    void Assign(std::string_view text);
    void Release();

    char* m_p = nullptr;
};

// The block of a text: its size, for `length` bytes, and filled with `text`.
std::size_t TextBlockSize(std::size_t length);
void FillTextBlock(char* block, std::string_view text);

// Blocks for the texts of many items, freed together.
class CFTPTextArena {
public:
    CFTPTextArena() = default;
    CFTPTextArena(const CFTPTextArena&) = delete;
    CFTPTextArena& operator=(const CFTPTextArena&) = delete;

    // Sets `target` to a text whose bytes live here: for items that stay in
    // the array that owns this arena.
    void Store(CFTPText& target, std::string_view text);
    // Forgets every text stored so far (they must all be gone) and keeps the
    // open chunk for the next ones.
    void Reuse();

private:
    static constexpr std::size_t kChunk = 256 * 1024;

    std::vector<std::unique_ptr<char[]>> m_chunks;
    char* m_open = nullptr; // the chunk short texts go into
    char* m_next = nullptr;
    std::size_t m_left = 0;
};

} // namespace qb
