// Whole folder listings through every parser. The first byte chooses the
// server type (types without a parser and one out of range included), the
// rest is the listing.
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
    if (size == 0) {
        return 0;
    }
    const int serverType = data[0] % 12;
    const std::string_view listing(reinterpret_cast<const char*>(data + 1), size - 1);
    const qb::ListingContext context{"/home/u", "pub", 1733400000}; // 5 December 2024

    qb::CFTPFolderContent content(qb::CFTPFile("pub", qb::SiteRef{}, false));
    std::uint64_t last = 0;
    const auto result =
        qb::ParseListingText(serverType, listing, context, content, [&](std::uint64_t bytes) {
            Check(bytes > last && bytes <= listing.size());
            last = bytes;
            return true;
        });
    Check((result == qb::ListingParse::Unsupported) == !qb::IsListingSupported(serverType));
    Check(result == qb::ListingParse::Unsupported || last == listing.size());
    CheckEntries(content.GetFiles(), true);
    CheckEntries(content.GetFolders(), false);

    // The line parsers on their own, with whatever bytes the line holds.
    qb::CFTPFolderContent single(qb::CFTPFile("", qb::SiteRef{}, false));
    qb::ParseUnixLine(listing, context, single);
    qb::ParseMacLine(listing, context, single);
    qb::ParseNtLine(listing, context, single);
    qb::ParseVmsLine(listing, context, single);
    Check(single.GetFiles().GetSize() + single.GetFolders().GetSize() <= 4);
    return 0;
}
