#include "kelpo32/saved/scan_time.h"

#include <array>
#include <cstdio>

namespace kelpo32::saved {

namespace {

constexpr std::int64_t Day = 86400;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t Year;
    unsigned Month;
    unsigned Day;
};

Civil CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

bool Digits(std::string_view text, std::size_t at, std::size_t n, unsigned& out) {
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

} // namespace

std::string UtcDate(std::int64_t seconds) {
    Civil c = CivilFromDays(FloorDiv(seconds, Day));
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04lld-%02u-%02u", static_cast<long long>(c.Year),
                  c.Month, c.Day);
    return text.data();
}

std::string UtcText(std::int64_t seconds) {
    const std::int64_t inDay = seconds - FloorDiv(seconds, Day) * Day;
    std::array<char, 16> clock{};
    std::snprintf(clock.data(), clock.size(), "T%02d:%02d:%02dZ", static_cast<int>(inDay / 3600),
                  static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60));
    return UtcDate(seconds) + clock.data();
}

bool ParseUtc(std::string_view text, std::int64_t& seconds) {
    // 0123456789012345678 9
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return false;
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) || !Digits(text, 8, 2, d) ||
        !Digits(text, 11, 2, h) || !Digits(text, 14, 2, mi) || !Digits(text, 17, 2, s))
        return false;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return false;
    const std::int64_t days = DaysFromCivil(y, mo, d);
    // A day past the month's end comes back as another date.
    Civil back = CivilFromDays(days);
    if (back.Month != mo || back.Day != d) return false;
    seconds = days * Day + std::int64_t{h} * 3600 + std::int64_t{mi} * 60 + s;
    return true;
}

} // namespace kelpo32::saved
