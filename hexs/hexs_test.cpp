// Padding of report columns.
#include "hexs/hexs.h"

#include <gtest/gtest.h>

#include <cstdint>
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

} // namespace
