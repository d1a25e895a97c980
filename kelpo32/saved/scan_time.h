// When a scan was made, as seconds since 1970-01-01 UTC and as the text a
// kept scan writes ("2026-12-10T14:46:38Z"), the same on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelpo32::saved {

// "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(std::int64_t seconds);
// "YYYY-MM-DD".
std::string UtcDate(std::int64_t seconds);
// Reads UtcText's form exactly; false for anything else (a month 13, a
// 31st of April, a year before 1970 or after 9999).
bool ParseUtc(std::string_view text, std::int64_t& seconds);

} // namespace kelpo32::saved
