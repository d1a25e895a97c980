#include "kelpo32/output/growth_fields.h"

#include "kelpo32/saved/scan_time.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace kelpo32::output {

std::string Sparkline(std::span<const std::int64_t> samples, bool utf8, std::size_t width) {
    static constexpr std::array<std::string_view, 8> Blocks = {
        "\u2581", "\u2582", "\u2583", "\u2584", "\u2585", "\u2586", "\u2587", "\u2588"};
    static constexpr std::string_view Ascii = "_.-=+*#@";
    const std::size_t n = samples.size();
    const std::size_t w = width == 0 || width > n ? n : width;
    std::int64_t low = -1;
    std::int64_t high = -1;
    for (std::int64_t s : samples) {
        if (s < 0) continue;
        low = low < 0 ? s : std::min(low, s);
        high = std::max(high, s);
    }
    std::string chart;
    for (std::size_t i = 0; i < w; ++i) {
        std::size_t at = w == 1 ? n - 1 : (i * (n - 1) + (w - 1) / 2) / (w - 1);
        std::int64_t s = samples[at];
        if (s < 0) {
            chart += ' ';
            continue;
        }
        // The middle block where all are equal.
        std::size_t level =
            high == low ? 3
                        : static_cast<std::size_t>(std::lround(static_cast<double>(s - low) * 7.0 /
                                                               static_cast<double>(high - low)));
        level = std::min<std::size_t>(level, 7);
        if (utf8)
            chart += Blocks[level];
        else
            chart += Ascii[level];
    }
    return chart;
}

std::span<const std::int64_t> SeriesOf(const GrowthHead& head, std::int32_t series) {
    const std::size_t n = head.Times.size();
    if (series < 0 || n == 0) return {};
    return head.Samples.subspan(static_cast<std::size_t>(series) * n, n);
}

std::string SpanWords(std::int64_t seconds) {
    constexpr std::int64_t Day = 86400;
    auto plural = [](std::int64_t n, const char* unit) {
        return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
    };
    if (seconds < 3600) return plural((seconds + 30) / 60, "minute");
    if (seconds < 2 * Day) return plural((seconds + 1800) / 3600, "hour");
    return plural((seconds + Day / 2) / Day, "day");
}

std::string ForecastText(const GrowthHead& h, SizeUnits units) {
    std::string line = "file system: ";
    if (h.FsSize < 0 || h.FsFree < 0) return line + "size and free space not known";
    line += FormatSize(h.FsSize, units) + (units == SizeUnits::Exact ? " bytes, " : ", ") +
            FormatSize(h.FsFree, units) + " free, ";
    if (!h.RateKnown) return line + "no forecast before two scans at different times";
    if (h.FullAt < 0) return line + "not filling";
    return line + "full in " + SpanWords(h.FullAt - h.Now) + " (about " + saved::UtcDate(h.FullAt) +
           ")";
}

std::string ForecastDate(std::int64_t seconds) {
    return saved::UtcDate(seconds);
}

std::string WindowText(const GrowthHead& h) {
    return "growth over " + SpanWords(h.Span) + " of " + std::to_string(h.Scans) +
           (h.Scans == 1 ? " scan" : " scans") + ", the newest of " + saved::UtcText(h.Now);
}

} // namespace kelpo32::output
