#include "kelpo32/report/progress.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace kelpo32::report {
namespace {

TEST(ProgressLine, FitsTheWidthAndShowsNoControlCharacter) {
    const std::string path = "/srv/\x1b[31m/\xe6\x97\xa5\xe6\x9c\xac/\xff/" + std::string(300, 'x');
    for (std::int32_t columns : {0, 1, 20, 60, 80, 200}) {
        std::string text = ProgressText(1234, 5678901, 12345678901234,
                                        std::chrono::milliseconds(65432), path, columns);
        // Every byte takes at most a column; a character of several bytes at most two.
        EXPECT_LE(text.size(), static_cast<std::size_t>(std::max(columns - 1, 0)) * 3 / 2 + 1);
        for (char c : text)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << columns;
        if (columns == 200) {
            EXPECT_EQ(text.substr(0, 66),
                      "1,234 dirs, 5,678,901 files, 12,345,678,901,234 bytes, 1:05  /srv/");
            EXPECT_NE(text.find("?[31m/\xe6\x97\xa5\xe6\x9c\xac/?/xxx"), std::string::npos);
        }
    }
}

} // namespace
} // namespace kelpo32::report
