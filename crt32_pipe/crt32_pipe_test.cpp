#include "crt32_pipe/crt32_pipe.h"
#include "crt32_pipe/present.h"

#include <gtest/gtest.h>

namespace crt32_pipe {
namespace {

TEST(ForegroundAttr, KeepsTheBackgroundAndDropsHighBits) {
    EXPECT_EQ(ForegroundAttr(0x1F, 12), 0x1C);
    EXPECT_EQ(ForegroundAttr(0x1F, 0x2A), 0x1A);
    EXPECT_EQ(ForegroundAttr(0x8007, 7), 0x07);
    EXPECT_EQ(ForegroundAttr(0xFFFF, 10), 0xFA);
}

std::string Shown(std::string_view bytes, bool name) {
    std::string out;
    PresentText(out, bytes, name);
    return out;
}

TEST(PresentText, ProgramBytesAsCodePage437) {
    EXPECT_EQ(Shown(std::string("\xC3\xC4\xB3  \0\xC0\xAF\x10", 9), false), "├─│   └»►");
    EXPECT_EQ(Shown("\r\nabc\x07", false), "\r\nabc?");
}

TEST(PresentText, NamesAreSanitisedUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9", "café"},
        {"\xE2\x82\xAC\xF0\x9F\x98\x80", "€😀"},
        {"esc\x1B[31m", "esc?[31m"},
        {"bell\x07tab\tnl\n", "bell?tab?nl?"},
        {"c1\xC2\x9B", "c1?"},         // a C1 control (CSI) in UTF-8
        {"bad\xFF\xC3", "bad??"},      // invalid and truncated
        {"over\xC0\xAF", "over??"},    // an overlong form
        {"sur\xED\xA0\x80", "sur???"}, // a surrogate
        {"del\x7F", "del?"},
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(Shown(name, true), shown) << name;
}

} // namespace
} // namespace crt32_pipe
