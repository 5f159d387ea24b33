// Rules and small conversions for text the user types.
#pragma once

#include <string>

namespace qb {

class IQuestions;

// What a typed name is for (the view item kinds that can be renamed or
// created by name).
enum NameKind : int {
    NAME_SITE_FOLDER = 9,
    NAME_SITE = 10,
    NAME_LOCAL_FOLDER = 11,
    NAME_LOCAL_FILE = 12,
    NAME_REMOTE_FOLDER = 14,
    NAME_REMOTE_FILE = 15,
};

// True when `text` may be used as a name of `kind`. A refused name has been
// reported through `questions` (OK box) when the kind has a message; any
// other kind is refused without one. An empty text is not refused here.
bool CheckName(const std::string& text, int kind, IQuestions* questions);

// Removes leading and trailing spaces (the space character only) in place.
void TrimSpaces(std::string& text);

// Exchanges the two 4-bit halves of every byte in place; applying it twice
// restores the text. Scrambles the passwords kept in the profile.
void SwapNibbles(std::string& text);

// Replaces every backslash by "/" in place.
void ToSlashPath(std::string& path);

} // namespace qb
