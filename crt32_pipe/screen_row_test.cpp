#include "crt32_pipe/screen_row.h"

#include <gtest/gtest.h>

#include <vector>

namespace crt32_pipe {
namespace {

// A device of known widths: 日 takes 2 columns, the combining acute 0, and
// U+E000 cannot be shown.
int TestWidth(char32_t c) {
    if (c == U'\u65E5') return 2;
    if (c == U'\u0301') return 0;
    if (c == U'\uE000') return -1;
    return 1;
}

std::vector<RowPiece> Lay(std::vector<Span> spans, int width) {
    return LayRow(spans, width, TestWidth);
}

std::string Text(const std::vector<RowPiece>& row) {
    std::string text;
    for (const RowPiece& piece : row)
        text += piece.Text;
    return text;
}

int Columns(const std::vector<RowPiece>& row) {
    int columns = 0;
    for (const RowPiece& piece : row)
        columns += piece.Columns;
    return columns;
}

TEST(LayRow, SpansKeepTheirLooksAndTheRestIsBlank) {
    auto row = Lay({{"ab", Attr::Normal}, {"", Attr::Warn}, {"cd", Attr::Selected}}, 10);
    ASSERT_EQ(row.size(), 2u); // the empty span leaves no piece
    EXPECT_EQ(row[0].Text, "ab");
    EXPECT_EQ(row[0].Look, Attr::Normal);
    EXPECT_EQ(row[1].Text, "cd");
    EXPECT_EQ(row[1].Look, Attr::Selected);
    EXPECT_EQ(Columns(row), 4);
}

TEST(LayRow, CutsAtTheWidthOnACharacterBoundary) {
    struct Case {
        std::vector<Span> Spans;
        int Width;
        std::string Shown;
        int Columns;
    };
    const Case cases[] = {
        {{{"abcdef", Attr::Normal}, {"gh", Attr::Dim}}, 4, "abcd", 4},
        {{{"ab", Attr::Normal}, {"cdef", Attr::Dim}, {"gh", Attr::Warn}}, 4, "abcd", 4},
        // A wide character that would pass the edge is left out whole.
        {{{"a\xE6\x97\xA5", Attr::Normal}}, 2, "a", 1},
        {{{"a\xE6\x97\xA5", Attr::Normal}}, 3, "a\xE6\x97\xA5", 3},
        // A mark of no width stays with the character before it.
        {{{"ae\xCC\x81x", Attr::Normal}}, 2, "ae\xCC\x81", 2},
        {{{"abc", Attr::Normal}}, 0, "", 0},
        {{{"abc", Attr::Normal}}, -3, "", 0},
    };
    for (const Case& c : cases) {
        auto row = Lay(c.Spans, c.Width);
        EXPECT_EQ(Text(row), c.Shown) << c.Width;
        EXPECT_EQ(Columns(row), c.Columns) << c.Shown;
        EXPECT_LE(Columns(row), c.Width < 0 ? 0 : c.Width);
    }
}

TEST(LayRow, WhatCouldDriveTheTerminalShowsAsOneQuestionMark) {
    const std::pair<std::string, std::string> cases[] = {
        {"esc\x1B[2J", "esc?[2J"},
        {"bell\x07tab\tnl\ncr\r", "bell?tab?nl?cr?"},
        {"del\x7F", "del?"},
        {"csi\xC2\x9B"
         "31m",
         "csi?31m"},                                             // a C1 control in UTF-8
        {"rlo\xE2\x80\xAEgnp.exe", "rlo?gnp.exe"},               // right-to-left override
        {"iso\xE2\x81\xA7x\xE2\x80\x8Fy\xD8\x9Cz", "iso?x?y?z"}, // isolate, RLM, ALM
        {"bad\xFF\xFE", "bad??"},                                // bytes that start nothing
        {"cut\xE6\x97", "cut??"},                                // a truncated character
        {"over\xC0\xAF", "over??"},                              // an overlong form
        {"pua\xEE\x80\x80", "pua?"},                             // the device cannot show it
        {"\xCC\x81"
         "alone",
         "?alone"}, // a mark with nothing before it
    };
    for (const auto& [text, shown] : cases) {
        auto row = Lay({{text, Attr::Normal}}, 80);
        EXPECT_EQ(Text(row), shown) << text;
        // Every "?" takes one column, as the device shows it.
        EXPECT_EQ(Columns(row), static_cast<int>(shown.size())) << text;
        EXPECT_EQ(ShownColumns(text, TestWidth), Columns(row)) << text;
    }
}

TEST(LayRow, ColumnsMeasureWhatARowShows) {
    for (std::string_view text :
         {"", "plain", "\xE6\x97\xA5\xE6\x97\xA5", "e\xCC\x81", "\x1B\xFF\xE6\x97\xA5"})
        EXPECT_EQ(ShownColumns(text, TestWidth), Columns(Lay({{text, Attr::Normal}}, 1000)))
            << text;
    EXPECT_EQ(ShownColumns("a\xE6\x97\xA5"
                           "b",
                           TestWidth),
              4);
}

} // namespace
} // namespace crt32_pipe
