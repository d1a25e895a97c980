#include "kelpo32/output/metrics/prometheus.h"

#include "kelpo32/output/fields.h"
#include "runtime/textsafe.h"

#include <charconv>

namespace kelpo32::output::metrics {

namespace {

struct Family {
    std::string_view Name;
    std::string_view Help;
};

constexpr Family StartTime{"kelpo32_scan_start_time_seconds",
                           "When the scan began, in seconds since the Unix epoch."};
constexpr Family Duration{"kelpo32_scan_duration_seconds", "How long the scan took."};
constexpr Family Unreadable{
    "kelpo32_scan_unreadable_directories",
    "Directories the scan could not read, or read only in part; their numbers are what was read."};
constexpr Family Completed{"kelpo32_scan_completed",
                           "1 when the scan went through the whole tree."};
constexpr Family Sizes{"kelpo32_directory_size_bytes",
                       "Bytes of the files in the directory and below it (with --disk-usage the "
                       "space they take on disk)."};
constexpr Family Files{"kelpo32_directory_files", "Files in the directory and below it."};
constexpr Family RestSizes{"kelpo32_directory_rest_size_bytes",
                           "Bytes below the subdirectories of the directory that --top leaves "
                           "out, together."};
constexpr Family RestFiles{"kelpo32_directory_rest_files",
                           "Files below the subdirectories of the directory that --top leaves "
                           "out, together."};
constexpr Family RestDirs{"kelpo32_directory_rest_directories",
                          "Subdirectories of the directory that --top leaves out."};

void AppendHex(std::string& out, unsigned char byte) {
    static constexpr char Hex[] = "0123456789abcdef";
    // The value's "\x" with the format's escape of its backslash.
    out += "\\\\x";
    out += Hex[byte >> 4];
    out += Hex[byte & 15];
}

bool IsControl(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Milliseconds as seconds with three decimals.
void AppendSeconds(std::string& out, std::int64_t millis) {
    std::uint64_t magnitude = static_cast<std::uint64_t>(millis);
    if (millis < 0) {
        out += '-';
        magnitude = 0 - magnitude;
    }
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, magnitude / 1000).ptr);
    auto rest = static_cast<unsigned>(magnitude % 1000);
    out += '.';
    out += static_cast<char>('0' + rest / 100);
    out += static_cast<char>('0' + rest / 10 % 10);
    out += static_cast<char>('0' + rest % 10);
}

void Header(std::string& out, const Family& family) {
    out.append("# HELP ").append(family.Name).append(" ").append(family.Help).append("\n");
    out.append("# TYPE ").append(family.Name).append(" gauge\n");
}

} // namespace

void AppendLabelValue(std::string& out, std::string_view path, bool byteNames) {
    out += '"';
    std::size_t i = 0;
    while (i < path.size()) {
        auto byte = static_cast<unsigned char>(path[i]);
        runtime::Utf8Char ch = runtime::DecodeUtf8(path.substr(i));
        if (ch.Length == 0) {
            // Only bytes can be no UTF-8: their value keeps them apart.
            if (byteNames)
                AppendHex(out, byte);
            else
                out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (byte == '\\') {
            out += byteNames ? "\\\\\\\\" : "\\\\";
        } else if (byte == '"') {
            out += "\\\"";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byteNames && IsControl(ch.CodePoint)) {
            for (std::size_t k = 0; k < ch.Length; ++k)
                AppendHex(out, static_cast<unsigned char>(path[i + k]));
        } else {
            out.append(path.substr(i, ch.Length));
        }
        i += ch.Length;
    }
    out += '"';
}

PrometheusWriter::PrometheusWriter(std::string_view start, bool byteNames)
    : byteNames_(byteNames), start_("start=") {
    AppendLabelValue(start_, start, byteNames);
}

void PrometheusWriter::Run(std::string& out, const PrometheusRun& run) const {
    auto runSample = [&](const Family& family, auto append) {
        Header(out, family);
        out.append(family.Name).append("{").append(start_).append("} ");
        append();
        out += '\n';
    };
    runSample(StartTime, [&] { AppendSeconds(out, run.StartMillis); });
    runSample(Duration, [&] { AppendSeconds(out, run.DurationMillis); });
    runSample(Unreadable, [&] { AppendNumber(out, run.Unreadable); });
    runSample(Completed, [&] { out += run.Completed ? '1' : '0'; });
}

void PrometheusWriter::Sample(std::string& out, Metric metric, std::string_view path,
                              std::int32_t depth, std::int64_t value) {
    static constexpr const Family* Families[MetricCount] = {&Sizes, &Files, &RestSizes, &RestFiles,
                                                            &RestDirs};
    auto m = static_cast<std::size_t>(metric);
    const Family& family = *Families[m];
    if (!begun_[m]) Header(out, family);
    begun_[m] = true;
    out.append(family.Name).append("{").append(start_).append(",path=");
    AppendLabelValue(out, path, byteNames_);
    out += ",depth=\"";
    AppendNumber(out, depth);
    out += "\"} ";
    AppendNumber(out, value);
    out += '\n';
}

} // namespace kelpo32::output::metrics
