// Feeds arbitrary server text to everything that reads replies: the reply
// reader (split into pieces at points the input chooses) and the parsers of
// "PASV", "EPSV", "150", "PWD", "SYST" and "FEAT" replies.
#include "engine/machines.h"
#include "engine/sockets.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the piece size, the rest is the stream.
    const std::size_t piece = 1 + data[0] % 64;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    qb::CReplyReader reader;
    std::vector<qb::CReplyReader::Reply> replies;
    for (std::size_t at = 0; at < length; at += piece) {
        reader.Feed(text + at, std::min(piece, length - at), replies);
    }
    for (const auto& reply : replies) {
        if (reply.lines.empty() || reply.lines.size() > qb::kMaxReplyLines) {
            __builtin_trap();
        }
        for (const auto& line : reply.lines) {
            if (line.empty() || line.size() > qb::kMaxReplyLineLength) {
                __builtin_trap();
            }
        }
        std::string host;
        std::uint16_t port = 0;
        qb::ParsePasvReply(reply.lines, host, port);
        if (qb::ParseEpsvReply(reply.lines, port) && port == 0) {
            __builtin_trap();
        }
        qb::ServerFeatures(reply.lines);
        qb::ParseByteCount(reply.lines);
        std::string path;
        qb::ParsePwdReply(reply.lines.front(), path);
        qb::IdentifyServer(reply.lines);
    }
    // The single-line parsers also on the raw text.
    const std::string whole(text, length);
    std::string host;
    std::uint16_t port = 0;
    qb::ParsePasvReply({whole}, host, port);
    qb::ParseEpsvReply({whole}, port);
    qb::ParseByteCount({whole});
    std::string path;
    qb::ParsePwdReply(whole, path);
    qb::IdentifyServer({whole});
    return 0;
}
