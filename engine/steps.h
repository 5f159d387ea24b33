// The steps of every action's machine and the status text each one shows.
// This table is the only place that numbers and names them.
#pragma once

#include <cstdint>
#include <string_view>

namespace qb {

struct StepInfo {
    std::uint16_t step;
    std::string_view text; // "%s" in steps 60 and 66 takes a file name
};

enum Step : std::uint16_t {
    // connect and login
    STEP_TRY_CONNECT = 1,
    STEP_CONTACT_PROXY = 2,
    STEP_PROXY_WELCOME = 3,
    STEP_PROXY_USER = 4,
    STEP_PROXY_PASS = 5,
    STEP_CONTACT_HOST = 6,
    STEP_WELCOME = 7,
    STEP_USER = 8,
    STEP_PASS = 9,
    STEP_LOGIN_CWD = 10,
    STEP_REST_PROBE = 11,
    STEP_REST_RESET = 12,
    STEP_SYST = 13,
    STEP_PWD = 14,
    STEP_LOGIN_LIST = 15,
    // change folder
    STEP_CD_FIRST = 16,
    STEP_CD_CWD = 17,
    // ensure folder: change, else create
    STEP_CDMD_FIRST = 18,
    STEP_CDMD_TRY_CWD = 19,
    STEP_CDMD_TRY_MKD = 20,
    STEP_CDMD_STEPWISE = 21,
    STEP_CDMD_CWD = 22,
    STEP_CDMD_MKD = 23,
    // ensure folder: create, else change
    STEP_MDCD_FIRST = 24,
    STEP_MDCD_TRY_MKD = 25,
    STEP_MDCD_TRY_CWD = 26,
    STEP_MDCD_STEPWISE = 27,
    STEP_MDCD_MKD = 28,
    STEP_MDCD_CWD = 29,
    // delete
    STEP_DEL_FIRST = 30,
    STEP_DEL_LIST = 31,
    STEP_DEL_CONTENT = 32,
    STEP_DEL_FOLDER = 33,
    STEP_DEL_CDUP = 34,
    STEP_DEL_SEND = 35,
    // rename
    STEP_REN_FIRST = 36,
    STEP_REN_RNFR = 37,
    STEP_REN_RNTO = 38,
    // explore
    STEP_DIR_FIRST = 39,
    STEP_DIR_CWD = 40,
    STEP_DIR_TYPE = 41,
    STEP_DIR_DATA = 42,
    STEP_DIR_LIST = 43,
    STEP_DIR_ABORT_WAIT = 45,
    // create folder
    STEP_MD_FIRST = 46,
    STEP_MD_MKD = 47,
    // copy
    STEP_COPY_FIRST = 48,
    STEP_COPY_FOLDER_STANDBY = 49,
    STEP_COPY_MAKE_DEST = 50,
    STEP_COPY_DEST_READY = 51,
    STEP_COPY_LIST_SOURCE = 52,
    STEP_COPY_CHILDREN = 53,
    STEP_COPY_WAIT_CHILDREN = 54,
    STEP_COPY_REMOVE_SOURCE = 55,
    STEP_COPY_RECV_TYPE = 57,
    STEP_COPY_RECV_DATA = 58,
    STEP_COPY_RECV_REST = 59,
    STEP_COPY_RECV_RETR = 60,
    STEP_COPY_RECV_ABORT_WAIT = 62,
    STEP_COPY_FILE_STANDBY = 63,
    STEP_COPY_SEND_TYPE = 64,
    STEP_COPY_SEND_DATA = 65,
    STEP_COPY_SEND_STOR = 66,
    STEP_COPY_SEND_WAIT = 67,
    STEP_COPY_SEND_ABORT_WAIT = 68,
    STEP_COPY_MOVED_STANDBY = 70,
    STEP_COPY_DELETE_MOVED = 71,
    STEP_COPY_RECV_SIZE = 72,
    STEP_COPY_RECV_VERIFY = 73,
    STEP_COPY_SEND_VERIFY = 74,
    STEP_COPY_SEND_VERIFY_LIST = 75,
    STEP_CD_PWD = 76,
    // connect: the server's extensions, after login
    STEP_FEAT = 77,
    STEP_OPTS_UTF8 = 78,
    // connect: TLS
    STEP_AUTH_TLS = 79,
    STEP_PBSZ = 80,
    STEP_PROT = 81,
    // copy: an upload looks for its target first
    STEP_COPY_SEND_CHECK = 82,
    STEP_COPY_SEND_CHECK_LIST = 83,
    STEP_COPY_SEND_REST = 84,
    // copy: the exact time of a received file (-p)
    STEP_COPY_RECV_MDTM = 85,
    // every machine
    STEP_DONE = 100,
};

// The step texts; a step missing here (12, 44, 56, 61, 69) shows no text.
inline constexpr StepInfo kStepTable[] = {
    {STEP_TRY_CONNECT, "try to connect"},
    {STEP_CONTACT_PROXY, "contact proxy server"},
    {STEP_PROXY_WELCOME, "proxy server contacted; wait for welcome message"},
    {STEP_PROXY_USER, "login user to proxy server"},
    {STEP_PROXY_PASS, "verify password"},
    {STEP_CONTACT_HOST, "contact host"},
    {STEP_WELCOME, "contacted; wait for welcome message"},
    {STEP_USER, "login user"},
    {STEP_PASS, "verify password"},
    {STEP_LOGIN_CWD, "change to login folder"},
    {STEP_REST_PROBE, "check server resume download capability"},
    {STEP_SYST, "check server type"},
    {STEP_PWD, "get login folder information"},
    {STEP_LOGIN_LIST, "get login folder content"},
    {STEP_CD_FIRST, "change working folder"},
    {STEP_CD_CWD, "change working folder"},
    {STEP_CDMD_FIRST, "ensure folder existence"},
    {STEP_CDMD_TRY_CWD, "try to change working folder directly"},
    {STEP_CDMD_TRY_MKD, "try to create folder directly"},
    {STEP_CDMD_STEPWISE, "try to create folder step by step"},
    {STEP_CDMD_CWD, "change working folder"},
    {STEP_CDMD_MKD, "create folder"},
    {STEP_MDCD_FIRST, "ensure folder existence"},
    {STEP_MDCD_TRY_MKD, "try to create folder directly"},
    {STEP_MDCD_TRY_CWD, "try to create folder directly"},
    {STEP_MDCD_STEPWISE, "try to create folder step by step"},
    {STEP_MDCD_MKD, "create folder"},
    {STEP_MDCD_CWD, "change working folder"},
    {STEP_DEL_FIRST, "delete folder/file"},
    {STEP_DEL_LIST, "get content of deleting folder"},
    {STEP_DEL_CONTENT, "prepare to delete content of deleting folder"},
    {STEP_DEL_FOLDER, "delete folder"},
    {STEP_DEL_CDUP, "change to the parent of deleting folder"},
    {STEP_DEL_SEND, "delete file or folder"},
    {STEP_REN_FIRST, "rename folder/file"},
    {STEP_REN_RNFR, "prepare to rename folder/file"},
    {STEP_REN_RNTO, "rename folder/file"},
    {STEP_DIR_FIRST, "explore folder"},
    {STEP_DIR_CWD, "change working folder"},
    {STEP_DIR_TYPE, "prepare to receive folder content"},
    {STEP_DIR_DATA, "create data connection to receive folder content"},
    {STEP_DIR_LIST, "receive folder content"},
    {STEP_DIR_ABORT_WAIT, "wait for server abort acknowledgment"},
    {STEP_MD_FIRST, "prepare to create folder"},
    {STEP_MD_MKD, "create folder"},
    {STEP_COPY_FIRST, "prepare to copy folder/file"},
    {STEP_COPY_FOLDER_STANDBY, "standby"},
    {STEP_COPY_MAKE_DEST, "create destination folder"},
    {STEP_COPY_DEST_READY, "standby"},
    {STEP_COPY_LIST_SOURCE, "get content of copying folder"},
    {STEP_COPY_CHILDREN, "prepare to copy content of copying folder"},
    {STEP_COPY_WAIT_CHILDREN, "wait for content of source folder moved"},
    {STEP_COPY_REMOVE_SOURCE, "delete moved source folder"},
    {STEP_COPY_RECV_TYPE, "prepare to receive file"},
    {STEP_COPY_RECV_DATA, "create data connection to receive file"},
    {STEP_COPY_RECV_REST, "prepare to resume download"},
    {STEP_COPY_RECV_RETR, "receive file %s"},
    {STEP_COPY_RECV_ABORT_WAIT, "wait for server abort acknowledgment"},
    {STEP_COPY_FILE_STANDBY, "standby"},
    {STEP_COPY_SEND_TYPE, "prepare to send file"},
    {STEP_COPY_SEND_DATA, "create data connection to send file"},
    {STEP_COPY_SEND_STOR, "send file %s"},
    {STEP_COPY_SEND_WAIT, "file sent; wait for host ready"},
    {STEP_COPY_SEND_ABORT_WAIT, "wait for server abort acknowledgment"},
    {STEP_COPY_MOVED_STANDBY, "standby"},
    {STEP_COPY_DELETE_MOVED, "delete moved file"},
    {STEP_COPY_RECV_SIZE, "check the size of the remote file"},
    {STEP_COPY_RECV_VERIFY, "check the received file"},
    {STEP_COPY_RECV_MDTM, "ask for the time of the remote file"},
    {STEP_COPY_SEND_VERIFY, "check the sent file"},
    {STEP_COPY_SEND_VERIFY_LIST, "check the sent file"},
    {STEP_COPY_SEND_CHECK, "look for the file on the server"},
    {STEP_COPY_SEND_CHECK_LIST, "look for the file on the server"},
    {STEP_COPY_SEND_REST, "prepare to resume upload"},
    {STEP_CD_PWD, "get the real path of the working folder"},
    {STEP_FEAT, "ask for the server's features"},
    {STEP_OPTS_UTF8, "switch the server to UTF-8 names"},
    {STEP_AUTH_TLS, "secure the connection"},
    {STEP_PBSZ, "prepare protected data connections"},
    {STEP_PROT, "protect the data connections"},
};

// The string resource number of a step's text.
constexpr int StepStringId(std::uint16_t step) {
    return step + 199;
}

// The raw text of a step ("" when it has none, and for step 100).
std::string_view StepText(std::uint16_t step);

} // namespace qb
