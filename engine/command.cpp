#include "engine/command.h"

#include "engine/constants.h"

#include <algorithm>

namespace qb {

namespace {

constexpr const char* kVerbs[CFTPConstants::CMD_COUNT] = {
    "USER", "PASS", "PWD",  "CWD",  "CDUP", "QUIT", "PORT", "TYPE", "RETR", "STOR", "RNFR", "RNTO",
    "ABOR", "DELE", "RMD",  "MKD",  "LIST", "OPEN", "SITE", "CWD",  "REST", "SYST", "PASV", "SIZE",
    "NOOP", "EPSV", "EPRT", "FEAT", "MLSD", "OPTS", "LIST", "AUTH", "PBSZ", "PROT", "APPE", "MDTM",
};
// Every command has its verb.
static_assert(sizeof kVerbs / sizeof kVerbs[0] == CFTPConstants::CMD_COUNT);

bool TakesPath(int code) {
    switch (code) {
    case CFTPConstants::CMD_CWD:
    case CFTPConstants::CMD_RETR:
    case CFTPConstants::CMD_STOR:
    case CFTPConstants::CMD_APPE:
    case CFTPConstants::CMD_RNFR:
    case CFTPConstants::CMD_RNTO:
    case CFTPConstants::CMD_DELE:
    case CFTPConstants::CMD_RMD:
    case CFTPConstants::CMD_MKD:
    case CFTPConstants::CMD_SIZE:
    case CFTPConstants::CMD_MDTM:
        return true;
    default:
        return false;
    }
}

std::string SlashRule(int code, const std::string& argument, const std::string& homePath) {
    std::string path = argument.empty() ? homePath : homePath + "/" + argument;
    if (code == CFTPConstants::CMD_CWD && path.empty()) {
        path = "/";
    }
    return path;
}

std::string VmsRule(int code, const std::string& argument, bool splitName,
                    const std::string& homePath) {
    std::string folder = argument;
    std::string fileName;
    const bool split =
        code == CFTPConstants::CMD_RETR || code == CFTPConstants::CMD_STOR ||
        code == CFTPConstants::CMD_APPE || code == CFTPConstants::CMD_DELE ||
        code == CFTPConstants::CMD_SIZE || code == CFTPConstants::CMD_MDTM ||
        ((code == CFTPConstants::CMD_RNFR || code == CFTPConstants::CMD_RNTO) && splitName);
    if (split) {
        auto slash = folder.rfind('/');
        if (slash == std::string::npos) {
            fileName = folder;
            folder.clear();
        } else {
            fileName = folder.substr(slash + 1);
            folder.erase(slash);
        }
    }
    if (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder.empty()) {
        return homePath + fileName;
    }
    std::replace(folder.begin(), folder.end(), '/', '.');
    std::string result;
    if (!homePath.empty() && homePath.back() == ']') {
        result = homePath.substr(0, homePath.size() - 1) + "." + folder + "]";
    } else {
        result = homePath + "[" + folder + "]";
    }
    return result + fileName;
}

} // namespace

const char* CommandVerb(int code) {
    if (code < 0 || code >= CFTPConstants::CMD_COUNT) {
        return "";
    }
    return kVerbs[code];
}

std::string BuildCommandLine(int code, std::string argument, bool splitName, int serverType,
                             const std::string& homePath, bool retrAsGiven) {
    if (code < 0 || code >= CFTPConstants::CMD_COUNT) {
        return {};
    }
    if (code == CFTPConstants::CMD_LIST || code == CFTPConstants::CMD_MLSD) {
        argument.clear();
    } else if (code == CFTPConstants::CMD_LIST_ALL) {
        argument = "-a";
    }
    if (TakesPath(code)) {
        if (serverType == CFTPConstants::SERVER_VMS) {
            argument = VmsRule(code, argument, splitName, homePath);
        } else if (!(code == CFTPConstants::CMD_RETR && retrAsGiven)) {
            argument = SlashRule(code, argument, homePath);
        }
    }
    // A line end inside an argument would smuggle in a second command, and
    // taking it out would name another item: such a line is not sent.
    if (argument.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        return {};
    }
    std::string line = kVerbs[code];
    if (!argument.empty()) {
        line += ' ';
        line += argument;
    }
    return line;
}

} // namespace qb
