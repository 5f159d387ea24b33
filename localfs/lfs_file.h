// One item of a local copy, move or delete, and an ordered list of them.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <utility>

namespace qb {

class CLFSFile {
public:
    enum Kind : std::int32_t {
        KIND_FOLDER = 0,
        KIND_FILE = 1, // any value but 0 is a file
    };

    CLFSFile() = default;
    CLFSFile(std::string path, std::int32_t kind, std::time_t modified = 0, FileSize size = 0)
        : m_nKind(kind), m_strPath(std::move(path)), m_timeModified(modified), m_nSize(size) {}

    bool IsFolder() const { return m_nKind == KIND_FOLDER; }

    // Set on a folder of a move once its content has been handled.
    bool m_bVisited = false;
    std::int32_t m_nKind = KIND_FILE;
    // Full local path.
    std::string m_strPath;
    std::time_t m_timeModified = 0;
    FileSize m_nSize = 0;
};

// An ordered list of items that owns them; taken from and added to at both
// ends.
class CLFSFileArray {
public:
    std::size_t GetSize() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }
    CLFSFile& GetAt(std::size_t index) { return m_items.at(index); }
    const CLFSFile& GetAt(std::size_t index) const { return m_items.at(index); }
    CLFSFile& Front() { return m_items.front(); }

    void Add(CLFSFile item) { m_items.push_back(std::move(item)); }
    void InsertFront(CLFSFile item) { m_items.push_front(std::move(item)); }
    // Removes the first item and hands it over. The array must not be empty.
    CLFSFile TakeFront() {
        CLFSFile item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }
    void RemoveAll() { m_items.clear(); }

private:
    std::deque<CLFSFile> m_items;
};

} // namespace qb
