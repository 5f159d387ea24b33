#include "engine/listing_parser.h"

#include "engine/constants.h"
#include "platform/time_util.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qb {

namespace {

// --- Numbers ----------------------------------------------------------------

[[gnu::always_inline]] inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

[[gnu::always_inline]] inline char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The leading decimal digits of `text` (0 when it starts otherwise), held at
// `limit`. With `grouped`, a "," between two digits is skipped (1,234,567).
[[gnu::always_inline]] inline std::uint64_t
LeadingNumber(std::string_view text, std::uint64_t limit, bool grouped = false) {
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
        if (__builtin_mul_overflow(value, std::uint64_t{10}, &value) ||
            __builtin_add_overflow(value, digit, &value) || value > limit) {
            return limit;
        }
    }
    return value;
}

// Day, month, hour... fields: anything this large is out of range anyway.
[[gnu::always_inline]] inline int SmallNumber(std::string_view text) {
    return static_cast<int>(LeadingNumber(text, 1000000));
}

FileSize SizeNumber(std::string_view text, bool grouped = false) {
    return LeadingNumber(text, kMaxListedSize, grouped);
}

// A size written in digits only: up to 19 of them cannot overflow, so they
// need no checks on the way.
[[gnu::always_inline]] inline FileSize DigitsSize(std::string_view digits) {
    if (digits.size() > 19) {
        return SizeNumber(digits);
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return std::min<std::uint64_t>(value, kMaxListedSize);
}

[[gnu::always_inline]] inline std::size_t LeadingDigits(std::string_view text) {
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

bool IsValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

long UtcOffsetAt(std::time_t t) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm.tm_gmtoff;
}

// The time_t of a wall clock time given as seconds from 1970-01-01 00:00 read
// as UTC; nothing when the zone skips it. mktime can cost microseconds per
// call (it may re-read the zone file), so the usual case is solved with
// localtime_r: find t with t + offset(t) == wall.
std::optional<std::time_t> WallToTime(std::int64_t wall) {
    const std::time_t guess = static_cast<std::time_t>(wall - UtcOffsetAt(wall));
    const long offset = UtcOffsetAt(guess);
    if (guess + offset == wall) {
        return guess;
    }
    const std::time_t secondGuess = static_cast<std::time_t>(wall - offset);
    if (secondGuess + UtcOffsetAt(secondGuess) == wall) {
        return secondGuess;
    }
    return std::nullopt;
}

// Local date and time to time_t for one listing: "today" is worked out once,
// and the zone's offset is remembered per day, so that a listing of a million
// entries asks the C library only for the few days it names.
class ListingClock {
public:
    explicit ListingClock(std::time_t now) {
        const LocalTime today = ToLocalTime(now);
        m_year = today.year;
        m_month = today.month;
        m_day = today.day;
        if (auto t = ToTime(m_year, 1, 1, 0, 0, 0)) {
            m_unknown = *t;
        } else {
            m_unknown = StartOfYear(now);
        }
    }

    int ThisYear() const { return m_year; }

    // A listed month and day without a year: this year, or the year before
    // when they lie after today.
    int YearFor(int month, int day) const {
        return month > m_month || (month == m_month && day > m_day) ? m_year - 1 : m_year;
    }

    // The time of an item whose date is unknown: 1 January of this year,
    // 00:00 (the time of a new item).
    std::time_t Unknown() const { return m_unknown; }

    // Remember zone offsets per month and day (for whole listings).
    void UseOffsetCache() {
        if (!m_months) {
            m_months = std::make_unique<CachedSpan[]>(kMonthSlots);
            m_days = std::make_unique<CachedSpan[]>(kDaySlots);
        }
    }

    std::optional<std::time_t> ToTime(int year, int month, int day, int hour, int minute,
                                      int second) {
        if (!IsValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
            second < 0 || second > 59) {
            return std::nullopt;
        }
        const std::int64_t days = DaysFromCivil(year, month, day);
        const std::int64_t wall = days * 86400 + hour * 3600 + minute * 60 + second;
        if (m_months) {
            // Most months have one offset throughout; those with a clock
            // change have it for each day but one.
            const std::int64_t first = days - (day - 1);
            const std::int64_t offset =
                Lookup(m_months[static_cast<std::size_t>(year * 12 + month) & (kMonthSlots - 1)],
                       first, first + DaysInMonth(year, month) - 1);
            if (offset != kNoSteadyOffset) {
                return static_cast<std::time_t>(wall - offset);
            }
            const std::int64_t dayOffset =
                Lookup(m_days[static_cast<std::size_t>(days) & (kDaySlots - 1)], days, days);
            if (dayOffset != kNoSteadyOffset) {
                return static_cast<std::time_t>(wall - dayOffset);
            }
        }
        if (auto t = WallToTime(wall)) {
            return t;
        }
        // A wall time skipped by a clock change: the system decides.
        const std::time_t t = FromLocalTime(LocalTime{year, month, day, hour, minute, second});
        if (t == -1) {
            return std::nullopt;
        }
        return t;
    }

private:
    static constexpr std::size_t kMonthSlots = 1024;
    static constexpr std::size_t kDaySlots = 4096;
    static constexpr std::int64_t kNoSteadyOffset = INT64_MIN;

    // The zone's offset over the days first..last, when it holds throughout.
    struct CachedSpan {
        std::int64_t first = INT64_MIN;
        std::int64_t offset = kNoSteadyOffset;
    };

    static std::int64_t Lookup(CachedSpan& slot, std::int64_t first, std::int64_t last) {
        if (slot.first != first) {
            slot.first = first;
            slot.offset = SteadyOffset(first, last);
        }
        return slot.offset;
    }

    // The offset when it is the same from the start of day `first` to the end
    // of day `last`; kNoSteadyOffset when the clock changes in between.
    static std::int64_t SteadyOffset(std::int64_t first, std::int64_t last) {
        const std::int64_t startWall = first * 86400;
        const std::int64_t endWall = last * 86400 + 86399;
        const auto start = WallToTime(startWall);
        if (!start) {
            return kNoSteadyOffset;
        }
        const std::int64_t offset = startWall - *start;
        // Zones change their clocks at most once in a few weeks: a weekly
        // look and one at the end find every change.
        for (std::int64_t wall = startWall + 7 * 86400;; wall += 7 * 86400) {
            const std::int64_t at = std::min(wall, endWall);
            const auto t = WallToTime(at);
            if (!t || at - *t != offset || UtcOffsetAt(*t) != offset) {
                return kNoSteadyOffset;
            }
            if (at == endWall) {
                return offset;
            }
        }
    }

    int m_year = 1970;
    int m_month = 1;
    int m_day = 1;
    std::time_t m_unknown = 0;
    std::unique_ptr<CachedSpan[]> m_months;
    std::unique_ptr<CachedSpan[]> m_days;
};

// The time of an NT or VMS entry. Parts that do not form a valid time fall
// back to the listed day at 00:00, then to 1 January of the current year.
std::time_t EntryTime(ListingClock& clock, int year, int month, int day, int hour, int minute,
                      int second) {
    if (auto t = clock.ToTime(year, month, day, hour, minute, second)) {
        return *t;
    }
    if (auto t = clock.ToTime(year, month, day, 0, 0, 0)) {
        return *t;
    }
    return clock.Unknown();
}

// --- Entries ----------------------------------------------------------------

// A name must be one path component that stands for an item of the folder.
bool IsEntryName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos &&
           name.find_first_not_of(' ') != std::string_view::npos;
}

// A link target with a "/" stays as listed; others are made absolute in
// `buffer` (one buffer for a whole listing: no allocation per entry).
std::string_view AbsoluteLink(std::string_view target, const ListingContext& context,
                              std::string& buffer) {
    if (target.empty() || target.find('/') != std::string_view::npos) {
        return target;
    }
    buffer.assign(context.homePath);
    if (buffer.empty() || buffer.back() != '/') {
        buffer += '/';
    }
    if (!context.workPath.empty()) {
        buffer += context.workPath;
        buffer += '/';
    }
    buffer += target;
    return buffer;
}

[[gnu::always_inline]] inline bool AllDigits(std::string_view text) {
    return !text.empty() && LeadingDigits(text) == text.size();
}

// --- Lines ------------------------------------------------------------------

// Where the first CR or LF is in the `size` bytes at `p`; `size` when there
// is none.
std::size_t FirstBreak(const char* p, std::size_t size) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= size; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const auto breaks = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf))));
        if (breaks != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(breaks));
        }
    }
#endif
    for (; i < size; ++i) {
        if (p[i] == '\r' || p[i] == '\n') {
            return i;
        }
    }
    return size;
}

// --- UNIX style lines -------------------------------------------------------

// The date of a UNIX style line, as written.
struct ListedDate {
    int first = 0;       // token index of the date
    int count = 0;       // tokens it takes
    bool certain = true; // else only the columns were recognised
    bool haveYear = false;
    bool haveTime = false;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    bool standardWidth = false; // "Mon DD HH:MM" / "Mon DD  YYYY" of ls, 12 columns

    // A fresh date at token `at`, field by field: a whole new value copied
    // in would be read back before its stores are done (a stall per try).
    void Start(int at) {
        first = at;
        count = 0;
        certain = true;
        haveYear = false;
        haveTime = false;
        year = month = day = hour = minute = 0;
        standardWidth = false;
    }
};

// The date of the line before, for the lines that repeat it (files written
// together list the same date): its columns as listed, what they were read
// as and the time. Only a date read from its own three columns, starting
// with the month word and without a comma, is remembered: the same text
// there always reads the same.
struct RepeatedDate {
    static constexpr std::size_t kMaxText = 32;
    char text[kMaxText];
    std::size_t size = 0; // 0: none remembered
    ListedDate date;
    std::time_t time = 0;

    // Whether the line's bytes from `begin` to `end` are the date's.
    bool Is(std::string_view line, std::size_t begin, std::size_t end) const {
        if (end - begin != size) {
            return false;
        }
        const char* p = line.data() + begin;
        if (size < 8 || size > 16) {
            return size != 0 && std::memcmp(p, text, size) == 0;
        }
        // 8 to 16 bytes (ls writes 12): the first eight and the last eight.
        return Word(p) == Word(text) && Word(p + size - 8) == Word(text + size - 8);
    }

    static std::uint64_t Word(const char* p) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }

    void Remember(std::string_view line, std::size_t begin, std::size_t end, const ListedDate& read,
                  std::time_t readTime) {
        size = end - begin <= kMaxText ? end - begin : 0;
        std::memcpy(text, line.data() + begin, size);
        date = read;
        time = readTime;
    }
};

// What a whole listing shares between its lines.
struct ListingState {
    explicit ListingState(std::time_t now) : clock(now) {}

    ListingClock clock;

    // Names whose leading spaces could also be padding: kept trimmed unless
    // another line of the listing starts its name in the same column. The
    // names are copies: a listing read as it arrives is gone line by line
    // (only a whole listing collects columns).
    struct PendingName {
        bool isFile;
        std::size_t index;
        std::size_t column;
        std::string name; // with the leading spaces
    };
    bool collectColumns = false;
    std::vector<std::uint32_t> namesAtColumn; // lines whose name starts plainly there
    std::vector<PendingName> pending;

    void NameAt(std::size_t column) {
        if (column >= namesAtColumn.size()) {
            if (column >= kMaxColumn) {
                return;
            }
            namesAtColumn.resize(column + 1);
        }
        ++namesAtColumn[column];
    }

    // Gives the names of `pending` their leading spaces where the column is
    // certain; `resolved` sees each entry once it has its name.
    template <typename Resolved>
    void Resolve(CFTPFolderContent& content, const Resolved& resolved) {
        for (PendingName& p : pending) {
            CFTPFile& entry =
                *(p.isFile ? content.GetFiles() : content.GetFolders()).GetAt(p.index);
            if (p.column < namesAtColumn.size() && namesAtColumn[p.column] > 0) {
                entry.m_strName = p.name;
            }
            resolved(entry);
        }
        pending.clear();
    }

    // The text of the last link target made absolute.
    std::string link;

    RepeatedDate lastDate;

    // Where entries go without a record, when set: those whose texts are
    // the line's own and need no later line.
    std::vector<ListedEntry>* unrecorded = nullptr;

    static constexpr std::size_t kMaxColumn = 4096;
};

// A column of a line. Left uninitialised in arrays: a line has few of them.
struct Token {
    const char* data;
    std::size_t size;
    std::size_t begin;
    std::size_t end;

    std::string_view text() const { return std::string_view(data, size); }
};

constexpr int kMaxTokens = 48;

#if defined(__SSE2__)
// Bit i set when byte i of the 16 at `p` is a space.
std::uint32_t SpacesOf16(const char* p) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '))));
}
#endif

// Bit i set when byte `block` + i of the line is no space; bits past the
// line's end are clear. Nothing is read outside the line.
std::uint64_t WordBits(std::string_view line, std::size_t block) {
    const std::size_t size = line.size();
    const std::size_t n = std::min<std::size_t>(64, size - block);
    const char* p = line.data() + block;
    std::uint64_t spaces = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        spaces |= static_cast<std::uint64_t>(SpacesOf16(p + i)) << i;
    }
    if (i < n && size >= 16) {
        // The last few bytes: the 16 that end the line, moved into place.
        const std::size_t rest = n - i;
        spaces |= static_cast<std::uint64_t>(SpacesOf16(line.data() + size - 16) >> (16 - rest))
                  << i;
        i = n;
    }
#endif
    for (; i < n; ++i) {
        spaces |= static_cast<std::uint64_t>(p[i] == ' ') << i;
    }
    const std::uint64_t inLine = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    return ~spaces & inLine;
}

[[gnu::always_inline]] inline void EndToken(std::string_view line, Token& token, std::size_t end) {
    token.end = end;
    token.data = line.data() + token.begin;
    token.size = end - token.begin;
}

// The columns of a line, split at spaces; at most kMaxTokens. The line is
// looked at 64 bytes at a time: the starts and the ends of its columns are
// the bits where a run of non-spaces begins and where it stops.
int Tokenize(std::string_view line, Token* tokens) {
    const std::size_t size = line.size();
    int starts = 0;
    int ends = 0;
    std::uint64_t carry = 0; // 1 when the previous block ended inside a column
    for (std::size_t block = 0; block < size && ends < kMaxTokens; block += 64) {
        const std::uint64_t bits = WordBits(line, block);
        const std::uint64_t before = (bits << 1) | carry;
        std::uint64_t first = bits & ~before;
        std::uint64_t after = ~bits & before;
        carry = bits >> 63;
        for (; first != 0 && starts < kMaxTokens; first &= first - 1) {
            tokens[starts++].begin = block + static_cast<std::size_t>(std::countr_zero(first));
        }
        // (A column ends after it starts: its start is known here.)
        for (; after != 0 && ends < kMaxTokens; after &= after - 1) {
            EndToken(line, tokens[ends++],
                     block + static_cast<std::size_t>(std::countr_zero(after)));
        }
    }
    if (ends < starts) {
        EndToken(line, tokens[ends++], size); // the last column runs to the end of a full block
    }
    return starts;
}

// The first three letters of month words, upper case: English, then the
// German, French and Hungarian short names that differ.
constexpr std::uint32_t MonthHead(const char (&letters)[4]) {
    return (static_cast<std::uint32_t>(letters[0]) << 16) |
           (static_cast<std::uint32_t>(letters[1]) << 8) | static_cast<std::uint32_t>(letters[2]);
}

constexpr std::pair<std::uint32_t, int> kMonthHeads[] = {
    {MonthHead("JAN"), 1}, {MonthHead("FEB"), 2},  {MonthHead("MAR"), 3},  {MonthHead("APR"), 4},
    {MonthHead("MAY"), 5}, {MonthHead("JUN"), 6},  {MonthHead("JUL"), 7},  {MonthHead("AUG"), 8},
    {MonthHead("SEP"), 9}, {MonthHead("OCT"), 10}, {MonthHead("NOV"), 11}, {MonthHead("DEC"), 12},
    {MonthHead("MRZ"), 3}, {MonthHead("MAI"), 5},  {MonthHead("OKT"), 10}, {MonthHead("DEZ"), 12},
    {MonthHead("AVR"), 4}, {MonthHead("SZE"), 9},
};

// The heads are looked up in a table of 64 slots, each head in a slot of
// its own: the slot is the top six bits of the head times a multiplier
// chosen at compile time so that no two heads meet.
constexpr std::uint32_t MonthHeadSlot(std::uint32_t head, std::uint32_t multiplier) {
    return (head * multiplier) >> 26;
}

constexpr std::uint32_t FindMonthHeadMultiplier() {
    // Odd multipliers from the golden ratio's 32 bits on mix all the bits.
    for (std::uint32_t multiplier = 0x9E3779B1; multiplier < 0x9E3779B1 + 2000; multiplier += 2) {
        bool used[64] = {};
        bool apart = true;
        for (const auto& [head, month] : kMonthHeads) {
            const std::uint32_t slot = MonthHeadSlot(head, multiplier);
            apart = apart && !used[slot];
            used[slot] = true;
        }
        if (apart) {
            return multiplier;
        }
    }
    return 0;
}

constexpr std::uint32_t kMonthHeadMultiplier = FindMonthHeadMultiplier();
static_assert(kMonthHeadMultiplier != 0, "no multiplier keeps the month heads apart");

struct MonthHeadTable {
    std::uint32_t head[64] = {}; // 0: an empty slot (no head is 0)
    std::int8_t month[64] = {};
};

constexpr MonthHeadTable MakeMonthHeadTable() {
    MonthHeadTable table;
    for (const auto& [head, month] : kMonthHeads) {
        const std::uint32_t slot = MonthHeadSlot(head, kMonthHeadMultiplier);
        table.head[slot] = head;
        table.month[slot] = static_cast<std::int8_t>(month);
    }
    return table;
}

constexpr MonthHeadTable kMonthHeadTable = MakeMonthHeadTable();

// A month written as a word: English, and the short names of a few other
// languages that servers write in their own locale. 0 when it is none.
int MonthFromWord(std::string_view word) {
    // Trailing punctuation of localized dates: "Okt.", "Juli,".
    while (!word.empty() && (word.back() == '.' || word.back() == ',')) {
        word.remove_suffix(1);
    }
    if (word.size() < 3) {
        return 0;
    }
    auto plainWord = [word] {
        for (char c : word) {
            if (IsDigit(c) || c == ':' || c == '-' || c == '/') {
                return false;
            }
        }
        return true;
    };
    auto code = [](char a, char b, char c) {
        return (static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 16) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8) |
               static_cast<unsigned char>(c);
    };
    const std::uint32_t head = code(AsciiUpper(word[0]), AsciiUpper(word[1]), AsciiUpper(word[2]));
    const std::uint32_t slot = MonthHeadSlot(head, kMonthHeadMultiplier);
    const int month = kMonthHeadTable.head[slot] == head ? kMonthHeadTable.month[slot] : 0;
    if (month != 0) {
        return plainWord() ? month : 0;
    }
    if (static_cast<unsigned char>(word[0]) < 0x80 && static_cast<unsigned char>(word[1]) < 0x80) {
        return 0;
    }
    static constexpr std::pair<std::string_view, int> kOther[] = {
        {"M\xc3\xa4r", 3},                // Mär
        {"F\xc3\xa9v", 2},                // Fév
        {"Ao\xc3\xbb", 8},                // Aoû
        {"D\xc3\xa9", 12},                // Déc
        {"M\xc3\xa1r", 3},                // Márc
        {"\xc3\x81pr", 4},                // Ápr
        {"M\xc3\xa1j", 5},                // Máj
        {"J\xc3\xban", 6},                // Jún
        {"J\xc3\xbal", 7},                // Júl
        {"\xd1\x8f\xd0\xbd\xd0\xb2", 1},  // янв
        {"\xd1\x84\xd0\xb5\xd0\xb2", 2},  // фев
        {"\xd0\xbc\xd0\xb0\xd1\x80", 3},  // мар
        {"\xd0\xb0\xd0\xbf\xd1\x80", 4},  // апр
        {"\xd0\xbc\xd0\xb0\xd0\xb9", 5},  // май
        {"\xd0\xbc\xd0\xb0\xd1\x8f", 5},  // мая
        {"\xd0\xb8\xd1\x8e\xd0\xbd", 6},  // июн
        {"\xd0\xb8\xd1\x8e\xd0\xbb", 7},  // июл
        {"\xd0\xb0\xd0\xb2\xd0\xb3", 8},  // авг
        {"\xd1\x81\xd0\xb5\xd0\xbd", 9},  // сен
        {"\xd0\xbe\xd0\xba\xd1\x82", 10}, // окт
        {"\xd0\xbd\xd0\xbe\xd1\x8f", 11}, // ноя
        {"\xd0\xb4\xd0\xb5\xd0\xba", 12}, // дек
    };
    for (const auto& [prefix, number] : kOther) {
        if (word.size() < prefix.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < prefix.size() && same; ++i) {
            same = AsciiUpper(word[i]) == AsciiUpper(prefix[i]);
        }
        if (same) {
            return plainWord() ? number : 0;
        }
    }
    return 0;
}

// A cheap first look: month words have three letters or more and start with
// one of these letters or a byte of a longer UTF-8 character.
bool MayBeMonth(std::string_view word) {
    if (word.size() < 3) {
        return false;
    }
    switch (AsciiUpper(word[0])) {
    case 'A':
    case 'D':
    case 'F':
    case 'J':
    case 'M':
    case 'N':
    case 'O':
    case 'S':
        return true;
    default:
        return static_cast<unsigned char>(word[0]) >= 0x80;
    }
}

// MonthFromWord for a column that is most often something else.
int MonthOfColumn(std::string_view word) {
    return MayBeMonth(word) ? MonthFromWord(word) : 0;
}

// Digits followed by one given sign ("3月", "2005년"); the number, or -1.
int NumberWithSign(std::string_view token, std::initializer_list<std::string_view> signs) {
    const std::size_t digits = LeadingDigits(token);
    if (digits == 0 || digits > 4) {
        return -1;
    }
    const std::string_view rest = token.substr(digits);
    for (std::string_view sign : signs) {
        if (rest == sign) {
            return SmallNumber(token);
        }
    }
    return -1;
}

const std::initializer_list<std::string_view> kYearSigns = {"\xe5\xb9\xb4", "\xeb\x85\x84"};
const std::initializer_list<std::string_view> kMonthSigns = {"\xe6\x9c\x88", "\xec\x9b\x94"};
const std::initializer_list<std::string_view> kDaySigns = {"\xe6\x97\xa5", "\xec\x9d\xbc"};

// H:MM, HH:MM, HH:M
[[gnu::always_inline]] inline bool ReadTime(std::string_view token, int& hour, int& minute) {
    const std::size_t h = LeadingDigits(token);
    if (h == 0 || h > 2 || h + 1 >= token.size() || token[h] != ':') {
        return false;
    }
    const std::string_view rest = token.substr(h + 1);
    if (rest.size() > 2 || !AllDigits(rest)) {
        return false;
    }
    hour = SmallNumber(token);
    minute = SmallNumber(rest);
    return true;
}

[[gnu::always_inline]] inline bool IsYear(std::string_view token) {
    return token.size() == 4 && AllDigits(token);
}

// D, DD, and with localized dates "D." or "DD,".
[[gnu::always_inline]] inline bool ReadDay(std::string_view token, int& day) {
    const std::size_t digits = LeadingDigits(token);
    if (digits == 0 || digits > 2) {
        return false;
    }
    const std::string_view rest = token.substr(digits);
    if (!rest.empty() && rest != "." && rest != ",") {
        return false;
    }
    day = SmallNumber(token);
    return true;
}

// "YYYY-MM-DD", "YYYY/MM/DD", "YYYY.MM.DD", "DD-MM-YYYY", "DD.MM.YYYY",
// "DD-mon-YY"; "MM-DD" is left to the caller (it needs a year or a time).
bool ReadDateToken(std::string_view token, ListedDate& date) {
    const std::size_t a = LeadingDigits(token);
    if (a == 0 || a >= token.size()) {
        return false;
    }
    const char sep = token[a];
    if (sep != '-' && sep != '/' && sep != '.') {
        return false;
    }
    const std::size_t second = token.find(sep, a + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    const std::string_view middle = token.substr(a + 1, second - a - 1);
    const std::string_view last = token.substr(second + 1);
    if (!AllDigits(last)) {
        return false;
    }
    const int n1 = SmallNumber(token);
    const int n3 = SmallNumber(last);
    if (AllDigits(middle)) {
        const int n2 = SmallNumber(middle);
        if (a == 4 && middle.size() <= 2 && last.size() <= 2) {
            date.year = n1;
            date.month = n2;
            date.day = n3;
        } else if (a <= 2 && middle.size() <= 2 && last.size() == 4) {
            // Day first, unless only the other order gives a month.
            date.year = n3;
            date.day = n1;
            date.month = n2;
            if (n2 > 12 && n1 <= 12) {
                std::swap(date.day, date.month);
            }
        } else {
            return false;
        }
        date.haveYear = true;
        return true;
    }
    if (sep == '-' && a <= 2 && (last.size() == 2 || last.size() == 4)) {
        const int month = MonthFromWord(middle);
        if (month == 0) {
            return false;
        }
        date.day = n1;
        date.month = month;
        date.year = last.size() == 2 ? (n3 < 70 ? 2000 + n3 : 1900 + n3) : n3;
        date.haveYear = true;
        return true;
    }
    return false;
}

// The size column before the date; kUnknownSize when it holds no size (a
// device's "major, minor", text). Sizes such as "33.5k" are read too.
FileSize ReadSize(const Token* tokens, int date) {
    const std::string_view size = tokens[date - 1].text();
    if (AllDigits(size)) {
        return DigitsSize(size);
    }
    const std::size_t whole = LeadingDigits(size);
    if (whole == 0) {
        return kUnknownSize;
    }
    std::size_t pos = whole;
    std::uint64_t tenths = 0;
    if (pos + 1 < size.size() && size[pos] == '.' && IsDigit(size[pos + 1])) {
        tenths = static_cast<std::uint64_t>(size[pos + 1] - '0');
        pos += 2;
    }
    if (pos + 1 != size.size()) {
        return kUnknownSize;
    }
    int shift = 0;
    switch (AsciiUpper(size[pos])) {
    case 'K':
        shift = 10;
        break;
    case 'M':
        shift = 20;
        break;
    case 'G':
        shift = 30;
        break;
    case 'T':
        shift = 40;
        break;
    default:
        return kUnknownSize;
    }
    const std::uint64_t units = LeadingNumber(size, std::uint64_t{1} << 20);
    if (units >= (std::uint64_t{1} << 20)) {
        return kUnknownSize;
    }
    return ((units * 10 + tenths) << shift) / 10;
}

bool IsSizeColumn(const Token* tokens, int date) {
    return date >= 2 && AllDigits(tokens[date - 1].text());
}

// A date starting at token k, in one of the forms servers write.
bool ReadDateAt(const Token* tokens, int count, int k, ListedDate& date) {
    auto at = [&](int i) { return i < count ? tokens[i].text() : std::string_view{}; };
    const std::string_view t0 = at(k);
    date.Start(k);
    // Year or time after month and day; with VShell's "Mon DD, YYYY" a time
    // may follow the year.
    auto yearOrTime = [&](int i) {
        const std::string_view t = at(i);
        if (IsYear(t)) {
            date.year = SmallNumber(t);
            date.haveYear = true;
            return true;
        }
        if (ReadTime(t, date.hour, date.minute)) {
            date.haveTime = true;
            return true;
        }
        return false;
    };
    auto optionalTime = [&](int i) {
        if (ReadTime(at(i), date.hour, date.minute)) {
            date.haveTime = true;
            ++date.count;
        }
    };

    if (t0.empty()) {
        return false;
    }
    if (!IsDigit(t0.front())) {
        // Mon DD YYYY|HH:MM, Mon DD, YYYY HH:MM
        const int month = MonthOfColumn(t0);
        if (month == 0 || !ReadDay(at(k + 1), date.day) || !yearOrTime(k + 2)) {
            return false;
        }
        date.month = month;
        date.count = 3;
        const bool comma = at(k + 1).back() == ',';
        if (comma && date.haveYear) {
            optionalTime(k + 3);
        }
        date.standardWidth = !comma && t0.size() == 3 && tokens[k + 2].end - tokens[k].begin == 12;
        return true;
    }
    if (!IsSizeColumn(tokens, k)) {
        return false;
    }
    // DD Mon YYYY|HH:MM, DD. Mon. YYYY, DD. Mon., HH:MM
    if (int day = 0; ReadDay(t0, day)) {
        if (const int month = MonthOfColumn(at(k + 1)); month != 0 && yearOrTime(k + 2)) {
            date.day = day;
            date.month = month;
            date.count = 3;
            return true;
        }
    }
    // A plain number starts none of these forms (most columns before the
    // date are plain numbers: link count, owner, group, size).
    const bool plainNumber = AllDigits(t0);
    if (!plainNumber) {
        // CJK: 3月 2 15:13, 3月 2日 2003年, 2005년 1월 6일
        if (int year = NumberWithSign(t0, kYearSigns); year >= 0) {
            const int month = NumberWithSign(at(k + 1), kMonthSigns);
            int day = NumberWithSign(at(k + 2), kDaySigns);
            if (day < 0 && AllDigits(at(k + 2)) && at(k + 2).size() <= 2) {
                day = SmallNumber(at(k + 2));
            }
            if (month < 0 || day < 0) {
                return false;
            }
            date.year = year;
            date.haveYear = true;
            date.month = month;
            date.day = day;
            date.count = 3;
            optionalTime(k + 3);
            return true;
        }
        if (int month = NumberWithSign(t0, kMonthSigns); month >= 0) {
            int day = NumberWithSign(at(k + 1), kDaySigns);
            if (day < 0 && !(AllDigits(at(k + 1)) && at(k + 1).size() <= 2)) {
                return false;
            }
            date.day = day >= 0 ? day : SmallNumber(at(k + 1));
            date.month = month;
            const std::string_view third = at(k + 2);
            if (const int year = NumberWithSign(third, kYearSigns); year >= 0) {
                date.year = year;
                date.haveYear = true;
            } else if (!yearOrTime(k + 2)) {
                return false;
            }
            date.count = 3;
            return true;
        }
        // MM-DD YYYY|HH:MM
        if (t0.size() == 5 && t0[2] == '-' && LeadingDigits(t0) == 2 &&
            LeadingDigits(t0.substr(3)) == 2) {
            if (!yearOrTime(k + 1)) {
                return false;
            }
            date.month = SmallNumber(t0);
            date.day = SmallNumber(t0.substr(3));
            date.count = 2;
            return true;
        }
        // Dates in one token, maybe with a time after them.
        if (ReadDateToken(t0, date)) {
            date.count = 1;
            optionalTime(k + 1);
            return true;
        }
    }
    // M D HH:MM|YYYY, the month as a number
    if (int day = 0; plainNumber && t0.size() <= 2 && AllDigits(at(k + 1)) &&
                     ReadDay(at(k + 1), day) && yearOrTime(k + 2)) {
        const int month = SmallNumber(t0);
        if (month >= 1 && month <= 12 && day >= 1 && day <= 31) {
            date.month = month;
            date.day = day;
            date.count = 3;
            return true;
        }
    }
    return false;
}

// Where no known form fits: a word, a day and a year or time after a size,
// as in "Jam  4 00:03" or "Dec 02  209". The columns are clear, the date is
// not.
bool ReadDateColumnsAt(const Token* tokens, int count, int k, ListedDate& date) {
    if (k + 2 >= count || !IsSizeColumn(tokens, k) || IsDigit(tokens[k].text().front())) {
        return false;
    }
    const std::string_view day = tokens[k + 1].text();
    const std::string_view last = tokens[k + 2].text();
    const std::size_t colon = last.find(':');
    const bool yearLike = AllDigits(last) && last.size() <= 4;
    const bool timeLike = colon != std::string_view::npos && colon > 0 &&
                          AllDigits(last.substr(0, colon)) && AllDigits(last.substr(colon + 1));
    if (!AllDigits(day) || day.size() > 2 || !(yearLike || timeLike)) {
        return false;
    }
    date.Start(k);
    date.count = 3;
    date.certain = false;
    return true;
}

// The time of a listed date; nothing when it is not a real date.
std::optional<std::time_t> DateToTime(const ListedDate& date, ListingClock& clock) {
    if (!date.certain) {
        return std::nullopt;
    }
    int year = date.year;
    if (!date.haveYear) {
        year = clock.YearFor(date.month, date.day);
    } else {
        year = std::clamp(year, 1980, 2030);
    }
    const int hour = date.haveTime ? date.hour : 0;
    const int minute = date.haveTime ? date.minute : 0;
    if (hour == 24 && minute == 0 && IsValidDate(year, date.month, date.day)) {
        // "24:00" is midnight at the end of the day.
        int month = date.month;
        int day = date.day + 1;
        if (day > DaysInMonth(year, month)) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
        return clock.ToTime(year, month, day, 0, 0, 0);
    }
    return clock.ToTime(year, date.month, date.day, hour, minute, 0);
}

// The kind of a UNIX mode: '-' file, 'd' folder, 'l' link, other kinds of
// items are files; 0 when the line is no entry.
char EntryKind(std::string_view mode) {
    // A mode has ten characters (more with an ACL mark or a link count run
    // into it); Hylafax writes seven.
    if (mode.size() < 10 && mode.size() != 7) {
        return 0;
    }
    switch (mode.front()) {
    case '-':
    case 'd':
    case 'l':
        return mode.front();
    case 'b': // block device
    case 'c': // character device
    case 'p': // named pipe
    case 's': // socket
    case 'f': // plain file (some servers)
    case 'a': // Plan 9 append-only file
        return '-';
    default:
        return 0;
    }
}

// Where the search for the date can start: the third column, or the sixth
// in vsftpd's layout, whose link count, owner, group and size are numbers
// followed by a word (the month) and a day of one or two digits. No date
// can start in the columns between then: a number starts only "DD Mon X"
// (the column after the owner, group or size is a number or the word, and
// the column after the word is the day, neither a year nor a time) or
// "M D X" (the size is followed by the word; the group by the size and the
// word; the owner by the group and the size, which is a year only with four
// digits: that case takes the full search).
int FirstDateColumn(const Token* tokens, int count) {
    if (count < 7) {
        return 2;
    }
    for (int i = 1; i <= 4; ++i) {
        if (!AllDigits(tokens[i].text())) {
            return 2;
        }
    }
    const std::string_view word = tokens[5].text();
    const std::string_view day = tokens[6].text();
    if (IsDigit(word.front()) || !AllDigits(day) || day.size() > 2) {
        return 2;
    }
    if (tokens[2].size <= 2 && tokens[3].size <= 2 && tokens[4].size == 4) {
        return 2;
    }
    return 5;
}

// UNIX long listing; the MacOS servers write it with fewer columns before the
// size, which the search for the date copes with.
bool ParseUnixStyle(std::string_view line, const ListingContext& context,
                    CFTPFolderContent& content, ListingState& state, bool mac) {
    Token tokens[kMaxTokens];
    const int count = Tokenize(line, tokens);
    if (count < 2) {
        return false;
    }
    const char kind = EntryKind(tokens[0].text());
    if (kind == 0) {
        return false;
    }

    // The date is the first one after the permissions and some column: owner
    // and group may be missing or hold spaces, so columns are not counted.
    ListedDate date;
    bool found = false;
    bool repeated = false; // the date of the line before
    RepeatedDate& last = state.lastDate;
    for (int k = FirstDateColumn(tokens, count); k < count && !found; ++k) {
        repeated = k + 2 < count && last.Is(line, tokens[k].begin, tokens[k + 2].end);
        if (repeated) {
            date = last.date;
            date.first = k;
            found = true;
        } else {
            found = ReadDateAt(tokens, count, k, date);
        }
    }
    for (int k = 2; k < count && !found; ++k) {
        found = ReadDateColumnsAt(tokens, count, k, date);
    }
    std::size_t nameStart = 0;
    FileSize size = kUnknownSize;
    if (found) {
        nameStart = tokens[date.first + date.count - 1].end;
        size = ReadSize(tokens, date.first);
        // A device's "major, minor" stands where the size does.
        if (const std::string_view major = tokens[date.first - 2].text();
            date.first >= 3 && major.size() > 1 && major.back() == ',' &&
            AllDigits(major.substr(0, major.size() - 1))) {
            size = kUnknownSize;
        }
    } else if (!mac && count == 6 && AllDigits(tokens[1].text()) && AllDigits(tokens[4].text())) {
        // No date at all: permissions, link count, owner, group, size and a
        // name of one word.
        nameStart = tokens[4].end;
        size = SizeNumber(tokens[4].text());
        date.certain = false;
    } else {
        return false;
    }

    // One space separates the name; more spaces may belong to it.
    if (nameStart < line.size()) {
        ++nameStart;
    }
    std::string_view name = line.substr(std::min(nameStart, line.size()));
    const std::size_t padding = std::min(name.find_first_not_of(' '), name.size());
    // The 12 columns of ls's own date leave no doubt where the name starts.
    const bool keepPadding = date.standardWidth;
    if (!keepPadding) {
        name.remove_prefix(padding);
    }

    std::string_view target;
    if (kind == 'l') {
        // "name -> target"; a second arrow leaves no certain reading.
        static constexpr std::string_view kArrow = " -> ";
        const std::size_t arrow = name.find(kArrow);
        if (arrow != std::string_view::npos) {
            if (name.find(kArrow, arrow + kArrow.size()) != std::string_view::npos) {
                return false;
            }
            target = name.substr(arrow + kArrow.size());
            name = name.substr(0, arrow);
        }
    }
    if (!IsEntryName(name)) {
        return false;
    }

    std::time_t time = last.time;
    if (!repeated) {
        time = DateToTime(date, state.clock).value_or(state.clock.Unknown());
        if (found && date.certain && date.count == 3 && !IsDigit(tokens[date.first].data[0]) &&
            tokens[date.first + 1].data[tokens[date.first + 1].size - 1] != ',') {
            last.Remember(line, tokens[date.first].begin, tokens[date.first + 2].end, date, time);
        }
    }
    target = AbsoluteLink(target, context, state.link);
    const bool isFile = kind == '-';
    const bool nameCertain = padding == 0 || keepPadding || !state.collectColumns;
    if (state.unrecorded && nameCertain && target.data() != state.link.data()) {
        state.unrecorded->push_back(ListedEntry{name, target, time, size, isFile});
        if (state.collectColumns && nameStart < line.size()) {
            state.NameAt(nameStart);
        }
        return true;
    }
    const std::size_t index = content.AddListed(name, isFile, time, size, target);
    if (state.collectColumns && nameStart < line.size()) {
        if (padding == 0 || keepPadding) {
            state.NameAt(nameStart);
        } else {
            state.pending.push_back({isFile, index, nameStart,
                                     std::string(name.data() - padding, padding + name.size())});
        }
    }
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

using LineParser = bool (*)(std::string_view, const ListingContext&, CFTPFolderContent&,
                            ListingState&);

bool ReadUnixLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content,
                  ListingState& state) {
    return ParseUnixStyle(line, context, content, state, false);
}

bool ReadMacLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content,
                 ListingState& state) {
    return ParseUnixStyle(line, context, content, state, true);
}

bool ReadNtLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content,
                ListingState& state) {
    if (line.empty()) {
        return false;
    }
    if (line.front() == '-' || line.front() == 'd' || line.front() == 'l') {
        return ParseUnixStyle(line, context, content, state, false);
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
    content.AddListed(name, isFile, EntryTime(state.clock, year, month, day, hour, minute, 0), size,
                      {});
    return true;
}

bool ReadVmsLine(std::string_view line, const ListingContext&, CFTPFolderContent& content,
                 ListingState& state) {
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
        year = state.clock.YearFor(1, 1);
    }
    content.AddListed(name, isFile, EntryTime(state.clock, year, month, day, hour, minute, second),
                      size, {});
    return true;
}

// --- Machine-readable listings (MLSD, RFC 3659) --------------------------------

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// "YYYYMMDDHHMMSS" with optional ".fraction", in UTC.
std::optional<std::time_t> MlsdTime(std::string_view value) {
    if (value.size() < 14 || LeadingDigits(value) < 14 ||
        (value.size() > 14 && (value[14] != '.' || LeadingDigits(value.substr(15)) == 0 ||
                               15 + LeadingDigits(value.substr(15)) != value.size()))) {
        return std::nullopt;
    }
    auto number = [value](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            v = v * 10 + (value[i] - '0');
        }
        return v;
    };
    const int year = number(0, 4);
    const int month = number(4, 2);
    const int day = number(6, 2);
    const int hour = number(8, 2);
    const int minute = number(10, 2);
    const int second = number(12, 2);
    // A leap second ("60") is taken as the last second of its minute.
    if (!IsValidDate(year, month, day) || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    const std::int64_t t =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + std::min(second, 59);
    return static_cast<std::time_t>(t); // years 1 to 9999 fit a 64-bit time_t
}

// "fact=value;fact=value; name": the facts end at the first ";" followed by
// a space; the name is everything after that one space, as it is.
bool ReadMlsdLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content,
                  ListingState& state) {
    enum class Kind { File, Folder, Link, Skip };
    Kind kind = Kind::File;
    FileSize size = kUnknownSize;
    std::optional<std::time_t> time;
    std::string_view target;
    std::size_t pos = 0;
    while (pos < line.size() && line[pos] != ' ') {
        const std::size_t semi = line.find(';', pos);
        if (semi == std::string_view::npos) {
            return false; // no name
        }
        const std::string_view fact = line.substr(pos, semi - pos);
        pos = semi + 1;
        const std::size_t eq = fact.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        const std::string_view key = fact.substr(0, eq);
        const std::string_view value = fact.substr(eq + 1);
        if (EqualsNoCase(key, "type")) {
            target = {}; // the last type fact counts, with its target
            if (EqualsNoCase(value, "file")) {
                kind = Kind::File;
            } else if (EqualsNoCase(value, "dir")) {
                kind = Kind::Folder;
            } else if (EqualsNoCase(value, "cdir") || EqualsNoCase(value, "pdir")) {
                kind = Kind::Skip;
            } else if (EqualsNoCase(value, "OS.unix=symlink")) {
                kind = Kind::Link;
            } else if (StartsNoCase(value, "OS.unix=slink:")) {
                kind = Kind::Link;
                target = value.substr(14);
            } else {
                kind = Kind::File; // devices, pipes, other systems' kinds
            }
        } else if (EqualsNoCase(key, "size")) {
            if (AllDigits(value)) {
                size = SizeNumber(value);
            }
        } else if (EqualsNoCase(key, "modify")) {
            time = MlsdTime(value);
        }
    }
    if (kind == Kind::Skip || pos >= line.size()) {
        return false;
    }
    const std::string_view name = line.substr(pos + 1);
    if (!IsEntryName(name)) {
        return false;
    }
    target = AbsoluteLink(target, context, state.link);
    const bool isFile = kind == Kind::File;
    if (!isFile && size == kUnknownSize) {
        size = 0;
    }
    content.AddListed(name, isFile, time ? *time : state.clock.Unknown(), size, target);
    return true;
}

LineParser ParserFor(int serverType) {
    switch (serverType) {
    case kMlsdListing:
        return &ReadMlsdLine;
    case CFTPConstants::SERVER_UNIX:
    case 1: // "UNIX" in the reply to SYST
        return &ReadUnixLine;
    case CFTPConstants::SERVER_MACOS_PETER:
        return &ReadMacLine;
    case CFTPConstants::SERVER_VMS:
        return &ReadVmsLine;
    case CFTPConstants::SERVER_NT:
        return &ReadNtLine;
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
    ListingState state(context.now);
    return ReadUnixLine(line, context, content, state);
}

bool ParseMacLine(std::string_view line, const ListingContext& context,
                  CFTPFolderContent& content) {
    ListingState state(context.now);
    return ReadMacLine(line, context, content, state);
}

bool ParseNtLine(std::string_view line, const ListingContext& context, CFTPFolderContent& content) {
    ListingState state(context.now);
    return ReadNtLine(line, context, content, state);
}

bool ParseVmsLine(std::string_view line, const ListingContext& context,
                  CFTPFolderContent& content) {
    ListingState state(context.now);
    return ReadVmsLine(line, context, content, state);
}

bool ParseMlsdLine(std::string_view line, const ListingContext& context,
                   CFTPFolderContent& content) {
    ListingState state(context.now);
    return ReadMlsdLine(line, context, content, state);
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

// The state of a listing read as it arrives.
struct ListingReader::Impl {
    Impl(int serverType, ListingContext listingContext, CFTPFolderContent& into)
        : parse(ParserFor(serverType)), vms(serverType == CFTPConstants::SERVER_VMS),
          context(std::move(listingContext)), content(into), state(context.now) {
        state.clock.UseOffsetCache();
        state.collectColumns = !vms && serverType != kMlsdListing;
    }

    const LineParser parse;
    const bool vms;
    const ListingContext context;
    CFTPFolderContent& content;
    ListingState state;
    std::string carry;       // the start of a line whose end has not arrived
    std::uint64_t fed = 0;   // bytes of the pieces before the current one
    bool stopped = false;    // the progress callback asked to stop
    std::string wrappedName; // VMS: a name line waiting for its continuation
    bool haveWrappedName = false;
    Entries entries;                // the new entries go here (when set)
    std::vector<ListedEntry> fresh; // those of the current piece
    bool keep = true;               // told entries stay in `content`
    std::size_t dropped = 0;        // told entries that left it
    std::size_t unrecorded = 0;     // told entries that never entered it

    // One line, `bytesRead` being where its end is in the whole listing.
    // `stays`: the line's text lasts until the piece's entries are told
    // (a line carried over from the piece before does not).
    bool Line(std::string_view line, std::uint64_t bytesRead, const Progress& progress,
              bool stays) {
        if (!entries) {
            return ParseLine(line, bytesRead, progress);
        }
        const std::size_t folders = content.GetFolders().GetSize();
        const std::size_t files = content.GetFiles().GetSize();
        const std::size_t pending = state.pending.size();
        const std::size_t told = fresh.size();
        state.unrecorded = !keep && stays ? &fresh : nullptr;
        const bool going = ParseLine(line, bytesRead, progress);
        state.unrecorded = nullptr;
        if (!going) {
            return false; // stopped before the line; what was read is told
        }
        unrecorded += fresh.size() - told;
        if (state.pending.size() == pending) {
            // (A pending name is told once the listing is whole.)
            Collect(content.GetFolders(), folders);
            Collect(content.GetFiles(), files);
        }
        return true;
    }

    void Collect(const CFTPFileArray& array, std::size_t from) {
        for (std::size_t i = from; i < array.GetSize(); ++i) {
            fresh.push_back(AsListedEntry(*array.GetAt(i)));
        }
    }

    void TellEntries() {
        if (entries && !fresh.empty()) {
            entries(fresh);
            fresh.clear();
        }
        if (!keep) {
            Drop();
        }
    }

    // The told entries leave the content, whose memory takes the next ones;
    // the pending ones (not told yet) stay.
    void Drop() {
        CFTPFileArray& files = content.GetFiles();
        CFTPFileArray& folders = content.GetFolders();
        const std::size_t count = files.GetSize() + folders.GetSize();
        std::vector<CFTPFile> pending;
        pending.reserve(state.pending.size());
        for (const ListingState::PendingName& p : state.pending) {
            pending.push_back(*(p.isFile ? files : folders).GetAt(p.index));
        }
        files.Clear();
        folders.Clear();
        for (std::size_t i = 0; i < pending.size(); ++i) {
            const CFTPFile& f = pending[i];
            state.pending[i].index =
                content.AddListed(f.m_strName, f.m_bFile, f.m_time, f.m_nSize, f.m_strLink);
        }
        dropped += count - pending.size();
    }

    std::size_t Count() const {
        return dropped + unrecorded + content.GetFiles().GetSize() + content.GetFolders().GetSize();
    }

    // Gives the pending names their leading spaces, where certain, and tells
    // their entries.
    void Resolve() {
        state.Resolve(content, [this](const CFTPFile& entry) {
            if (entries) {
                fresh.push_back(AsListedEntry(entry));
            }
        });
        TellEntries();
    }

    bool ParseLine(std::string_view line, std::uint64_t bytesRead, const Progress& progress) {
        if (progress && !progress(bytesRead)) {
            stopped = true;
            Resolve();
            return false;
        }
        if (line.empty()) {
            return true;
        }
        if (!vms) {
            parse(line, context, content, state);
            return true;
        }
        if (haveWrappedName) {
            haveWrappedName = false;
            if (IsVmsContinuation(line)) {
                wrappedName += ' ';
                wrappedName += line;
                ReadVmsLine(wrappedName, context, content, state);
                return true;
            }
            ReadVmsLine(wrappedName, context, content, state);
        }
        if (IsWrappedVmsName(line)) {
            wrappedName.assign(line);
            haveWrappedName = true;
            return true;
        }
        ReadVmsLine(line, context, content, state);
        return true;
    }

    // Where the line from `start` on ends in `piece` (its first LF or CR),
    // and where the next one starts; false when the end has not arrived. A
    // CR as the last byte waits too: an LF may follow in the next piece.
    static bool LineEnd(std::string_view piece, std::size_t start, std::size_t& end,
                        std::size_t& next) {
        const std::size_t size = piece.size();
        if (start >= size) {
            return false; // an empty piece (its data may be null) or its end
        }
        end = start + FirstBreak(piece.data() + start, size - start);
        if (end == size) {
            return false;
        }
        if (piece[end] == '\r') {
            // A CR takes the LF of a CR LF with it.
            if (end + 1 == size) {
                return false;
            }
            next = end + (piece[end + 1] == '\n' ? 2 : 1);
            return true;
        }
        next = end + 1;
        return true;
    }

    bool Feed(std::string_view piece, const Progress& progress) {
        if (!parse || stopped) {
            return false;
        }
        std::size_t pos = 0;
        std::size_t end = 0;
        std::size_t next = 0;
        if (!carry.empty()) {
            // The carried line ends in this piece, or goes on past it.
            if (carry.back() == '\r') {
                if (piece.empty()) {
                    return true;
                }
                carry.pop_back();
                pos = piece[0] == '\n' ? 1 : 0;
            } else if (LineEnd(piece, 0, end, next)) {
                carry.append(piece.data(), end);
                pos = next;
            } else {
                carry.append(piece);
                fed += piece.size();
                return true;
            }
            if (!Line(carry, fed + pos, progress, false)) {
                return false;
            }
            carry.clear();
        }
        const std::size_t size = piece.size();
        while (pos < size) {
            if (!LineEnd(piece, pos, end, next)) {
                carry.assign(piece.data() + pos, size - pos);
                break;
            }
            if (!Line(piece.substr(pos, end - pos), fed + next, progress, true)) {
                return false;
            }
            pos = next;
        }
        fed += size;
        TellEntries();
        return true;
    }

    ListingParse Finish(const Progress& progress) {
        if (!parse) {
            return ListingParse::Unsupported;
        }
        if (stopped) {
            return ListingParse::Stopped;
        }
        if (!carry.empty()) {
            // The last line, without an end (or with a lone CR).
            if (carry.back() == '\r') {
                carry.pop_back();
            }
            const bool read = Line(carry, fed, progress, false);
            carry.clear();
            if (!read) {
                return ListingParse::Stopped;
            }
        }
        if (haveWrappedName) {
            haveWrappedName = false;
            const std::size_t folders = content.GetFolders().GetSize();
            const std::size_t files = content.GetFiles().GetSize();
            ReadVmsLine(wrappedName, context, content, state);
            if (entries) {
                Collect(content.GetFolders(), folders);
                Collect(content.GetFiles(), files);
            }
        }
        Resolve();
        return ListingParse::Done;
    }
};

ListingReader::ListingReader(int serverType, ListingContext context, CFTPFolderContent& content)
    : m_impl(std::make_unique<Impl>(serverType, std::move(context), content)) {}

ListingReader::~ListingReader() = default;

bool ListingReader::IsSupported() const {
    return m_impl->parse != nullptr;
}

bool ListingReader::Feed(std::string_view piece, const Progress& progress) {
    return m_impl->Feed(piece, progress);
}

ListingParse ListingReader::Finish(const Progress& progress) {
    return m_impl->Finish(progress);
}

void ListingReader::SetEntries(Entries entries, bool keep) {
    m_impl->entries = std::move(entries);
    m_impl->keep = keep;
}

std::size_t ListingReader::Count() const {
    return m_impl->Count();
}

ListingParse ParseListingText(int serverType, std::string_view listing,
                              const ListingContext& context, CFTPFolderContent& content,
                              const std::function<bool(std::uint64_t bytesRead)>& progress) {
    ListingReader reader(serverType, context, content);
    if (!reader.IsSupported()) {
        return ListingParse::Unsupported;
    }
    if (!reader.Feed(listing, progress)) {
        return ListingParse::Stopped;
    }
    return reader.Finish(progress);
}

} // namespace qb
