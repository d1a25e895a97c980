// The usage text of --help, printed from the table of long options.
#include "kelpo32/app/long_options.h"

#include "kelpo32/testing/test_support.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kelpo32 {
namespace {

std::vector<std::string> UsageLines() {
    testing::CaptureStdOut();
    WriteUsage();
    runtime::StdOut().Flush();
    std::vector<std::string> lines;
    std::string_view text = testing::Captured();
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Every option of the platform has a line of its own that begins with it (its
// letter first where the platform has letters), and no line is wider than a
// terminal of 80 columns can show.
TEST(Usage, NamesEveryRowOfTheLongOptionTable) {
    const Conventions& c = PlatformConventions();
    const std::vector<std::string> lines = UsageLines();
    std::size_t rows = 0;
    for (const LongOption& option : LongOptions()) {
        if (!OnPlatform(option, c)) continue;
        ++rows;
        std::string form = "--" + std::string(option.Name);
        if (!option.Value.empty()) form += "=" + std::string(option.Value);
        if (c.ShortForms && option.Letter != 0)
            form = std::string("-") + option.Letter + ", " + form;
        form = "  " + form;
        auto named = std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line == form || line.starts_with(form + "  ");
        });
        EXPECT_EQ(named, 1) << form;
    }
    EXPECT_GE(rows, 20u);
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 79u) << line;
}

} // namespace
} // namespace kelpo32
