// Text from outside (names from servers or disks, server replies) made safe
// to show.
#pragma once

#include <string>
#include <string_view>

namespace qb {

// Control characters (and DEL) written as \xNN, so that a name shows as it
// is without breaking a line or moving a terminal's cursor. With
// `keepLineBreaks`, line feeds and tabs stay (a message of several lines).
std::string ShowControlChars(std::string_view text, bool keepLineBreaks = false);

} // namespace qb
