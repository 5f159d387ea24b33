// Where the profile file lives when the command line names none.
#pragma once

#include <string>

namespace qb {

inline constexpr const char* kProfileFileName = "Quillbeck.dat";

// A "Quillbeck.dat" beside the program wins if one exists (portable use);
// else $XDG_CONFIG_HOME/quillbeck/Quillbeck.dat, or with that unset (or not
// absolute) $HOME/.config/quillbeck/Quillbeck.dat. Empty when no path can be
// formed. `exePath` is the program's full path (may be empty).
std::string DefaultProfilePath(const std::string& exePath, const char* xdgConfigHome,
                               const char* home);

// The same for this process: its executable, environment and user.
std::string DefaultProfilePath();

} // namespace qb
