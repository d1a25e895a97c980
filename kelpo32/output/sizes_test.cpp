#include "kelpo32/output/sizes.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kelpo32::output {
namespace {

TEST(Sizes, ReadsTheThresholdFormsAndNothingElse) {
    const std::pair<const char*, std::int64_t> good[] = {
        {"0", 0},
        {"1023", 1023},
        {"1K", 1024},
        {"1k", 1024},
        {"1KiB", 1024},
        {"1KB", 1000},
        {"1kb", 1000},
        {"2M", 2097152},
        {"3MB", 3000000},
        {"5G", 5368709120},
        {"1T", 1099511627776},
        {"1PB", 1000000000000000},
        {"8191P", 8191LL << 50},
        {"9223372036854775807", INT64_MAX},
    };
    for (const auto& [text, value] : good) {
        std::int64_t v = -1;
        EXPECT_TRUE(ParseSize(text, v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    for (const char* bad : {"", "K", "12Q", "-1", "+1", " 1", "1 ", "1.5K", "1KBB", "1E", "1iB",
                            "8192P", "9223372036854775808", "99999999999999999999"}) {
        std::int64_t v = 7;
        EXPECT_FALSE(ParseSize(bad, v)) << bad;
        EXPECT_EQ(v, 7) << bad;
    }
}

TEST(Sizes, WritesExactHumanAndSignedForms) {
    struct Case {
        std::int64_t Value;
        output::SizeUnits Units;
        bool Plus;
        const char* Text;
    };
    const Case cases[] = {
        {0, output::SizeUnits::Exact, false, "0"},
        {1234567, output::SizeUnits::Exact, false, "1,234,567"},
        {1000000000000000, output::SizeUnits::Exact, false, "1,000,000,000,000,000"},
        {-1234, output::SizeUnits::Exact, false, "-1,234"},
        {1234, output::SizeUnits::Exact, true, "+1,234"},
        {-1234, output::SizeUnits::Exact, true, "-1,234"},
        {0, output::SizeUnits::Exact, true, "0"},
        {0, output::SizeUnits::Binary, false, "0"},
        {1023, output::SizeUnits::Binary, false, "1023"},
        {1024, output::SizeUnits::Binary, false, "1.0K"},
        {1025, output::SizeUnits::Binary, false, "1.1K"},
        {1025, output::SizeUnits::Binary, true, "+1.1K"},
        {1536, output::SizeUnits::Binary, false, "1.5K"},
        {10239, output::SizeUnits::Binary, false, "10K"},
        {10241, output::SizeUnits::Binary, false, "11K"},
        {1048575, output::SizeUnits::Binary, false, "1.0M"},
        {1048576, output::SizeUnits::Binary, false, "1.0M"},
        {356515840, output::SizeUnits::Binary, false, "340M"},
        {6012954214, output::SizeUnits::Binary, false, "5.6G"},
        {1288490188, output::SizeUnits::Binary, true, "+1.2G"},
        {-356515840, output::SizeUnits::Binary, true, "-340M"},
        {INT64_MAX, output::SizeUnits::Binary, false, "8.0E"},
        {INT64_MIN, output::SizeUnits::Binary, false, "-8.0E"},
        {INT64_MIN, output::SizeUnits::Exact, false, "-9,223,372,036,854,775,808"},
        {999, output::SizeUnits::Si, false, "999"},
        {1000, output::SizeUnits::Si, false, "1.0k"},
        {1001, output::SizeUnits::Si, false, "1.1k"},
        {999999, output::SizeUnits::Si, false, "1.0M"},
        {1500000000, output::SizeUnits::Si, false, "1.5G"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatSize(c.Value, c.Units, c.Plus), c.Text) << c.Value;
}

} // namespace
} // namespace kelpo32::output
