// Splitting of a Windows command line: separators, quotes and double-byte
// characters. The Windows build splits GetCommandLineW with these rules on
// UTF-16 code units, so they are checked here on every platform, the UTF-16
// form against the byte form as its model.
#include "CmdLin/cmdsplit.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Params = std::vector<std::string>;

// A double-byte code page whose lead bytes are 0x81 to 0x9F; 0xE9 and the other
// high bytes stay single characters.
bool FakeLead(unsigned char c) {
    return c >= 0x81 && c <= 0x9F;
}

struct SplitCase {
    std::string_view line;
    Params expected;
    CmdLin::LeadBytePredicate isLead = nullptr;
};

void CheckSplits(const std::vector<SplitCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "line [" << c.line << "]");
        EXPECT_EQ(CmdLin::SplitCommandLine(c.line, c.isLead), c.expected);
    }
}

TEST(SplitCommandLine, SeparatorsAreBlanksTabsAndControlCharacters) {
    CheckSplits({
        {"", {""}},
        {"   ", {""}},
        {"prog", {"prog"}},
        {"prog a b", {"prog", "a", "b"}},
        {"  prog   a    b   ", {"prog", "a", "b"}},
        {"prog\ta\t\tb", {"prog", "a", "b"}},
        {"prog\x01"
         "a\x1f"
         "b\r\nc",
         {"prog", "a", "b", "c"}},
        {"prog C:\\My Dir", {"prog", "C:\\My", "Dir"}},
        // DEL and everything above it is a parameter character.
        {"prog \x7f \x80\xff", {"prog", "\x7f", "\x80\xff"}},
        {"prog \xe9t\xe9 na\xefve", {"prog", "\xe9t\xe9", "na\xefve"}},
    });
}

TEST(SplitCommandLine, LineEndsAtFirstNul) {
    using namespace std::string_view_literals;
    CheckSplits({
        {"prog a\0b c"sv, {"prog", "a"}},
        {"prog \"a\0b\" c"sv, {"prog", "a"}},
        {"\0prog a"sv, {""}},
    });
}

TEST(SplitCommandLine, QuotesGroupAndAreRemoved) {
    CheckSplits({
        {"prog \"C:\\My Dir\"", {"prog", "C:\\My Dir"}},
        {"\"C:\\Program Files\\k.exe\" /T", {"C:\\Program Files\\k.exe", "/T"}},
        {"prog a\"b c\"d", {"prog", "ab cd"}},
        {"prog \"a\"\"b\"", {"prog", "ab"}},
        {"prog a\"\"b", {"prog", "ab"}},
        {"prog \" \"", {"prog", " "}},
        {"prog \"a\tb\"", {"prog", "a\tb"}},
        {"prog \"/W 80\" \"-T\"", {"prog", "/W 80", "-T"}},
        {"prog \"/W 80 \"", {"prog", "/W 80 "}},
    });
}

TEST(SplitCommandLine, EmptyQuotePairsMakeNoParameter) {
    CheckSplits({
        {"prog \"\"", {"prog"}},
        {"prog \"\" \"\" a \"\"", {"prog", "a"}},
        {"prog \"\"\"\"", {"prog"}},
        {"prog \"\"\t\"\"x", {"prog", "x"}},
        // A third quote opens a run after the pair is skipped.
        {"prog \"\"\"a b", {"prog", "a b"}},
    });
}

TEST(SplitCommandLine, UnclosedAndTrailingQuotes) {
    CheckSplits({
        {"prog \"rest  of\tthe line", {"prog", "rest  of\tthe line"}},
        {"prog a\"b c", {"prog", "ab c"}},
        {"prog a \"", {"prog", "a"}},
        {"prog a\"", {"prog", "a"}},
        {"prog \"", {"prog"}},
        {"\"", {""}},
    });
}

TEST(SplitCommandLine, DoubleByteCharactersAreOneStep) {
    CheckSplits({
        // The second byte is neither a quote nor a separator...
        {"prog \x81\" x", {"prog", "\x81\"", "x"}, FakeLead},
        {"prog \x81 x", {"prog", "\x81 x"}, FakeLead},
        {"prog \"\x81\" x\" y", {"prog", "\x81\" x", "y"}, FakeLead},
        {"prog \x81\t\x9f\x20", {"prog", "\x81\t\x9f "}, FakeLead},
        // ...but only where the code page has that lead byte.
        {"prog \x81\" x", {"prog", "\x81 x"}},
        {"prog \x81 x", {"prog", "\x81", "x"}},
        {"prog \xe9\" x", {"prog", "\xe9 x"}, FakeLead},
        // A lead byte at the end of the line is a character of its own.
        {"prog a\x81", {"prog", "a\x81"}, FakeLead},
        {"prog \"a\x81", {"prog", "a\x81"}, FakeLead},
    });
    using namespace std::string_view_literals;
    CheckSplits({{"prog \x81\0 x"sv, {"prog", "\x81"}, FakeLead}});
}

// ReadParam leaves the position where the parameter ended, and at the end of
// the line it gives an empty parameter and stays there.
TEST(ReadParam, StopsWhereTheParameterEnds) {
    struct Step {
        std::string param;
        std::size_t pos;
    };
    struct Case {
        std::string_view line;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"prog  ab  cd", {{"prog", 4}, {"ab", 8}, {"cd", 12}, {"", 12}, {"", 12}}},
        {"prog a \"", {{"prog", 4}, {"a", 6}, {"", 8}}},
        {"prog \"x y\"z ", {{"prog", 4}, {"x yz", 11}, {"", 12}}},
        {"prog \"\"  ", {{"prog", 4}, {"", 9}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "line [" << c.line << "]");
        std::size_t pos = 0;
        for (const auto& step : c.steps) {
            EXPECT_EQ(CmdLin::ReadParam(c.line, pos), step.param);
            EXPECT_EQ(pos, step.pos);
        }
    }
    std::size_t past = 50;
    EXPECT_EQ(CmdLin::ReadParam("prog", past), "");
    EXPECT_EQ(past, 50u);
}

// The UTF-16 split of random lines equals the byte split of the same lines
// written in a double-byte code page: a surrogate pair stands for a lead byte
// and a quote as its second byte, a lone high surrogate for a lone lead byte.
TEST(SplitCommandLine, Utf16SplitsAsTheByteModel) {
    struct Unit {
        std::string Bytes;
        std::u16string Wide;
    };
    const Unit units[] = {{" ", u" "},
                          {"\t", u"\t"},
                          {"\"", u"\""},
                          {"a", u"a"},
                          {"/", u"/"},
                          {"\xE9", u"\u00E9"},
                          {"\x81\"", u"\U0001F600"},
                          {"\x81", u"\xD83D"},
                          {std::string(1, '\0'), std::u16string(1, u'\0')}};
    // Back from UTF-16 to the model's bytes, code unit by code unit.
    auto toBytes = [](const std::u16string& wide) {
        std::string out;
        for (char16_t c : wide)
            out += c == 0xD83D   ? '\x81'
                   : c == 0xDE00 ? '"'
                   : c == 0xE9   ? '\xE9'
                                 : static_cast<char>(c);
        return out;
    };
    std::mt19937 rng(10);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        std::u16string wide;
        std::size_t length = rng() % 12;
        for (std::size_t i = 0; i < length; ++i) {
            const Unit& u = units[rng() % std::size(units)];
            // A lone high surrogate only where no low one follows.
            if (u.Wide == u"\xD83D" && i + 1 < length) continue;
            bytes += u.Bytes;
            wide += u.Wide;
        }
        SCOPED_TRACE(::testing::Message() << "line [" << bytes << "]");
        Params got;
        for (const auto& p : CmdLin::SplitCommandLine(wide))
            got.push_back(toBytes(p));
        EXPECT_EQ(got, CmdLin::SplitCommandLine(bytes, FakeLead));
    }
}

} // namespace
