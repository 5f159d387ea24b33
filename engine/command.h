// Turns a command code and an argument into the command line that is sent.
#pragma once

#include <string>

namespace qb {

// The verb of a command code ("" for codes without one).
const char* CommandVerb(int code);

// Builds the line for `code`: relative paths become absolute under
// `homePath` (with the VMS rule for VMS servers); "LIST" never takes an
// argument. `retrAsGiven` sends the "RETR" argument unchanged (a file named
// by its full path). Returns "" for codes that send nothing and for an
// argument with a line break or NUL in it.
std::string BuildCommandLine(int code, std::string argument, bool splitName, int serverType,
                             const std::string& homePath, bool retrAsGiven);

} // namespace qb
