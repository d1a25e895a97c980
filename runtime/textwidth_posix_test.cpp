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

// One piece of a test string: a character, or a byte that starts none.
struct Piece {
    std::string Bytes;
    std::wstring Wide; // empty for an invalid byte
};

std::string Utf8(char32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

std::size_t Columns(const std::vector<Piece>& pieces, std::size_t count) {
    std::wstring wide;
    std::size_t invalid = 0;
    for (std::size_t i = 0; i < count; ++i) {
        wide += pieces[i].Wide;
        invalid += pieces[i].Wide.empty() ? 1 : 0;
    }
    int w = ::wcswidth(wide.c_str(), wide.size());
    return static_cast<std::size_t>(w) + invalid;
}

// Random strings of printable characters from many scripts, combining marks,
// wide characters and bytes that start no character, measured against the C
// library's wcswidth; every cut ends between two pieces and is the longest
// that fits.
TEST(TextWidth, AgreesWithTheCLibraryInAUtf8Locale) {
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    const std::pair<char32_t, char32_t> ranges[] = {
        {0x20, 0x7E},     {0xA0, 0x24F},    {0x300, 0x36F},     {0x370, 0x52F},
        {0x600, 0x6FF},   {0x1100, 0x11FF}, {0x3040, 0x30FF},   {0x4E00, 0x9FFF},
        {0xAC00, 0xD7A3}, {0xFF01, 0xFF60}, {0x1F300, 0x1FAFF}, {0x20000, 0x2A6DF}};
    const unsigned char invalid[] = {0x80, 0xBF, 0xC0, 0xC1, 0xF5, 0xFF};
    std::mt19937 rng(17);
    for (int round = 0; round < 4000; ++round) {
        std::vector<Piece> pieces;
        std::string text;
        std::size_t length = rng() % 24;
        while (pieces.size() < length) {
            Piece piece;
            if (rng() % 10 == 0) {
                piece.Bytes = std::string(1, static_cast<char>(invalid[rng() % 6]));
            } else {
                const auto& [lo, hi] = ranges[rng() % std::size(ranges)];
                auto cp = static_cast<char32_t>(lo + rng() % (hi - lo + 1));
                if (::wcwidth(static_cast<wchar_t>(cp)) < 0) continue;
                piece.Bytes = Utf8(cp);
                piece.Wide = std::wstring(1, static_cast<wchar_t>(cp));
            }
            text += piece.Bytes;
            pieces.push_back(piece);
        }
        std::size_t total = Columns(pieces, pieces.size());
        ASSERT_EQ(TextColumns(text), total) << text;
        std::size_t limit = rng() % (total + 3);
        TextFit fit = FitColumns(text, limit);
        std::size_t taken = 0;
        std::size_t bytes = 0;
        while (taken < pieces.size() && bytes < fit.Bytes)
            bytes += pieces[taken++].Bytes.size();
        ASSERT_EQ(bytes, fit.Bytes) << "cut inside a character: " << text;
        ASSERT_EQ(fit.Columns, Columns(pieces, taken)) << text;
        ASSERT_LE(fit.Columns, limit);
        if (taken < pieces.size()) {
            ASSERT_GT(Columns(pieces, taken + 1), limit) << "a shorter cut than fits: " << text;
        }
    }
    std::setlocale(LC_CTYPE, "C");
}

} // namespace
} // namespace runtime
