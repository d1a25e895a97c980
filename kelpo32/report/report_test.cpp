#include "kelpo32/report/report.h"

#include "kelpo32/conventions.h"
#include "kelpo32/state.h"
#include "kelpo32/testing/test_support.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kelpo32::report {
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
    runtime::StdOut().Flush();
    return Captured();
}

TEST(GroupThousands, GroupsByThreeAllTheWay) {
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
        {1234567890123, "1,234,567,890,123"},
        {1000000000000, "1,000,000,000,000"},
        {9223372036854775807, "9,223,372,036,854,775,807"},
        // Only counts and sums are grouped; a sign would be dropped.
        {-1234, "1,234"},
        {INT64_MIN, "9,223,372,036,854,775,808"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(GroupThousands(value), text) << value;
}

TEST(ReportLines, WorkedExampleOnA60ColumnConsole) {
    testing::PrepareReport(60);
    UseGlyphs(ConsoleGlyphs);
    DrawDepth = 13;
    StartDir = "C:\\DATA";
    PrintDirLine({.Path = "C:\\DATA", .ChildCount = 2, .FileCount = 2, .FileBytes = 1500});
    PrintDirLine({.Path = "C:\\DATA\\",
                  .Name = "DOCS",
                  .Level = 1,
                  .SiblingCount = 2,
                  .Id = 1,
                  .ChildCount = 1,
                  .FileCount = 3,
                  .FileBytes = 12000});
    PrintDirLine({.Path = "C:\\DATA\\DOCS\\",
                  .Name = "OLD",
                  .Level = 2,
                  .SiblingCount = 1,
                  .Id = 1,
                  .FileCount = 1,
                  .FileBytes = 100});
    PrintTotalLine("DOCS", 1, 12100);
    PrintDirLine({.Path = "C:\\DATA\\",
                  .Name = "SRC",
                  .Level = 1,
                  .SiblingCount = 2,
                  .Id = 2,
                  .FileCount = 10,
                  .FileBytes = 1234567});
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
    PrintDirLine({.ChildCount = 2});
    // The last sibling: corner, blank segment.
    PrintDirLine({.Name = "A", .Level = 1, .SiblingCount = 2, .Id = 2, .ChildCount = 1});
    PrintDirLine({.Path = "A/", .Name = "B", .Level = 2, .SiblingCount = 1, .Id = 1});
    // No start directory: POSIX text names the current directory ".".
    std::string start = PlatformConventions().DotForCurrentDir ? "." : "ROOT";
    EXPECT_EQ(Flushed(), ConsoleBytes(start + "\r\n└─A\r\n   ·└─B\r\n"));
}

TEST(ReportLines, FullBareAndOverDeepLinesAroundTheDrawnDepth) {
    testing::PrepareReport(40);
    DrawDepth = 3;
    for (std::int32_t level = 1; level <= 2; ++level)
        PrintDirLine({.Name = "a", .Level = level, .ChildCount = 1});
    Flushed();
    Captured().clear();
    // DrawDepth - 1 with children: bare; without: full; at DrawDepth: bare;
    // past it: over-deep, padded.
    PrintDirLine({.Path = "P/", .Name = "x", .Level = 2, .ChildCount = 1});
    PrintDirLine({.Path = "P/", .Name = "y", .Level = 2, .FileCount = 5, .FileBytes = 5});
    PrintDirLine({.Path = "P/x/", .Name = "z", .Level = 3});
    PrintDirLine({.Path = "P/x/z/", .Name = "deep", .Level = 4});
    EXPECT_EQ(Flushed(), std::string("|  \0+\x97x", 7) + " --------------\r\n" +
                             std::string("|  \0+\x97y", 7) + std::string(40 - 21 - 7, '-') +
                             ">    5             5\r\n" + std::string("|  \0|  \0+\x97z", 11) +
                             "\r\n" + "(P/x/z/deep)" + std::string(39 - 12, ' ') + "\r\n");
}

TEST(ReportLines, LevelsPastTheSegmentTableAreOverDeep) {
    testing::PrepareReport(400);
    DrawDepth = 126; // a console of 398 columns
    PrintDirLine({.Path = "p/", .Name = "n", .Level = 81, .SiblingCount = 1, .Id = 1});
    std::string out = Flushed();
    EXPECT_EQ(out.substr(0, 6), "(p/n) ");
    EXPECT_EQ(out.size(), 399u + 2u);
}

TEST(ReportLines, OverDeepLinesOfAVeryLongPathShowItsEnd) {
    testing::PrepareReport(40);
    DrawDepth = 3;
    std::string path;
    for (int i = 0; i < 600; ++i)
        path += std::string("d") + runtime::PathSeparator();
    PrintDirLine({.Path = path, .Name = "n", .Level = 600});
    std::string out = Flushed();
    // "(..." and the end of the path from a separator, 1,024 bytes at most.
    EXPECT_EQ(out.substr(0, 6), std::string("(...") + runtime::PathSeparator() + "d");
    EXPECT_EQ(out.substr(out.find(')') - 2, 3), std::string(1, runtime::PathSeparator()) + "n)");
    EXPECT_LE(out.find(')'), ShownPathLimit + 5);
    EXPECT_GT(out.find(')'), ShownPathLimit);
}

TEST(ReportLines, WidthArithmeticOverflowIsAnError) {
    testing::PrepareReport(-2147483647 - 1);
    try {
        PrintDirLine({});
        FAIL() << "no error";
    } catch (const runtime::RunError& err) {
        EXPECT_EQ(err.Class, runtime::ErrorClass::IntOverflow);
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
} // namespace kelpo32::report
