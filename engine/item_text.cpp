#include "engine/item_text.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace qb {

namespace {

constexpr std::size_t kHeader = sizeof(std::uint32_t);

std::size_t BlockSize(std::size_t length) {
    return kHeader + length + 1;
}

void Fill(char* block, std::string_view text) {
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(block, &length, kHeader);
    if (!text.empty()) {
        std::memcpy(block + kHeader, text.data(), text.size());
    }
    block[kHeader + text.size()] = '\0';
}

} // namespace

CFTPText::CFTPText(CFTPText&& other) noexcept(false) {
    if (other.IsBorrowed()) {
        Assign(other.view());
        return;
    }
    m_p = other.m_p;
    other.m_p = nullptr;
}

CFTPText& CFTPText::operator=(const CFTPText& other) {
    if (this != &other) {
        Assign(other.view());
    }
    return *this;
}

CFTPText& CFTPText::operator=(CFTPText&& other) noexcept(false) {
    if (this == &other) {
        return *this;
    }
    if (other.IsBorrowed()) {
        Assign(other.view());
        return *this;
    }
    Release();
    m_p = other.m_p;
    other.m_p = nullptr;
    return *this;
}

CFTPText& CFTPText::operator=(std::string_view text) {
    Assign(text);
    return *this;
}

std::string_view CFTPText::view() const {
    if (!m_p) {
        return {};
    }
    return std::string_view(Block() + kHeader, size());
}

std::size_t CFTPText::size() const {
    if (!m_p) {
        return 0;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, Block(), kHeader);
    return length;
}

const char* CFTPText::data() const {
    return m_p ? Block() + kHeader : "";
}

void CFTPText::Assign(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("item text too long");
    }
    char* block = nullptr;
    if (!text.empty()) {
        block = new char[BlockSize(text.size())];
        Fill(block, text);
    }
    Release();
    m_p = block;
}

void CFTPText::Release() {
    if (m_p && !IsBorrowed()) {
        delete[] m_p;
    }
    m_p = nullptr;
}

void CFTPTextArena::Store(CFTPText& target, std::string_view text) {
    target.Release();
    if (text.empty()) {
        return;
    }
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("item text too long");
    }
    // Blocks start at even addresses: the lowest bit marks them borrowed.
    const std::size_t size = (BlockSize(text.size()) + 3) & ~std::size_t{3};
    char* block = nullptr;
    if (size > kChunk / 4) {
        // A long text gets a chunk of its own; the current one stays open.
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size));
        block = m_chunks.back().get();
    } else {
        if (size > m_left) {
            m_chunks.push_back(std::make_unique_for_overwrite<char[]>(kChunk));
            m_next = m_chunks.back().get();
            m_left = kChunk;
        }
        block = m_next;
        m_next += size;
        m_left -= size;
    }
    Fill(block, text);
    target.m_p =
        reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(block) | CFTPText::kBorrowed);
}

} // namespace qb
