#include "runtime/textsafe.h"

#include <gtest/gtest.h>

namespace runtime {
namespace {

TEST(TextSafe, ControlsAlwaysGoAndATerminalGetsOnlyWhatItCanShow) {
    struct Case {
        std::string_view In;
        std::string_view Plain, Utf8, Bytes;
    };
    const Case cases[] = {
        {"plain name", "plain name", "plain name", "plain name"},
        {std::string_view("\x00\x1b[2J\t\x7f", 7), "??[2J??", "??[2J??", "??[2J??"},
        // U+0085 and U+009B (CSI) as UTF-8; U+00A0 is the first character shown.
        {"a\xc2\x85\xc2\x9b"
         "31m\xc2\xa0",
         "a??31m\xc2\xa0", "a??31m\xc2\xa0", "a????31m??"},
        // The bounds of the C1 controls, U+0080 and U+009F.
        {"\xc2\x80x\xc2\x9f", "?x?", "?x?", "??x??"},
        // Bidirectional overrides and isolates reorder what a terminal shows
        // after them; in a file they are the name's own characters.
        {"a\xe2\x80\xae"
         "b\xe2\x81\xa6"
         "c\xe2\x80\xaa"
         "d\xe2\x81\xa9",
         "a\xe2\x80\xae"
         "b\xe2\x81\xa6"
         "c\xe2\x80\xaa"
         "d\xe2\x81\xa9",
         "a?b?c?d?", "a???b???c???d???"},
        {"\xe6\x97\xa5\xf0\x9f\x98\x80", "\xe6\x97\xa5\xf0\x9f\x98\x80",
         "\xe6\x97\xa5\xf0\x9f\x98\x80", "???????"},
        // A lone CSI byte, a cut sequence, an overlong form, a surrogate.
        {"\x9b"
         "2J",
         "\x9b"
         "2J",
         "?2J", "?2J"},
        {"x\xe6\x97", "x\xe6\x97", "x??", "x??"},
        {"\xc0\xaf\xed\xa0\x80", "\xc0\xaf\xed\xa0\x80", "?????", "?????"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SafeText(c.In, TextSink::Plain), c.Plain) << c.In;
        EXPECT_EQ(SafeText(c.In, TextSink::Utf8Terminal), c.Utf8) << c.In;
        EXPECT_EQ(SafeText(c.In, TextSink::ByteTerminal), c.Bytes) << c.In;
    }
}

TEST(TextSafe, DecodesOnlyWellFormedUtf8) {
    EXPECT_EQ(DecodeUtf8("\xf4\x8f\xbf\xbf").CodePoint, 0x10FFFFu);
    EXPECT_EQ(DecodeUtf8("\xf4\x90\x80\x80").Length, 0u); // beyond U+10FFFF
    EXPECT_EQ(DecodeUtf8("\xe0\x9f\xbf").Length, 0u);     // overlong
    EXPECT_EQ(DecodeUtf8("\xc2\x9b").CodePoint, 0x9Bu);
    EXPECT_EQ(DecodeUtf8("").Length, 0u);
}

} // namespace
} // namespace runtime
