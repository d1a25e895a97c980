#include "kelpo32/output/sizes.h"

#include <array>
#include <charconv>

namespace kelpo32::output {

namespace {

constexpr std::array<char, 6> BinaryLetters{'K', 'M', 'G', 'T', 'P', 'E'};
constexpr std::array<char, 6> SiLetters{'k', 'M', 'G', 'T', 'P', 'E'};
constexpr std::string_view SuffixLetters = "KMGTP";

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

void AppendDigits(std::string& out, std::uint64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

void AppendGrouped(std::string& out, std::uint64_t value) {
    std::string digits;
    AppendDigits(digits, value);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
}

// Rounds up, as du does, so a size is never shown smaller than it is.
void AppendHuman(std::string& out, std::uint64_t value, std::uint64_t base,
                 const std::array<char, 6>& letters) {
    if (value < base) {
        AppendDigits(out, value);
        return;
    }
    std::size_t power = 0;
    std::uint64_t unit = base;
    while (power + 1 < letters.size() && value / unit >= base) {
        unit *= base;
        ++power;
    }
    std::uint64_t whole = value / unit;
    std::uint64_t rest = value % unit;
    // rest < unit <= base^6 < 2^64 / 10: the product cannot overflow.
    std::uint64_t tenths = whole * 10 + (rest * 10 + unit - 1) / unit;
    if (tenths < 100) {
        AppendDigits(out, tenths / 10);
        out += '.';
        AppendDigits(out, tenths % 10);
        out += letters[power];
        return;
    }
    std::uint64_t up = whole + (rest != 0 ? 1 : 0);
    if (up >= base && power + 1 < letters.size()) {
        // 1023.9K rounds to 1024K: one unit of the next power.
        out += "1.0";
        out += letters[power + 1];
        return;
    }
    AppendDigits(out, up);
    out += letters[power];
}

} // namespace

bool ParseSize(std::string_view text, std::int64_t& value) {
    std::uint64_t number = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), number);
    if (res.ec != std::errc() || text.empty() || text[0] < '0' || text[0] > '9') return false;
    std::string_view suffix = text.substr(static_cast<std::size_t>(res.ptr - text.data()));
    std::uint64_t base = 1024;
    std::size_t power = 0;
    if (!suffix.empty()) {
        std::size_t letter = SuffixLetters.find(Upper(suffix[0]));
        if (letter == std::string_view::npos) return false;
        power = letter + 1;
        std::string_view after = suffix.substr(1);
        if (after.size() == 1 && Upper(after[0]) == 'B')
            base = 1000;
        else if (!(after.empty() ||
                   (after.size() == 2 && Upper(after[0]) == 'I' && Upper(after[1]) == 'B')))
            return false;
    }
    constexpr std::uint64_t Max = static_cast<std::uint64_t>(INT64_MAX);
    for (std::size_t p = 0; p < power; ++p) {
        if (number > Max / base) return false;
        number *= base;
    }
    if (number > Max) return false;
    value = static_cast<std::int64_t>(number);
    return true;
}

std::string FormatSize(std::int64_t bytes, SizeUnits units, bool plus) {
    std::string out;
    if (bytes < 0)
        out += '-';
    else if (plus && bytes > 0)
        out += '+';
    // The magnitude of INT64_MIN is one more than INT64_MAX: taken unsigned.
    std::uint64_t magnitude =
        bytes < 0 ? 0 - static_cast<std::uint64_t>(bytes) : static_cast<std::uint64_t>(bytes);
    switch (units) {
    case SizeUnits::Exact:
        AppendGrouped(out, magnitude);
        break;
    case SizeUnits::Binary:
        AppendHuman(out, magnitude, 1024, BinaryLetters);
        break;
    case SizeUnits::Si:
        AppendHuman(out, magnitude, 1000, SiLetters);
        break;
    }
    return out;
}

} // namespace kelpo32::output
