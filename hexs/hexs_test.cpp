// Padding of report columns, and the grouped numbers that fill them.
#include "hexs/hexs.h"

#include "kelpo32/report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(PadCount, FillUpToWidthNeverBelowZero) {
    struct Case {
        std::size_t length;
        std::int32_t width;
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {0, 0, 0},
        {0, 1, 1},
        {3, 5, 2},
        {5, 5, 0},
        {6, 5, 0},
        {0, -1, 0},
        {3, -5, 0},
        {7, INT32_MIN, 0},
        {0, INT32_MAX, 2147483647u},
        {2147483647u, INT32_MAX, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexs::PadCount(c.length, c.width), c.count)
            << "length " << c.length << ", width " << c.width;
}

TEST(PadRight, PadsExactlyAndNeverShortens) {
    struct Case {
        std::string s;
        char fill;
        std::int32_t width;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"abc", '.', 6, "abc..."},
        {"abc", '.', 4, "abc."},
        {"abc", '.', 3, "abc"},
        {"abcdef", '.', 3, "abcdef"},
        {"abc", '.', 0, "abc"},
        {"abc", '.', -1, "abc"},
        {"abc", '.', INT32_MIN, "abc"},
        {"", 'x', 0, ""},
        {"", 'x', -5, ""},
        {"", 'x', 2, "xx"},
        {"ab", ' ', 5, "ab   "},
        // Any byte can fill, the NUL of the level indent included.
        {"ab", '\0', 4, std::string("ab\0\0", 4)},
        {std::string("a\0", 2), '-', 3, std::string("a\0-", 3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexs::PadRight(c.s, c.fill, c.width), c.expected)
            << "[" << c.s << "] to " << c.width;
}

TEST(GroupThousands, AtMostThreeSeparators) {
    struct Case {
        std::int64_t value;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {1001, "1,001"},
        {999999, "999,999"},
        {1000000, "1,000,000"},
        {1234567890, "1,234,567,890"},
        {999999999999, "999,999,999,999"},
        {1000000000000, "1000,000,000,000"},
        {1234567890123, "1234,567,890,123"},
        {INT64_MAX, "9223372036,854,775,807"},
        // Only counts and sums are grouped; a sign would be dropped.
        {-1234, "1,234"},
        {INT64_MIN, "9223372036,854,775,808"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kelpo32::GroupThousands(c.value), c.text) << c.value;
}

} // namespace
