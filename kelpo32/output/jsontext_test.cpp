#include "kelpo32/output/fields.h"
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
        {"a\xe6\x97", "a\\udce6\\udc97", "a\xe6\\udc97"},
        {"\xc0\xaf", "\\udcc0\\udcaf", "\xc0\xaf"},
        {"\xed\xa0\x80", "\\udced\\udca0\\udc80", "\xed\xa0\\udc80"},
        {"\xf4\x90\x80\x80", "\\udcf4\\udc90\\udc80\\udc80", "\xf4\\udc90\\udc80\\udc80"},
        {"\xc3\xa9\xa9x", "\xc3\xa9\\udca9x", "\xc3\xa9\xa9x"},
        // The C1 controls (U+0080 to U+009F) and lone bytes of their values,
        // which a terminal of 8-bit controls obeys, are escaped in every form.
        {"\xc2\x80\xc2\x9b"
         "2J\xc2\x9f\xc2\xa0",
         "\\u0080\\u009b2J\\u009f\xc2\xa0"},
        {"\x9b"
         "2J\x80\xa0",
         "\\udc9b2J\\udc80\\udca0", "\\udc9b2J\\udc80\xa0"},
        // Characters near the top of the code space are themselves.
        {"\xf4\x8f\xb0\x80\xf4\x8f\xb3\xbf", "\xf4\x8f\xb0\x80\xf4\x8f\xb3\xbf"},
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

TEST(JsonText, TsvKeepsALineAndNoControlOfAnyKind) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"a\tb\nc\rd\\e", "a\\tb\\nc\\rd\\\\e"},
        {std::string_view("\x00\x1b[2J\x7f", 6), "\\x00\\x1b[2J\\x7f"},
        // C1 controls byte by byte, lone bytes of their values too; the rest
        // of what is not UTF-8, and every other character, as it is.
        {"\xc2\x9b"
         "2J\x9b\xc2\x80\xc2\x9f\xc2\xa0\xff\xe6\x97\xa5",
         "\\xc2\\x9b2J\\x9b\\xc2\\x80\\xc2\\x9f\xc2\xa0\xff\xe6\x97\xa5"},
        {"\xe6\x9b", "\xe6\\x9b"},
    };
    for (const auto& [in, tsv] : cases) {
        std::string out;
        AppendTsvPath(out, in);
        EXPECT_EQ(out, tsv) << in;
    }
}

} // namespace
} // namespace kelpo32::output
