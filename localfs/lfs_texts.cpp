#include "localfs/lfs_texts.h"

#include <ctime>

namespace qb::lfs {

std::string FormatPath(const char* format, const std::string& path) {
    std::string text(format);
    auto pos = text.find("%s");
    if (pos != std::string::npos) {
        text.replace(pos, 2, path);
    }
    return text;
}

std::string GroupThousands(FileSize size) {
    std::string digits = std::to_string(size);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            out.push_back(',');
        }
        out.push_back(digits[i]);
    }
    return out;
}

std::array<std::string, 3> ReplaceGroupLines(const std::string& fullName, FileSize size,
                                             std::time_t modified) {
    std::string when;
    std::tm parts{};
    if (::localtime_r(&modified, &parts) != nullptr) {
        char buffer[128];
        // The locale's own date and time representation, whatever its year
        // digits.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
        std::size_t n = std::strftime(buffer, sizeof buffer, "%c", &parts);
#pragma GCC diagnostic pop
        when.assign(buffer, n);
    }
    return {fullName, kSizePrefix + GroupThousands(size) + kSizeSuffix, kModifiedPrefix + when};
}

} // namespace qb::lfs
