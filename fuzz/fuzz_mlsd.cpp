// MLSD listings (RFC 3659) as a server may send them: whole listings and
// single lines, facts of any length and value.
#include "engine/listing_parser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckEntries(const qb::CFTPFileArray& entries, bool files) {
    for (std::size_t i = 0; i < entries.GetSize(); ++i) {
        const qb::CFTPFile& entry = *entries.GetAt(i);
        const std::string& name = entry.m_strName;
        Check(!name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos);
        Check(name.find_first_of("\r\n") == std::string::npos);
        Check(entry.m_bFile == files);
        Check(entry.m_nSize <= qb::kMaxListedSize || entry.m_nSize == qb::kUnknownSize);
        Check(files ? entry.m_strLink.empty() : true);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view listing(reinterpret_cast<const char*>(data), size);
    const qb::ListingContext context{"/home/u", "pub", 1733400000}; // 5 December 2024

    qb::CFTPFolderContent content(qb::CFTPFile("pub", qb::SiteRef{}, false));
    Check(qb::ParseListingText(qb::kMlsdListing, listing, context, content) ==
          qb::ListingParse::Done);
    CheckEntries(content.GetFiles(), true);
    CheckEntries(content.GetFolders(), false);

    qb::CFTPFolderContent single(qb::CFTPFile("", qb::SiteRef{}, false));
    const bool added = qb::ParseMlsdLine(listing, context, single);
    Check(added == (single.GetFiles().GetSize() + single.GetFolders().GetSize() == 1));
    return 0;
}
