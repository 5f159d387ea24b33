#include "engine/listing_parser.h"

#include "engine/constants.h"
#include "platform/time_util.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace qb {

namespace {

// --- Numbers ----------------------------------------------------------------

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The leading decimal digits of `text` (0 when it starts otherwise), held at
// `limit`. With `grouped`, a "," between two digits is skipped (1,234,567).
std::uint64_t LeadingNumber(std::string_view text, std::uint64_t limit, bool grouped = false) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!IsDigit(c)) {
            if (grouped && c == ',' && i > 0 && IsDigit(text[i - 1]) && i + 1 < text.size() &&
                IsDigit(text[i + 1])) {
                continue;
            }
            break;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) {
            return limit;
        }
        value = value * 10 + digit;
    }
    return value;
}

// Day, month, hour... fields: anything this large is out of range anyway.
int SmallNumber(std::string_view text) {
    return static_cast<int>(LeadingNumber(text, 1000000));
}

FileSize SizeNumber(std::string_view text, bool grouped = false) {
    return LeadingNumber(text, kMaxListedSize, grouped);
}

std::size_t LeadingDigits(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && IsDigit(text[n])) {
        ++n;
    }
    return n;
}

// Text from `pos` on, without leading spaces.
std::string_view RestOfLine(std::string_view line, std::size_t pos) {
    if (pos >= line.size()) {
        return {};
    }
    std::string_view rest = line.substr(pos);
    const std::size_t first = rest.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view{} : rest.substr(first);
}

// --- Times ------------------------------------------------------------------

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

long UtcOffsetAt(std::time_t t) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm.tm_gmtoff;
}

// The time_t of a local date and time; nothing when the parts do not form
// one. mktime can cost microseconds per call (it may re-read the zone file),
// so the usual case is solved with localtime_r: find t with
// t + offset(t) == the wall clock read as UTC.
std::optional<std::time_t> LocalToTime(int year, int month, int day, int hour, int minute,
                                       int second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t wall =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    const std::time_t guess = static_cast<std::time_t>(wall - UtcOffsetAt(wall));
    const long offset = UtcOffsetAt(guess);
    if (guess + offset == wall) {
        return guess;
    }
    const std::time_t secondGuess = static_cast<std::time_t>(wall - offset);
    if (secondGuess + UtcOffsetAt(secondGuess) == wall) {
        return secondGuess;
    }
    // A wall time skipped by a clock change: the system decides.
    const std::time_t t = FromLocalTime(LocalTime{year, month, day, hour, minute, second});
    if (t == -1) {
        return std::nullopt;
    }
    return t;
}

// The time of an entry. Parts that do not form a valid time fall back to the
// listed day at 00:00, then to 1 January of the current year (the time of a
// new item).
std::time_t EntryTime(int year, int month, int day, int hour, int minute, int second,
                      std::time_t now) {
    if (auto t = LocalToTime(year, month, day, hour, minute, second)) {
        return *t;
    }
    if (auto t = LocalToTime(year, month, day, 0, 0, 0)) {
        return *t;
    }
    if (auto t = LocalToTime(ToLocalTime(now).year, 1, 1, 0, 0, 0)) {
        return *t;
    }
    return StartOfYear(now);
}

// --- Entries ----------------------------------------------------------------

// A name must be one path component that stands for an item of the folder.
bool IsEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::string AbsoluteLink(std::string_view target, const ListingContext& context) {
    if (target.find('/') != std::string_view::npos) {
        return std::string(target);
    }
    std::string link = context.homePath;
    if (link.empty() || link.back() != '/') {
        link += '/';
    }
    if (!context.workPath.empty()) {
        link += context.workPath;
        link += '/';
    }
    link += target;
    return link;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && LeadingDigits(text) == text.size();
}

bool IsEnglishMonth(std::string_view text) {
    static constexpr std::string_view kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
    if (text.size() < 3) {
        return false;
    }
    const char head[3] = {AsciiUpper(text[0]), AsciiUpper(text[1]), AsciiUpper(text[2])};
    for (std::size_t i = 0; i < kMonths.size(); i += 3) {
        if (kMonths.substr(i, 3) == std::string_view(head, 3)) {
            return true;
        }
    }
    return false;
}

// YYYY-MM-DD
bool IsIsoDate(std::string_view text) {
    return text.size() == 10 && LeadingDigits(text) == 4 && text[4] == '-' &&
           LeadingDigits(text.substr(5)) == 2 && text[7] == '-' &&
           LeadingDigits(text.substr(8)) == 2;
}

bool IsYearOrTime(std::string_view text) {
    return AllDigits(text) || text.find(':') != std::string_view::npos;
}

bool IsDayOfMonth(std::string_view text) {
    return AllDigits(text) && text.size() <= 2;
}

// The columns of a UNIX style line from the size on.
struct UnixColumns {
    std::string_view size;
    std::string_view month; // a name, or with isoDate "YYYY-MM-DD"
    std::string_view day;
    std::string_view yearOrTime;
    std::size_t nameStart = 0;
    bool isoDate = false;
};

// Finds the size and date columns where the owner and group columns are not
// the usual two (no group, names with spaces, a link count glued to the
// permissions): the first "Mon DD YYYY|HH:MM" or "YYYY-MM-DD HH:MM" after the
// permissions, with the size just before it.
bool FindDateColumns(std::string_view line, UnixColumns& columns) {
    constexpr int kMaxTokens = 32;
    std::string_view tokens[kMaxTokens];
    std::size_t ends[kMaxTokens];
    int count = 0;
    std::size_t pos = 0;
    std::string_view token;
    while (count < kMaxTokens && NextToken(line, pos, token) && !token.empty()) {
        tokens[count] = token;
        ends[count] = pos;
        ++count;
    }
    for (int k = 2; k + 1 < count; ++k) {
        if (IsIsoDate(tokens[k]) && tokens[k + 1].find(':') != std::string_view::npos) {
            columns = UnixColumns{tokens[k - 1], tokens[k], {}, tokens[k + 1], ends[k + 1], true};
            return true;
        }
        if (k + 2 < count && IsEnglishMonth(tokens[k]) && IsDayOfMonth(tokens[k + 1]) &&
            IsYearOrTime(tokens[k + 2])) {
            columns =
                UnixColumns{tokens[k - 1], tokens[k], tokens[k + 1], tokens[k + 2], ends[k + 2]};
            return true;
        }
    }
    return false;
}

// UNIX long listing; the MacOS variant has fewer columns before the size.
bool ParseUnixStyle(std::string_view line, const ListingContext& context,
                    CFTPFolderContent& content, bool mac) {
    if (line.empty()) {
        return false;
    }
    const char kind = line.front();
    if (kind != '-' && kind != 'd' && kind != 'l') {
        return false;
    }
    std::string_view target;
    if (kind == 'l') {
        const std::size_t arrow = line.rfind("->");
        if (arrow != std::string_view::npos) {
            target = line.substr(arrow + 2);
            if (!target.empty() && target.front() == ' ') {
                target.remove_prefix(1);
            }
            std::size_t cut = arrow;
            if (cut > 0 && line[cut - 1] == ' ') {
                --cut;
            }
            line = line.substr(0, cut);
        }
    }
    const bool isFile = kind == '-';

    // The columns at their usual places: permissions, link count, owner and
    // group (MacOS: two columns, three for a file), then size and date.
    UnixColumns columns;
    std::size_t pos = 0;
    std::string_view token;
    const int skip = mac ? (isFile ? 3 : 2) : 4;
    for (int i = 0; i < skip; ++i) {
        NextToken(line, pos, token);
    }
    NextToken(line, pos, columns.size);
    NextToken(line, pos, columns.month);
    NextToken(line, pos, columns.day);
    NextToken(line, pos, columns.yearOrTime);
    columns.nameStart = pos;
    // Only where those places hold no size, day and year or time does the
    // date decide where the columns are.
    if (!(IsDigit(columns.size.empty() ? ' ' : columns.size.front()) && IsDayOfMonth(columns.day) &&
          IsYearOrTime(columns.yearOrTime))) {
        FindDateColumns(line, columns);
    }

    const std::string_view name = RestOfLine(line, columns.nameStart);
    if (!IsEntryName(name)) {
        return false;
    }

    int year = 0;
    int month = 0;
    int day = 0;
    if (columns.isoDate) {
        year = std::clamp(SmallNumber(columns.month), 1980, 2030);
        month = SmallNumber(columns.month.substr(5));
        day = SmallNumber(columns.month.substr(8));
    } else {
        month = MonthFromName(columns.month.substr(0, 3));
        day = SmallNumber(columns.day);
    }
    int hour = 0;
    int minute = 0;
    const std::string_view yearOrTime = columns.yearOrTime;
    const std::size_t colon = yearOrTime.find(':');
    if (colon != std::string_view::npos) {
        hour = SmallNumber(yearOrTime.substr(0, colon));
        minute = SmallNumber(yearOrTime.substr(colon + 1));
        if (!columns.isoDate) {
            year = YearForMonthDay(month, day, context.now);
        }
    } else {
        year = std::clamp(SmallNumber(yearOrTime), 1980, 2030);
    }

    const std::string link = target.empty() ? std::string() : AbsoluteLink(target, context);
    content.Add(std::string(name), isFile,
                EntryTime(year, month, day, hour, minute, 0, context.now), SizeNumber(columns.size),
                link);
    return true;
}

// An MS-DOS date MM-DD-YY. Two-digit years: 00-69 are 2000-2069, 70-99 are
// 1970-1999. MM-DD-YYYY and YYYY-MM-DD are read as well.
void ReadDosDate(std::string_view token, int& year, int& month, int& day) {
    const std::size_t first = token.find('-');
    const std::size_t last = token.rfind('-');
    const int lead = SmallNumber(token);
    const int middle = first == std::string_view::npos ? 0 : SmallNumber(token.substr(first + 1));
    const std::string_view tail =
        last == std::string_view::npos ? std::string_view{} : token.substr(last + 1);
    if (first == 4 && LeadingDigits(token) == 4) {
        year = std::clamp(lead, 1970, 2069);
        month = middle;
        day = SmallNumber(tail);
        return;
    }
    month = lead;
    day = middle;
    const int yy = SmallNumber(tail);
    if (LeadingDigits(tail) > 2) {
        year = std::clamp(yy, 1970, 2069);
    } else {
        year = yy < 70 ? 2000 + yy : 1900 + yy;
    }
}

// 08:30PM on the 12-hour clock; a time that ends in a digit is on the
// 24-hour clock (17:03).
void ReadDosTime(std::string_view token, int& hour, int& minute) {
    std::string_view clock = token;
    std::string_view half;
    if (!token.empty() && !IsDigit(token.back())) {
        const std::size_t cut = token.size() >= 2 ? token.size() - 2 : 0;
        clock = token.substr(0, cut);
        half = token.substr(cut);
    }
    const std::size_t colon = clock.find(':');
    hour = SmallNumber(clock.substr(0, colon));
    minute = colon == std::string_view::npos ? 0 : SmallNumber(clock.substr(colon + 1));
    if (half.empty()) {
        return;
    }
    const bool pm = half.size() == 2 && AsciiUpper(half[0]) == 'P' && AsciiUpper(half[1]) == 'M';
    if (pm) {
        if (hour != 12) {
            hour += 12;
        }
    } else if (hour == 12) {
        hour = 0;
    }
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) {
        return false;
    }
    const std::string_view end = text.substr(text.size() - tail.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (AsciiUpper(end[i]) != AsciiUpper(tail[i])) {
            return false;
        }
    }
    return true;
}

// A VMS date DD-MMM-YYYY or time HH:MM[:SS[.CC]] column.
void ReadVmsDateOrTime(std::string_view token, bool& haveDate, int& year, int& month, int& day,
                       int& hour, int& minute, int& second) {
    const std::size_t dash = token.find('-', 1);
    if (dash != std::string_view::npos) {
        haveDate = true;
        day = SmallNumber(token.substr(0, dash));
        month = MonthFromName(token.substr(dash + 1, 3));
        year = std::clamp(SmallNumber(token.substr(token.rfind('-') + 1)), 1980, 2030);
        return;
    }
    const std::size_t first = token.find(':');
    hour = SmallNumber(token.substr(0, first));
    if (first == std::string_view::npos) {
        return;
    }
    minute = SmallNumber(token.substr(first + 1, 2));
    const std::size_t last = token.rfind(':');
    if (last != first) {
        second = SmallNumber(token.substr(last + 1, 2));
    }
}

// A VMS name that stands on a line of its own: the rest of the entry follows
// on the next line.
bool IsWrappedVmsName(std::string_view line) {
    std::size_t pos = 0;
    std::string_view token;
    NextToken(line, pos, token);
    if (token.find(';') == std::string_view::npos) {
        return false;
    }
    NextToken(line, pos, token);
    return token.empty();
}

// The rest of a wrapped entry: indented, or starting with the size.
bool IsVmsContinuation(std::string_view line) {
    if (line.empty() || (line.front() != ' ' && line.front() != '\t' && !IsDigit(line.front()))) {
        return false;
    }
    std::size_t pos = 0;
    std::string_view token;
    NextToken(line, pos, token);
    return token.find(';') == std::string_view::npos;
}

using LineParser = bool (*)(std::string_view, const ListingContext&, CFTPFolderContent&);

LineParser ParserFor(int serverType) {
    switch (serverType) {
    case CFTPConstants::SERVER_UNIX:
    case 1: // "UNIX" in the reply to SYST
        return &ParseUnixLine;
    case CFTPConstants::SERVER_MACOS_PETER:
        return &ParseMacLine;
    case CFTPConstants::SERVER_VMS:
        return &ParseVmsLine;
    case CFTPConstants::SERVER_NT:
        return &ParseNtLine;
    default:
        return nullptr;
    }
}

} // namespace

bool NextToken(std::string_view line, std::size_t& pos, std::string_view& token) {
    token = {};
    if (line.empty() || pos >= line.size()) {
        return false;
    }
    while (pos < line.size() && line[pos] == ' ') {
        ++pos;
    }
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ') {
        ++pos;
    }
    token = line.substr(start, pos - start);
    return true;
}

int MonthFromName(std::string_view text) {
    auto letter = [text](std::size_t i) { return i < text.size() ? AsciiUpper(text[i]) : '\0'; };
    switch (letter(0)) {
    case 'A':
        return letter(1) == 'P' ? 4 : 8;
    case 'D':
        return 12;
    case 'F':
        return 2;
    case 'J':
        if (letter(1) == 'A') {
            return 1;
        }
        return letter(2) == 'N' ? 6 : 7;
    case 'M':
        return letter(2) == 'R' ? 3 : 5;
    case 'N':
        return 11;
    case 'O':
        return 10;
    case 'S':
        return 9;
    default:
        return 1;
    }
}

bool ParseUnixLine(std::string_view line, const ListingContext& context,
                   CFTPFolderContent& content) {
    return ParseUnixStyle(line, context, content, false);
}

bool ParseMacLine(std::string_view line, const ListingContext& context,
                  CFTPFolderContent& content) {
    return ParseUnixStyle(line, context, content, true);
}

bool ParseNtLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content) {
    if (line.empty()) {
        return false;
    }
    if (line.front() == '-' || line.front() == 'd' || line.front() == 'l') {
        return ParseUnixLine(line, context, content);
    }
    std::size_t pos = 0;
    std::string_view date;
    std::string_view time;
    std::string_view sizeOrDir;
    NextToken(line, pos, date);
    NextToken(line, pos, time);
    NextToken(line, pos, sizeOrDir);
    // "03:09 PM": the half of the day in a column of its own.
    std::string joinedTime;
    if (!time.empty() && IsDigit(time.back()) && sizeOrDir.size() == 2 &&
        (AsciiUpper(sizeOrDir[0]) == 'A' || AsciiUpper(sizeOrDir[0]) == 'P') &&
        AsciiUpper(sizeOrDir[1]) == 'M') {
        joinedTime.assign(time).append(sizeOrDir);
        time = joinedTime;
        NextToken(line, pos, sizeOrDir);
    }
    const std::string_view name = RestOfLine(line, pos);
    if (!IsEntryName(name)) {
        return false;
    }
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    ReadDosDate(date, year, month, day);
    ReadDosTime(time, hour, minute);
    const bool isFile = sizeOrDir != "<DIR>";
    const FileSize size = isFile ? SizeNumber(sizeOrDir, true) : 0;
    content.Add(std::string(name), isFile,
                EntryTime(year, month, day, hour, minute, 0, context.now), size, std::string());
    return true;
}

bool ParseVmsLine(std::string_view line, const ListingContext& context,
                  CFTPFolderContent& content) {
    std::size_t pos = 0;
    std::string_view first;
    NextToken(line, pos, first);
    // A name is never followed by a tab: what follows one is a message.
    first = first.substr(0, first.find('\t'));
    if (first.find(';') == std::string_view::npos) {
        return false;
    }
    // Wildcards stand in messages such as "*.*;0 <%RMS-E-FNF, file not found>".
    if (first.find_first_of("*%") != std::string_view::npos) {
        return false;
    }
    bool isFile = true;
    std::string_view name = first;
    if (first.size() > 6 && EndsWithNoCase(first, ".DIR;1")) {
        isFile = false;
        name = first.substr(0, first.size() - 6);
    }
    if (!IsEntryName(name)) {
        return false;
    }

    std::string_view token;
    FileSize size = 0;
    if (NextToken(line, pos, token)) {
        size = SizeNumber(token); // "used/allocated": the digits stop at the "/"
    }
    bool haveDate = false;
    int year = 0;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    for (int i = 0; i < 2; ++i) {
        if (NextToken(line, pos, token) && !token.empty()) {
            ReadVmsDateOrTime(token, haveDate, year, month, day, hour, minute, second);
        }
    }
    if (!haveDate) {
        year = YearForMonthDay(1, 1, context.now);
    }
    content.Add(std::string(name), isFile,
                EntryTime(year, month, day, hour, minute, second, context.now), size,
                std::string());
    return true;
}

bool IsListingSupported(int serverType) {
    return ParserFor(serverType) != nullptr;
}

std::string UnsupportedServerMessage(int serverType) {
    char head[48];
    std::snprintf(head, sizeof head, "Unsupported Server ID %03d !!\n", serverType);
    return std::string(head) +
           "Please report this message on the Quillbeck project's issue tracker, so that "
           "listings of this server can be read in a later version.\n"
           "Thanks!";
}

ListingParse ParseListingText(int serverType, std::string_view listing,
                              const ListingContext& context, CFTPFolderContent& content,
                              const std::function<bool(std::uint64_t bytesRead)>& progress) {
    const LineParser parse = ParserFor(serverType);
    if (!parse) {
        return ListingParse::Unsupported;
    }
    const bool vms = serverType == CFTPConstants::SERVER_VMS;
    std::string wrappedName; // VMS: a name line waiting for its continuation
    bool haveWrappedName = false;

    const std::size_t size = listing.size();
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t start = pos;
        while (pos < size && listing[pos] != '\n' && listing[pos] != '\r') {
            ++pos;
        }
        const std::string_view line = listing.substr(start, pos - start);
        if (pos < size) {
            // A CR takes the LF of a CR LF with it.
            if (listing[pos] == '\r' && pos + 1 < size && listing[pos + 1] == '\n') {
                ++pos;
            }
            ++pos;
        }
        if (progress && !progress(pos)) {
            return ListingParse::Stopped;
        }
        if (line.empty()) {
            continue;
        }
        if (!vms) {
            parse(line, context, content);
            continue;
        }
        if (haveWrappedName) {
            haveWrappedName = false;
            if (IsVmsContinuation(line)) {
                wrappedName += ' ';
                wrappedName += line;
                ParseVmsLine(wrappedName, context, content);
                continue;
            }
            ParseVmsLine(wrappedName, context, content);
        }
        if (IsWrappedVmsName(line)) {
            wrappedName.assign(line);
            haveWrappedName = true;
            continue;
        }
        ParseVmsLine(line, context, content);
    }
    if (haveWrappedName) {
        ParseVmsLine(wrappedName, context, content);
    }
    return ListingParse::Done;
}

} // namespace qb
