#include "kelpo32/output/metrics/prometheus.h"

#include "runtime/textsafe.h"

#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>

namespace kelpo32::output::metrics {
namespace {

// The label value a collector reads from the quoted text: the format's
// escapes undone.
std::string ReadLabel(std::string_view quoted) {
    std::string value;
    EXPECT_GE(quoted.size(), 2U);
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        char c = quoted[i];
        if (c != '\\') {
            value += c;
            continue;
        }
        char next = quoted[++i];
        EXPECT_TRUE(next == '\\' || next == '"' || next == 'n') << quoted;
        value += next == 'n' ? '\n' : next;
    }
    return value;
}

// The path a label value of byte names stands for: "\\" a backslash, "\xhh"
// a byte.
std::string PathOf(std::string_view value) {
    std::string path;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            path += value[i];
            continue;
        }
        if (value.substr(i, 2) == "\\\\") {
            path += '\\';
            ++i;
            continue;
        }
        EXPECT_EQ(value.substr(i, 2), "\\x") << value;
        path += static_cast<char>(std::stoi(std::string(value.substr(i + 2, 2)), nullptr, 16));
        i += 3;
    }
    return path;
}

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        runtime::Utf8Char c = runtime::DecodeUtf8(s.substr(i));
        if (c.Length == 0) return false;
        i += c.Length;
    }
    return true;
}

TEST(PrometheusLabels, HostileNamesStayValidUniqueAndInert) {
    struct Row {
        std::string Path;
        std::string Written; // the quoted label as written where names are bytes
    };
    const Row rows[] = {
        {"plain/dir", R"("plain/dir")"},
        {"quote\"d", R"("quote\"d")"},
        {"line\nfeed", R"("line\nfeed")"},
        {"back\\slash", R"("back\\\\slash")"},
        {"\\xff", R"("\\\\xff")"}, // the text of an escape, not a byte
        {"\xff", R"("\\xff")"},    // a byte that is no UTF-8
        {"esc\x1b[31m", R"("esc\\x1b[31m")"},
        {"csi\xc2\x9b", R"("csi\\xc2\\x9b")"}, // a C1 control
        {"tab\tcr\rdel\x7f", R"("tab\\x09cr\\x0ddel\\x7f")"},
        {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
        {"cut\xe2\x82", R"("cut\\xe2\\x82")"},
        {"over\xc0\xaf", R"("over\\xc0\\xaf")"}, // an overlong "/"
        {"", R"("")"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Path);
        std::string written;
        AppendLabelValue(written, row.Path, true);
        EXPECT_EQ(written, row.Written);
    }
}

TEST(PrometheusLabels, AnyBytesGiveBackTheirPathAndNoTwoPathsShareALabel) {
    // Bytes that make trouble, and plain ones.
    const std::string alphabet =
        std::string("\\\"\nx/a0\x1b\x7f\xff\xc2\x85\xe2\x82\xac\xc3\xa9", 17);
    std::mt19937 random(20240601);
    std::set<std::string> labels;
    std::set<std::string> paths;
    for (int n = 0; n < 20000; ++n) {
        std::string path;
        for (auto len = random() % 8; len > 0; --len)
            path += alphabet[random() % alphabet.size()];
        std::string written;
        AppendLabelValue(written, path, true);
        ASSERT_TRUE(ValidUtf8(written)) << written;
        for (char c : written) {
            auto b = static_cast<unsigned char>(c);
            ASSERT_FALSE(b < 0x20 || b == 0x7F) << written; // nothing that drives a terminal
        }
        ASSERT_EQ(PathOf(ReadLabel(written)), path) << written;
        if (paths.insert(path).second) labels.insert(written);
    }
    EXPECT_EQ(labels.size(), paths.size());
}

TEST(PrometheusLabels, RealNamesAreWrittenAsTheyAre) {
    // Names converted from the system's own form hold no backslash: it is
    // the separator and stays one character of the value.
    std::string written;
    AppendLabelValue(written, "C:\\DATA\\caf\xc3\xa9\t\"x\"", false);
    EXPECT_EQ(written, "\"C:\\\\DATA\\\\caf\xc3\xa9\t\\\"x\\\"\"");
    EXPECT_EQ(ReadLabel(written), "C:\\DATA\\caf\xc3\xa9\t\"x\"");
}

TEST(PrometheusWriter, WritesEachMetricAsOneGroupAndTheRunFirst) {
    PrometheusWriter writer("/srv", true);
    PrometheusRun run{1700000000123, 61005, 2, true};
    std::string text;
    writer.Run(text, run);
    writer.Sample(text, Metric::Sizes, "/srv", 0, 300);
    writer.Sample(text, Metric::Sizes, "/srv/a", 1, 200);
    writer.Sample(text, Metric::Files, "/srv", 0, 3);
    writer.Sample(text, Metric::Files, "/srv/a", 1, 2);
    writer.Sample(text, Metric::RestSizes, "/srv", 1, 100);
    writer.Sample(text, Metric::RestFiles, "/srv", 1, 1);
    writer.Sample(text, Metric::RestDirs, "/srv", 1, 4);
    const char* expected[] = {
        "kelpo32_scan_start_time_seconds{start=\"/srv\"} 1700000000.123\n",
        "kelpo32_scan_duration_seconds{start=\"/srv\"} 61.005\n",
        "kelpo32_scan_unreadable_directories{start=\"/srv\"} 2\n",
        "kelpo32_scan_completed{start=\"/srv\"} 1\n",
        "# TYPE kelpo32_directory_size_bytes gauge\n"
        "kelpo32_directory_size_bytes{start=\"/srv\",path=\"/srv\",depth=\"0\"} 300\n"
        "kelpo32_directory_size_bytes{start=\"/srv\",path=\"/srv/a\",depth=\"1\"} 200\n"
        "# HELP kelpo32_directory_files ",
        "kelpo32_directory_files{start=\"/srv\",path=\"/srv/a\",depth=\"1\"} 2\n",
        "kelpo32_directory_rest_size_bytes{start=\"/srv\",path=\"/srv\",depth=\"1\"} 100\n",
        "kelpo32_directory_rest_files{start=\"/srv\",path=\"/srv\",depth=\"1\"} 1\n",
        "kelpo32_directory_rest_directories{start=\"/srv\",path=\"/srv\",depth=\"1\"} 4\n",
    };
    std::size_t at = 0;
    for (const char* part : expected) {
        std::size_t found = text.find(part, at);
        ASSERT_NE(found, std::string::npos) << part << "\nin\n" << text;
        at = found;
    }
    // Every sample line follows its metric's TYPE line; without --top's rest
    // the rest's metrics are left out, their help with them.
    PrometheusWriter plain(".", true);
    std::string small;
    plain.Run(small, PrometheusRun{});
    plain.Sample(small, Metric::Sizes, ".", 0, 0);
    plain.Sample(small, Metric::Files, ".", 0, 0);
    EXPECT_EQ(small.find("rest"), std::string::npos);
    EXPECT_NE(small.find("kelpo32_scan_start_time_seconds{start=\".\"} 0.000\n"),
              std::string::npos);
    EXPECT_NE(small.find("kelpo32_scan_completed{start=\".\"} 0\n"), std::string::npos);
}

} // namespace
} // namespace kelpo32::output::metrics
