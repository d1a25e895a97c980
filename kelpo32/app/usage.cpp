// --help: the platform's usage text with a line per long option of the table.
#include "kelpo32/app/long_options.h"
#include "runtime/textout.h"

#include <algorithm>
#include <string>

namespace kelpo32 {

namespace {

void WriteLine(std::string_view text) {
    runtime::StdOut().Write(text);
    runtime::StdOut().WriteLn();
}

// The option and its help: the help beside it from column 21, or below it
// when the option is too long for that.
void WriteOptionHelp(const LongOption& option, std::string_view help, bool letters) {
    constexpr std::size_t Column = 21;
    std::string line = "  ";
    if (letters && option.Letter != 0) line.append("-").append(1, option.Letter);
    if (letters && option.Letter != 0 && !option.Name.empty()) line.append(", ");
    if (!option.Name.empty()) line.append("--").append(option.Name);
    if (!option.Value.empty()) line.append("=").append(option.Value);
    if (line.size() + 2 > Column) {
        WriteLine(line);
        line.clear();
    }
    for (std::size_t start = 0; start <= help.size();) {
        std::size_t end = std::min(help.find('\n', start), help.size());
        line.resize(Column, ' ');
        line.append(help.substr(start, end - start));
        WriteLine(line);
        line.clear();
        start = end + 1;
    }
}

} // namespace

void WriteUsage() {
    const Conventions& c = PlatformConventions();
    for (std::string_view line : c.UsageHead)
        WriteLine(line);
    for (const LongOption& option : LongOptions())
        if (OnPlatform(option, c))
            WriteOptionHelp(option, option.Help[static_cast<std::size_t>(c.Help)], c.ShortForms);
    for (std::string_view line : c.UsageTail)
        WriteLine(line);
}

} // namespace kelpo32
