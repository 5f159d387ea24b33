#include "engine/item_text.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace qb {

std::size_t TextBlockSize(std::size_t length) {
    return CFTPText::kHeader + length + 1;
}

void FillTextBlock(char* block, std::string_view text) {
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(block, &length, CFTPText::kHeader);
    if (!text.empty()) {
        std::memcpy(block + CFTPText::kHeader, text.data(), text.size());
    }
    block[CFTPText::kHeader + text.size()] = '\0';
}

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

void CFTPText::Assign(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("item text too long");
    }
    char* block = nullptr;
    if (!text.empty()) {
        block = new char[TextBlockSize(text.size())];
        FillTextBlock(block, text);
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
    const std::size_t size = (TextBlockSize(text.size()) + 3) & ~std::size_t{3};
    char* block = nullptr;
    if (size > kChunk / 4) {
        // A long text gets a chunk of its own; the current one stays open.
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size));
        block = m_chunks.back().get();
    } else {
        if (size > m_left) {
            m_chunks.push_back(std::make_unique_for_overwrite<char[]>(kChunk));
            m_open = m_chunks.back().get();
            m_next = m_open;
            m_left = kChunk;
        }
        block = m_next;
        m_next += size;
        m_left -= size;
    }
    FillTextBlock(block, text);
    target.m_p =
        reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(block) | CFTPText::kBorrowed);
}

void CFTPTextArena::Reuse() {
    std::unique_ptr<char[]> open;
    for (auto& chunk : m_chunks) {
        if (chunk.get() == m_open) {
            open = std::move(chunk);
        }
    }
    m_chunks.clear();
    m_next = m_open;
    m_left = open ? kChunk : 0;
    if (open) {
        m_chunks.push_back(std::move(open));
    }
}

} // namespace qb
