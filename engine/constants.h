// Constants shared by the FTP engine and the dispatch layer.
#pragma once

#include "platform/types.h"

#include <cstdint>

namespace qb {

struct CFTPConstants {
    // Command codes; the value selects the verb that is sent.
    enum Command : int {
        CMD_USER = 0,
        CMD_PASS = 1,
        CMD_PWD = 2,
        CMD_CWD = 3,
        CMD_CDUP = 4,
        CMD_QUIT = 5,
        CMD_PORT = 6,
        CMD_TYPE = 7,
        CMD_RETR = 8,
        CMD_STOR = 9,
        CMD_RNFR = 10,
        CMD_RNTO = 11,
        CMD_ABOR = 12,
        CMD_DELE = 13,
        CMD_RMD = 14,
        CMD_MKD = 15,
        CMD_LIST = 16,
        CMD_OPEN = 17,
        CMD_SITE = 18,
        CMD_CWD_AS_GIVEN = 19,
        CMD_REST = 20,
        CMD_SYST = 21,
        CMD_PASV = 22,
        CMD_SIZE = 23,
        CMD_NOOP = 24,
        CMD_EPSV = 25,
        CMD_EPRT = 26,
        CMD_FEAT = 27,
        CMD_MLSD = 28,
        CMD_OPTS = 29,
        CMD_LIST_ALL = 30, // "LIST -a": hidden entries too
        CMD_AUTH = 31,
        CMD_PBSZ = 32,
        CMD_PROT = 33,
        CMD_APPE = 34,
        CMD_MDTM = 35,
        CMD_COUNT = 36,
    };

    // Server types learned from "SYST" at login.
    enum ServerType : int {
        SERVER_UNIX = 0,      // not identified: listed as UNIX
        SERVER_UNIX_SYST = 1, // "SYST" said UNIX
        SERVER_UNSUPPORTED_2 = 2,
        SERVER_UNSUPPORTED_3 = 3,
        SERVER_MACOS_PETER = 4,
        SERVER_UNSUPPORTED_5 = 5,
        SERVER_UNSUPPORTED_6 = 6,
        SERVER_UNSUPPORTED_7 = 7,
        SERVER_VMS = 8,
        SERVER_NT = 9,
        SERVER_MACOS_WEBSTAR = 10,
    };

    // Action kinds (8 is not used).
    enum ActionKind : std::uint16_t {
        KIND_CONNECT = 1,
        KIND_DIR = 2,
        KIND_CD = 3,
        KIND_MD = 4,
        KIND_DEL = 5,
        KIND_REN = 6,
        KIND_COPY = 7,
        KIND_CDMD = 9,
        KIND_MDCD = 10,
    };

    // Action results.
    enum ActionResult : std::uint16_t {
        RESULT_OK = 0,
        RESULT_FAILED = 3,
        RESULT_CONNECT_6 = 6,
        RESULT_CONNECT_7 = 7,
    };

    static constexpr std::uint16_t STEP_DONE = 100;

    // Copy kinds; MOVE is added to one of the four.
    enum CopyKind : std::uint32_t {
        COPY_UPLOAD = 1,
        COPY_DOWNLOAD = 2,
        COPY_SAME_SITE = 4,
        COPY_SITE_TO_SITE = 8,
        COPY_MOVE = 16,
    };

    // Answers to the overwrite question (also the "for all files" answers).
    enum Replace : std::uint8_t {
        REPLACE_NONE = 0,
        REPLACE_OVERWRITE = 1,
        REPLACE_RESUME = 2,
        REPLACE_SKIP = 3,
    };

    // Messages of a connection thread.
    static constexpr std::uint32_t RMM_QUIT = WM_USER;
    static constexpr std::uint32_t RMM_NEXT = WM_USER + 1;
    static constexpr std::uint32_t RMM_REPLY = WM_USER + 2;
    // A wait for the answer to "ABOR" has lasted long enough.
    static constexpr std::uint32_t RMM_ABORT_WAIT_OVER = WM_USER + 3;
    // The server may have been silent for too long while a reply is awaited.
    static constexpr std::uint32_t RMM_REPLY_TIMEOUT = WM_USER + 4;

    // Messages of the manager thread.
    static constexpr std::uint32_t MM_QUIT = WM_USER;
    static constexpr std::uint32_t MM_END_CONNECTION = WM_USER + 3;
    static constexpr std::uint32_t MM_STOP_OPERATION = WM_USER + 4;
    static constexpr std::uint32_t MM_CONNECTION_LOST = WM_USER + 5;
    // A connection's thread has ended: its object can be destroyed.
    static constexpr std::uint32_t MM_CONNECTION_ENDED = WM_USER + 6;

    // The busy code while a link target named by its full path is viewed:
    // "RETR" then sends its argument unchanged.
    static constexpr int kBusyViewLinkTarget = 11;

    // A reply code from 200 to 399 is positive.
    static constexpr bool IsPositiveReply(unsigned code) { return code >= 200 && code <= 399; }
};

} // namespace qb
