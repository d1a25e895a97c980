// Byte counts as the user types them and as the layout of totals writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelpo32::output {

// How byte counts are written: exact with grouped digits, or human-readable
// in powers of 1024 (--human-readable) or of 1000 (--si).
enum class SizeUnits : std::uint8_t { Exact, Binary, Si };

// Reads a size: digits with an optional K, M, G, T, P (powers of 1024; also
// KiB ... PiB) or KB, MB, GB, TB, PB (powers of 1000), the letters in any
// case. False for anything else, a negative number or a value beyond 64 bits.
bool ParseSize(std::string_view text, std::int64_t& value);

// Writes a byte count: exact with "," between groups of three digits, or
// rounded up to the next tenth below 10 and to a whole number above, with
// K, M, G, T, P, E for powers of 1024 or k, M, G, T, P, E for powers of 1000
// ("1023", "1.0K", "340M"). Negative values get "-"; with `plus`, positive
// ones get "+" (a change between two scans).
std::string FormatSize(std::int64_t bytes, SizeUnits units, bool plus = false);

} // namespace kelpo32::output
