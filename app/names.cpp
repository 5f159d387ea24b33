#include "app/names.h"

#include "platform/questions.h"
#include "profile/scramble.h"

#include <string_view>

namespace qb {

namespace {

struct NameRule {
    int kinds[2];
    // The characters refused; a NUL is refused for every file system name
    // too, since it would cut the name short.
    std::string_view refused;
    const char* message;
};

using namespace std::string_view_literals;

constexpr NameRule kRules[] = {
    {{NAME_SITE_FOLDER, NAME_SITE}, "/:"sv, "Label of SiteFolder/Site cannot contain\n/  :"},
    {{NAME_LOCAL_FOLDER, NAME_LOCAL_FILE},
     "\\/:*?\"<>|\0"sv,
     "Name of LocalFolder/LocalFile connot contain\n\\ / : * ? \" < > |"},
    {{NAME_REMOTE_FOLDER, NAME_REMOTE_FILE},
     "/\0"sv,
     "Name of RemoteFolder/RemoteFile cannot contain\n/"},
};

} // namespace

bool CheckName(const std::string& text, int kind, IQuestions* questions) {
    for (const NameRule& rule : kRules) {
        if (kind != rule.kinds[0] && kind != rule.kinds[1]) {
            continue;
        }
        if (text.find_first_of(rule.refused) == std::string::npos) {
            return true;
        }
        if (questions) {
            questions->MessageBox(rule.message, MB_OK);
        }
        return false;
    }
    return false;
}

void TrimSpaces(std::string& text) {
    auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    auto last = text.find_last_not_of(' ');
    text = text.substr(first, last - first + 1);
}

void SwapNibbles(std::string& text) {
    text = SwapNibbles(std::string_view(text));
}

void ToSlashPath(std::string& path) {
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
}

} // namespace qb
