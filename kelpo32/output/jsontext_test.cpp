#include "kelpo32/output/jsontext.h"

#include <gtest/gtest.h>

namespace kelpo32::output {
namespace {

TEST(JsonText, EscapesWhatJsonNeedsAndKeepsValidUtf8) {
    struct Case {
        std::string_view In;
        std::string_view Escaped;  // invalid bytes as \udcXX
        std::string_view Raw = {}; // invalid bytes as they are; empty: as Escaped
    };
    const Case cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"q\"b\\", "q\\\"b\\\\"},
        {std::string_view("\x00\x01\n\t\x1f\x7f", 6), "\\u0000\\u0001\\u000a\\u0009\\u001f\\u007f"},
        {"\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80", "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80"},
        // A lone byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
        {"\xff", "\\udcff", "\xff"},
        {"a\xe6\x97", "a\\udce6\\udc97", "a\xe6\x97"},
        {"\xc0\xaf", "\\udcc0\\udcaf", "\xc0\xaf"},
        {"\xed\xa0\x80", "\\udced\\udca0\\udc80", "\xed\xa0\x80"},
        {"\xf4\x90\x80\x80", "\\udcf4\\udc90\\udc80\\udc80", "\xf4\x90\x80\x80"},
        {"\xc3\xa9\xa9x", "\xc3\xa9\\udca9x", "\xc3\xa9\xa9x"},
    };
    for (const Case& c : cases) {
        std::string escaped;
        std::string raw = "[";
        AppendJsonString(escaped, c.In, true);
        AppendJsonString(raw, c.In, false);
        EXPECT_EQ(escaped, c.Escaped) << c.In;
        EXPECT_EQ(raw, "[" + std::string(c.Raw.empty() ? c.Escaped : c.Raw)) << c.In;
    }
}

} // namespace
} // namespace kelpo32::output
