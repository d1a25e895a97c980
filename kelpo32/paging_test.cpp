#include "kelpo32/paging.h"

#include "kelpo32/state.h"
#include "kelpo32/test_support.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

namespace kelpo32 {
namespace {

TEST(Paging, RedirectedOutputNeverPausesAndTheCountStopsAtItsLargestValue) {
    testing::PrepareReport(200);
    PageLines = 1;
    LinesOnPage = 2147483646;
    NextLine();
    NextLine();
    NextLine();
    EXPECT_EQ(LinesOnPage, 2147483647);
    runtime::StdOut().Flush();
    EXPECT_EQ(testing::Captured(), "");
}

TEST(Paging, StopSequenceWritesABlankAndEndsWithExitCode0) {
    testing::PrepareReport(200);
    try {
        StopSequence(true);
        FAIL() << "did not stop";
    } catch (const runtime::HaltRequest& halt) {
        EXPECT_EQ(halt.ExitCode, 0);
    }
    EXPECT_EQ(testing::Captured(), " \r\n");
}

TEST(Paging, AWrappedLineTakesTheRowsItCovers) {
    testing::PrepareReport(200);
    ScreenWidth = 80;
    const std::pair<std::int64_t, std::int32_t> cases[] = {
        {0, 1}, {79, 1}, {80, 1}, {81, 2}, {160, 2}, {161, 3}, {263, 4}, {INT64_MAX, 2147483647}};
    for (const auto& [columns, rows] : cases)
        EXPECT_EQ(RowsFor(columns), rows) << columns;
    ScreenWidth = 0;
    EXPECT_EQ(RowsFor(500), 1);
}

} // namespace
} // namespace kelpo32
