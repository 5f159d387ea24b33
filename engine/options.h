// The settings of one connection and the engine's tunables, as front ends
// give them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qb {

// Tunables of the engine that the front end or tests may change.
struct EngineOptions {
    // A connect that fails while waiting for the welcome or the reply to
    // "USER" starts over after this pause, doubled each time up to the cap.
    std::chrono::milliseconds restartFirstDelay{1000};
    std::chrono::milliseconds restartMaxDelay{30000};
    // How many times a connect is tried in all before it fails (0: until it
    // gets through or is stopped).
    unsigned maxConnectAttempts = 0;
    // How long a transfer that sent "ABOR" waits for the server's answer.
    std::chrono::milliseconds abortWaitLimit{10000};
    // How long the server may stay silent while an answer is awaited: a
    // reply, the data of a transfer, or the completion of a connect. 0:
    // for ever.
    std::chrono::milliseconds replyTimeout{60000};
    // A folder listing beyond either bound fails instead of exhausting
    // memory.
    std::size_t maxListingEntries = 2'000'000;
    std::size_t maxListingBytes = std::size_t{512} << 20;
    // An upload first looks for a file of its name on the server ("SIZE",
    // or the folder's listing) and, when one is there, asks the overwrite
    // question (skip, overwrite, or resume after the server's size) as a
    // download does for a local file. Off: uploads replace what is there.
    bool checkUploadTarget = false;
    // A downloaded file takes the modification time its source has in the
    // server's listing (when the listing gave one).
    bool preserveDownloadTime = false;
    // A connect ends with the listing of the login folder (the window shows
    // it at once). Off: the connect ends after "PWD", and the login folder is
    // listed only when asked for.
    bool listLoginFolder = true;
    // A connect asks whether the server resumes transfers ("TYPE I", then
    // "REST 100"), for the resume choice of the overwrite question. Off, for
    // a session that copies no file: not asked (three round trips fewer),
    // and a resume is not offered.
    bool probeResume = true;
};

// Proxy, data connection and protocol settings of one connection.
struct FirewallSettings {
    bool enabled = false;
    std::uint16_t type = 1; // 1 to 5; 5 = direct login, passive data
    std::string proxyHost;
    std::uint32_t proxyPort = 21;
    std::string proxyUser;
    std::string proxyPassword;
    // "EPSV" before "PASV" (passive), "EPRT" when "PORT" is refused
    // (active). Over IPv6 "EPRT" is used whatever this says: "PORT" cannot
    // carry the address.
    bool extendedData = true;
    // "FEAT" after login; "MLSD" listings and UTF-8 names when the server
    // offers them.
    bool features = true;
    // "LIST -a" on UNIX servers without "MLSD", so that dot-files are
    // listed.
    bool listHidden = true;

    // TLS (FTPS). IfAvailable: "AUTH TLS", plain text when the server
    // refuses it; Explicit: the same, refused means failed; Implicit: TLS
    // from the first byte (port 990 as a rule).
    enum class Tls : std::uint8_t { None, IfAvailable, Explicit, Implicit };
    Tls tls = Tls::None;
    // Trust these certificates (a PEM file) instead of the system's.
    std::string caFile;
    // A certificate that does not verify is taken without asking.
    bool acceptAnyCertificate = false;
    // The SHA-256 fingerprint ("AB:CD:...") of a certificate the user has
    // accepted for good for this site: taken without asking; a different
    // one asks again, with a warning.
    std::string keptFingerprint;
};

// Settings that speak plain RFC 959 only: no "EPSV"/"EPRT", "FEAT",
// "MLSD" or "LIST -a" (servers that take any of them badly).
inline FirewallSettings ClassicFtp(FirewallSettings settings = {}) {
    settings.extendedData = false;
    settings.features = false;
    settings.listHidden = false;
    return settings;
}

} // namespace qb
