// What the forms of a growth write alike: a directory's sizes in the
// window's scans as a small chart, the file system's forecast, a span in
// words.
#pragma once

#include "kelpo32/output/dir_row.h"
#include "kelpo32/output/sizes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kelpo32::output {

// "▁▂▃▄▅▆▇█" (or "_.-=+*#@" where the characters are ASCII); a scan that
// does not tell the size is a blank. At most `width` characters (0: one
// per scan): the scans then taken evenly, the first and the last among them.
std::string Sparkline(std::span<const std::int64_t> samples, bool utf8, std::size_t width = 0);
// The sizes of row `series` in the head's table.
std::span<const std::int64_t> SeriesOf(const GrowthHead& head, std::int32_t series);

// "5 minutes", "36 hours", "12 days".
std::string SpanWords(std::int64_t seconds);
// The file system's line: "file system: SIZE bytes, FREE free, full in 12
// days (about 2026-12-22)", or "not filling", or why there is no forecast.
std::string ForecastText(const GrowthHead& head, SizeUnits units);
// "2026-12-22": the day of a time, UTC.
std::string ForecastDate(std::int64_t seconds);
// The window's: "growth over 7 days of 8 scans, the newest of TIME".
std::string WindowText(const GrowthHead& head);

} // namespace kelpo32::output
