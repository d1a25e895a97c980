#include "runtime/textwidth.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <random>
#include <string>
#include <vector>
#include <wchar.h> // wcswidth

namespace runtime {
namespace {

// Random strings of characters from many scripts (combining marks, wide and
// zero-width ones included) and bytes that start no character, measured
// against the C library's wcswidth; every cut must end between two pieces
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
        std::vector<std::pair<std::string, std::wstring>> pieces; // bytes, character or none
        std::string text;
        for (std::size_t length = rng() % 24; pieces.size() < length;) {
            const auto& [lo, hi] = ranges[rng() % std::size(ranges)];
            auto wc = static_cast<wchar_t>(lo + static_cast<wchar_t>(rng() % (hi - lo + 1)));
            char mb[MB_LEN_MAX];
            std::mbstate_t state{};
            if (rng() % 10 == 0)
                pieces.emplace_back(std::string(1, invalid[rng() % 6]), L"");
            else if (::wcwidth(wc) >= 0)
                pieces.emplace_back(std::string(mb, std::wcrtomb(mb, wc, &state)),
                                    std::wstring(1, wc));
            else
                continue;
            text += pieces.back().first;
        }
        auto columns = [&pieces](std::size_t count) {
            std::wstring wide;
            std::size_t invalidBytes = 0;
            for (std::size_t i = 0; i < count; ++i) {
                wide += pieces[i].second;
                invalidBytes += pieces[i].second.empty() ? 1 : 0;
            }
            return static_cast<std::size_t>(::wcswidth(wide.c_str(), wide.size())) + invalidBytes;
        };
        ASSERT_EQ(TextColumns(text), columns(pieces.size())) << text;
        std::size_t limit = rng() % (columns(pieces.size()) + 3);
        TextFit fit = FitColumns(text, limit);
        std::size_t taken = 0;
        std::size_t bytes = 0;
        while (bytes < fit.Bytes)
            bytes += pieces[taken++].first.size();
        ASSERT_EQ(bytes, fit.Bytes) << "cut inside a character: " << text;
        ASSERT_EQ(fit.Columns, columns(taken)) << text;
        ASSERT_LE(fit.Columns, limit);
        if (taken < pieces.size()) {
            ASSERT_GT(columns(taken + 1), limit) << "a shorter cut than fits: " << text;
        }
    }
    std::setlocale(LC_CTYPE, "C");
}

} // namespace
} // namespace runtime
