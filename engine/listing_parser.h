// Folder listing parsers: the raw text of "LIST" turned into the entries of a
// CFTPFolderContent. A pure layer: no threads, no sockets, no clock of its own
// ("now" is passed in).
#pragma once

#include "engine/ftp_file.h"
#include "platform/types.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qb {

// What the line parsers need besides the line itself.
struct ListingContext {
    // Absolute path of the login folder, as the server reported it.
    std::string homePath;
    // The listed folder, relative to the login folder ("" is the login folder).
    std::string workPath;
    // "Today", for listed dates that come without a year.
    std::time_t now = 0;
};

// The largest size a listing can give: larger numbers saturate here, so that
// no listed size is ever taken for kUnknownSize.
inline constexpr FileSize kMaxListedSize = kUnknownSize - 1;

// Takes the next run of non-space characters from `pos` on (only the space
// character separates). Returns false, with an empty token, when the line is
// empty or `pos` is at or past its end; the token may be empty when only
// spaces remained.
bool NextToken(std::string_view line, std::size_t& pos, std::string_view& token);

// 1 to 12 from a month name, by its first letters (any case); 1 when unknown.
int MonthFromName(std::string_view text);

// The line parsers. Each adds at most one entry to `content` and returns
// whether it did. Lines that fit no rule, and entries named "", ".", ".." or
// with a "/" in the name, add nothing.
bool ParseUnixLine(std::string_view line, const ListingContext& context,
                   CFTPFolderContent& content);
bool ParseMacLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content);
bool ParseNtLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content);
bool ParseVmsLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content);

// One line of an "MLSD" listing (RFC 3659): the type, size and modify
// facts (times in UTC); other facts are ignored, "cdir"/"pdir" entries add
// nothing.
bool ParseMlsdLine(std::string_view line, const ListingContext& context,
                   CFTPFolderContent& content);

// The "server type" ParseListingText takes for an "MLSD" listing, whatever
// the server.
inline constexpr int kMlsdListing = 1000;

// Whether a server type has a listing parser (0, 1, 4, 8, 9, kMlsdListing).
bool IsListingSupported(int serverType);

// The message shown for a server type without a parser.
std::string UnsupportedServerMessage(int serverType);

enum class ListingParse {
    Done,        // every line was read
    Stopped,     // the progress callback asked to stop; entries so far stay
    Unsupported, // no parser for the server type; nothing was read
};

// Splits a whole listing into lines (LF, CR or CR LF end a line; a last line
// without an end counts) and hands each non-empty line to the parser of the
// server type. A VMS entry whose name stands on a line of its own is joined
// with its continuation line. After each line, before it is parsed,
// `progress` (when set) gets the number of bytes read so far and may return
// false to stop.
// Reads a listing as it arrives: each line is parsed as soon as its end has
// come, an unfinished line waits for the next piece. Pieces cut anywhere give
// the entries ParseListingText gives for the whole text.
class ListingReader {
public:
    // Called after each line, before it is parsed, with the number of bytes
    // of the listing read so far; false stops the reading.
    using Progress = std::function<bool(std::uint64_t bytesRead)>;
    // Gets the entries each piece adds, in the order of their lines (a name
    // whose leading spaces depend on other lines comes at the end).
    // The views of a told entry are valid during the call.
    using Entries = std::function<void(std::span<const ListedEntry> entries)>;

    // `content` must outlive the reader.
    ListingReader(int serverType, ListingContext context, CFTPFolderContent& content);
    ~ListingReader();
    ListingReader(const ListingReader&) = delete;
    ListingReader& operator=(const ListingReader&) = delete;

    // Whether the server type has a parser; without one nothing is read.
    bool IsSupported() const;
    // Reads the lines `piece` completes. False when the reading has stopped
    // (by `progress`, or no parser): later pieces are ignored.
    bool Feed(std::string_view piece, const Progress& progress = {});
    // The listing has ended: reads a last line without an end and a VMS name
    // still waiting for its continuation.
    ListingParse Finish(const Progress& progress = {});
    // With `keep` false the told entries never stay in `content` (but for
    // names still waiting for their leading spaces): most are told straight
    // from their lines, without a record.
    void SetEntries(Entries entries, bool keep = true);
    // The entries read so far, kept or not.
    std::size_t Count() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

ListingParse ParseListingText(int serverType, std::string_view listing,
                              const ListingContext& context, CFTPFolderContent& content,
                              const std::function<bool(std::uint64_t bytesRead)>& progress = {});

} // namespace qb
