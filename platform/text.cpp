#include "platform/text.h"

namespace qb {

std::string ShowControlChars(std::string_view text, bool keepLineBreaks) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        const bool control = byte < 0x20 || byte == 0x7F;
        if (control && !(keepLineBreaks && (ch == '\n' || ch == '\t'))) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace qb
