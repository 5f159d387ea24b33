// The program's own clipboard (the desktop's clipboard is never used): the
// paths of what was cut or copied, sorted by item kind, whether it was cut,
// and, while a paste runs, the paste target. The window keeps two: the
// user's (Cut, Copy, Paste) and a scratch one that Delete and the drop menu
// fill for one operation only.
//
// Paths are node paths: local items by their full path, remote items as the
// labels of their site folders and site joined with the remote path, sites
// and site folders by the labels down to them. Being paths, entries outlive
// refreshes; an entry whose item has gone is refused or fails when carried
// out.
#pragma once

#include "engine/ftp_file.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace qb::ui {

class CFTPClipboard {
public:
    // The lists, in the order a transfer walk takes them.
    enum List : int {
        LOCAL_FILES,
        LOCAL_FOLDERS,
        REMOTE_FILES,
        REMOTE_FOLDERS,
        SITE_FOLDERS,
        SITES,
        LIST_COUNT
    };

    // One step of a walk.
    enum class Step { Record, End, Stop };

    // The record of a remote entry (its site's connection and the path on
    // the server); nothing when its site is not connected.
    using ResolveRemote =
        std::function<std::optional<CFTPFile>(const std::string& path, bool isFile)>;
    // An entry cannot go to the target: true skips it (OK), false stops
    // the whole operation (Cancel).
    using SkipRefused = std::function<bool(const std::string& entryPath)>;

    // Adds a path under the list of a view item kind; other kinds are not
    // taken (false).
    bool Add(std::uint16_t kind, std::string path);
    void Clear();

    bool IsEmpty() const { return Count() == 0; }
    std::size_t Count() const;
    bool IsLocalContent() const;
    bool IsRemoteContent() const;
    bool IsSiteContent() const;
    const std::vector<std::string>& Entries(List list) const { return m_lists[list]; }
    bool Contains(std::uint16_t kind, const std::string& path) const;
    // The names of the entries (any kind) directly inside `folder`.
    std::unordered_set<std::string> NamesIn(const std::string& folder) const;

    // What a confirmation names: the single entry's path, "N items in
    // FOLDER", or "Unknown Item" when empty.
    std::string Describe() const;

    // ---- Cut ----
    bool IsCut() const { return m_bCut; }
    // `fromTree`: the cut node is the tree's (else the list's rows).
    void SetCut(bool cut, bool fromTree);
    bool IsCutFromTree() const { return m_bCutFromTree; }

    // ---- Walks ----
    bool IsDelete() const { return m_bDelete; }
    void SetDelete(bool on) { m_bDelete = on; }
    void ResetPositions() { m_positions.fill(0); }
    // The paste target, stored once the paste is confirmed.
    void SetTarget(std::uint16_t kind, std::string path, std::optional<CFTPFile> record);
    std::uint16_t TargetKind() const { return m_wTargetKind; }
    const std::string& TargetPath() const { return m_strTargetPath; }
    const std::optional<CFTPFile>& TargetRecord() const { return m_target; }

    // The next record of the walk over local files, local folders, remote
    // files and remote folders. With the delete flag every entry is taken
    // (a remote entry whose site is gone ends the walk); otherwise entries
    // that cannot go to the target are offered to `skip`.
    Step Next(CFTPFile& record, const ResolveRemote& resolve, const SkipRefused& skip);

    // The folder part of a path (up to the last "/"); "/" for an item
    // directly in the local root, "" for a path without "/".
    static std::string FolderOf(const std::string& path);
    // The text after the last "/" (the whole path without one).
    static std::string NameOf(const std::string& path);
    // A folder path joined with a name ("" gives the name alone).
    static std::string Join(const std::string& folder, const std::string& name);

private:
    bool Refused(List list, const std::string& path, const std::optional<CFTPFile>& record) const;

    std::array<std::vector<std::string>, LIST_COUNT> m_lists;
    std::array<std::size_t, LIST_COUNT> m_positions{};
    bool m_bCut = false;
    bool m_bCutFromTree = false;
    bool m_bDelete = false;
    std::uint16_t m_wTargetKind = 0;
    std::string m_strTargetPath;
    std::optional<CFTPFile> m_target;
};

} // namespace qb::ui
