// Reads arbitrary bytes as a profile file. Whatever is accepted must write
// out to bytes that read back and write out the same again.
#include "profile/profile.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qb::CFTPProfile profile("/nonexistent/Quillbeck.dat");
    std::string error;
    if (!profile.Serialize(std::span<const std::uint8_t>(data, size), error)) {
        if (error.empty()) {
            std::abort(); // a failure always says why
        }
        return 0;
    }
    const std::vector<std::uint8_t> written = profile.Serialize();
    qb::CFTPProfile again("/nonexistent/Quillbeck.dat");
    if (!again.Serialize(written, error) || again.Serialize() != written) {
        std::abort();
    }
    return 0;
}
