#include "runtime/textwidth.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <random>
#include <string>
#include <vector>
#include <wchar.h> // wcwidth

namespace runtime {
namespace {

// Random strings of characters from many scripts (combining marks, wide and
// zero-width ones included) and bytes that start no character, measured
// against the C library's wcwidth; every cut must end between two pieces
// and be the longest that fits.
TEST(TextWidth, AgreesWithTheCLibraryInAUtf8Locale) {
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    const std::pair<wchar_t, wchar_t> ranges[] = {
        {0x20, 0x7E},     {0xA0, 0x24F},    {0x300, 0x36F},   {0x370, 0x52F},
        {0x600, 0x6FF},   {0x1100, 0x11FF}, {0x3040, 0x30FF}, {0x4E00, 0x9FFF},
        {0xAC00, 0xD7A3}, {0xFF01, 0xFF60}, {0x200B, 0x200F}, {0x1F300, 0x1FAFF}};
    const char invalid[] = {'\x80', '\xBF', '\xC0', '\xC1', '\xF5', '\xFF'};
    std::mt19937 rng(17);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        std::vector<std::size_t> ends{0}, columns{0}; // after each piece
        for (std::size_t length = rng() % 24; ends.size() <= length;) {
            const auto& [lo, hi] = ranges[rng() % std::size(ranges)];
            auto wc = static_cast<wchar_t>(lo + static_cast<wchar_t>(rng() % (hi - lo + 1)));
            char mb[MB_LEN_MAX];
            std::mbstate_t state{};
            int width = ::wcwidth(wc);
            if (rng() % 10 == 0) {
                text += invalid[rng() % 6];
                width = 1;
            } else if (width >= 0) {
                text.append(mb, std::wcrtomb(mb, wc, &state));
            } else {
                continue;
            }
            ends.push_back(text.size());
            columns.push_back(columns.back() + static_cast<std::size_t>(width));
        }
        ASSERT_EQ(TextColumns(text), columns.back()) << text;
        std::size_t limit = rng() % (columns.back() + 3);
        TextFit fit = FitColumns(text, limit);
        std::size_t taken = 0;
        while (taken + 1 < ends.size() && ends[taken] < fit.Bytes)
            ++taken;
        ASSERT_EQ(ends[taken], fit.Bytes) << "cut inside a character: " << text;
        ASSERT_EQ(fit.Columns, columns[taken]) << text;
        ASSERT_LE(fit.Columns, limit);
        if (taken + 1 < ends.size()) {
            ASSERT_GT(columns[taken + 1], limit) << "a shorter cut than fits: " << text;
        }
    }
    std::setlocale(LC_CTYPE, "C");
}

} // namespace
} // namespace runtime
