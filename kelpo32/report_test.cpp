#include "kelpo32/report.h"

#include "kelpo32/state.h"
#include "kelpo32/test_support.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kelpo32 {
namespace {

using testing::Captured;

// The example's text with the console glyphs written as the bytes the program
// writes ("·" is the byte 0 of an indent).
std::string ConsoleBytes(std::string text) {
    const std::pair<const char*, std::string> glyphs[] = {{"├", "\xC3"},
                                                          {"─", "\xC4"},
                                                          {"│", "\xB3"},
                                                          {"└", "\xC0"},
                                                          {"»", "\xAF"},
                                                          {"►", "\x10"},
                                                          {"·", std::string(1, '\0')}};
    for (const auto& [from, to] : glyphs)
        for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from))
            text.replace(pos, std::string(from).size(), to);
    return text;
}

std::string Flushed() {
    rtl::StdOut().Flush();
    return Captured();
}

TEST(GroupThousands, InsertsAtMostThreeSeparators) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {1001, "1,001"},
        {999999, "999,999"},
        {1000000, "1,000,000"},
        {1234567890, "1,234,567,890"},
        {999999999999, "999,999,999,999"},
        {1234567890123, "1234,567,890,123"},
        {1000000000000, "1000,000,000,000"},
        {9223372036854775807, "9223372036,854,775,807"},
        // Only counts and sums are grouped; a sign would be dropped.
        {-1234, "1,234"},
        {INT64_MIN, "9223372036,854,775,808"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(GroupThousands(value), text) << value;
}

TEST(ReportLines, WorkedExampleOnA60ColumnConsole) {
    testing::PrepareReport(60);
    UseGlyphs(ConsoleGlyphs);
    DrawDepth = 13;
    StartDir = "C:\\DATA";
    PrintDirLine("C:\\DATA", "", 0, 0, 0, 2, 2, 1500);
    PrintDirLine("C:\\DATA\\", "DOCS", 1, 2, 1, 1, 3, 12000);
    PrintDirLine("C:\\DATA\\DOCS\\", "OLD", 2, 1, 1, 0, 1, 100);
    PrintTotalLine("DOCS", 1, 12100);
    PrintDirLine("C:\\DATA\\", "SRC", 1, 2, 2, 0, 10, 1234567);
    PrintTotalLine("", 0, 1248167);
    EXPECT_EQ(Flushed(),
              ConsoleBytes("C:\\DATA -------------------------------►    2         1,500\r\n"
                           "├─DOCS --------------------------------►    3        12,000\r\n"
                           "│  ·├─OLD------------------------------►    1           100\r\n"
                           "│  ·└» Total in \"DOCS\": 12,100\r\n"
                           "├─SRC----------------------------------►   10     1,234,567\r\n"
                           "└» Total bytes: 1,248,167\r\n"));
}

TEST(ReportLines, TreeOnlyCornersAndStaleSegments) {
    testing::PrepareReport(60);
    UseGlyphs(ConsoleGlyphs);
    TreeOnly = true;
    PrintDirLine("", "", 0, 0, 0, 2, 0, 0);
    PrintDirLine("", "A", 1, 2, 2, 1, 0, 0); // the last sibling: corner, blank segment
    PrintDirLine("A/", "B", 2, 1, 1, 0, 0, 0);
    EXPECT_EQ(Flushed(), ConsoleBytes("ROOT\r\n└─A\r\n   ·└─B\r\n"));
}

TEST(ReportLines, FullBareAndOverDeepLinesAroundTheDrawnDepth) {
    testing::PrepareReport(40);
    DrawDepth = 3;
    for (std::int32_t level = 1; level <= 2; ++level)
        PrintDirLine("", "a", level, 1, 1, 1, 0, 0);
    Flushed();
    Captured().clear();
    PrintDirLine("P/", "x", 2, 1, 1, 1, 5, 5);        // DrawDepth - 1 with children: bare
    PrintDirLine("P/", "y", 2, 1, 1, 0, 5, 5);        // DrawDepth - 1 without: full
    PrintDirLine("P/x/", "z", 3, 1, 1, 0, 5, 5);      // at DrawDepth: bare
    PrintDirLine("P/x/z/", "deep", 4, 1, 1, 0, 5, 5); // past it: over-deep, padded
    EXPECT_EQ(Flushed(), std::string("|  \0+\x97x", 7) + " --------------\r\n" +
                             std::string("|  \0+\x97y", 7) + std::string(40 - 21 - 7, '-') +
                             ">    5             5\r\n" + std::string("|  \0|  \0+\x97z", 11) +
                             "\r\n" + "(P/x/z/deep)" + std::string(39 - 12, ' ') + "\r\n");
}

TEST(ReportLines, LevelsPastTheSegmentTableAreOverDeep) {
    testing::PrepareReport(400);
    DrawDepth = 126; // a console of 398 columns
    PrintDirLine("p/", "n", 81, 1, 1, 0, 0, 0);
    std::string out = Flushed();
    EXPECT_EQ(out.substr(0, 6), "(p/n) ");
    EXPECT_EQ(out.size(), 399u + 2u);
}

TEST(ReportLines, WidthArithmeticOverflowIsAnError) {
    testing::PrepareReport(-2147483647 - 1);
    try {
        PrintDirLine("", "", 0, 0, 0, 0, 0, 0);
        FAIL() << "no error";
    } catch (const rtl::RunError& err) {
        EXPECT_EQ(err.Class, rtl::ErrorClass::IntOverflow);
    }
}

TEST(ReportLines, DepthNoticeAndLogAllocationCount) {
    testing::PrepareReport(60);
    PrintDepthNotice(1);
    PrintDepthNotice(3);
    LogEnabled = true;
    AllocCount = 4;
    PrintTotalLine("x", 0, 5);
    EXPECT_EQ(Flushed(), "\r\n|...|...\r\n+\xBB Total in \"x\": 5 {alloc:4}\r\n");
    LogEnabled = false;
}

} // namespace
} // namespace kelpo32
