#include "kelpo32/report/paging.h"

#include "kelpo32/state.h"
#include "kelpo32/testing/test_support.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

namespace kelpo32::report {
namespace {

TEST(Paging, RedirectedOutputNeverPausesAndTheCountStopsAtItsLargestValue) {
    testing::PrepareReport(200);
    PageLines = 1;
    StartPage(2147483646);
    NextLine();
    NextLine();
    NextLine();
    EXPECT_EQ(LinesCounted(), 2147483647);
    runtime::StdOut().Flush();
    EXPECT_EQ(testing::Captured(), "");
}

TEST(Paging, StopSequenceWritesABlankAndEndsWithTheStopExitCode) {
    testing::PrepareReport(200);
    try {
        StopSequence(true);
        FAIL() << "did not stop";
    } catch (const runtime::HaltRequest& halt) {
        EXPECT_EQ(halt.ExitCode, StopExitCode());
    }
    EXPECT_EQ(testing::Captured(), " \r\n");
}

} // namespace
} // namespace kelpo32::report
