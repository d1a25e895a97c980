#include "kelpo32/app/body.h"

#include "kelpo32/report/report.h"
#include "kelpo32/state.h"
#include "kelpo32/testing/test_support.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

namespace kelpo32 {
namespace {

TEST(DisplayProfile, DrawDepthFollowsTheWidthWithinItsRange) {
    const std::pair<std::int32_t, int> cases[] = {
        {80, 20}, {132, 37}, {200, 60},  {60, 13},   {20, 0},    {18, 0},
        {0, 0},   {-5, 0},   {785, 255}, {787, 255}, {788, 255}, {32767, 255},
    };
    for (const auto& [width, depth] : cases)
        EXPECT_EQ(DrawDepthFor(width), depth) << width;
}

TEST(DisplayProfile, PageLengthFromTheWindowsBottomRow) {
    EXPECT_EQ(PageLinesFor(25), 24);
    EXPECT_EQ(PageLinesFor(80), 79);
    EXPECT_EQ(PageLinesFor(81), 50);
    EXPECT_EQ(PageLinesFor(300), 50);
    EXPECT_EQ(PageLinesFor(1), 0);
}

TEST(DisplayProfile, RedirectedProfile) {
    testing::PrepareReport(200);
    EXPECT_EQ(ScreenWidth, 200);
    EXPECT_EQ(OutputWidth, 200);
    EXPECT_EQ(DrawDepth, 60);
    EXPECT_EQ(PageLines, 2147483646);
    // The redirected glyphs: corner "+" and the guillemet of code page 1252.
    report::PrintTotalLine("", 0, 1);
    runtime::StdOut().Flush();
    EXPECT_EQ(testing::Captured(), "+\xBB Total bytes: 1\r\n");
}

} // namespace
} // namespace kelpo32
