#include "kelpo32/app/option_values.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelpo32 {

namespace {

[[noreturn]] void BadValue(const OptionUse& use, std::string_view valid) {
    Mistake(Message::BadValue, {ShownArg(use.Value), use.Shown, valid});
}

} // namespace

// Reads one pattern a line; a CR before the line end and empty lines go.
void ReadPatterns(std::string_view file, std::vector<std::string>& patterns) {
    std::string name(file);
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        std::string reason = std::strerror(errno);
        Mistake(Message::UnreadablePatterns, {ShownArg(name), reason});
    }
    std::string line;
    auto take = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) patterns.push_back(line);
        line.clear();
    };
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c == '\n')
            take();
        else
            line += static_cast<char>(c);
    }
    take();
    std::fclose(f);
}

std::string HistoryDir(const OptionUse& use) {
    if (use.Value.empty()) BadValue(use, "Valid arguments are: a directory");
    return std::string(use.Value);
}

history::KeepRule KeepRuleOf(const OptionUse& use) {
    history::KeepRule rule;
    if (!history::ParseKeep(use.Value, rule))
        BadValue(use, "Valid arguments are: all, or EVERY:FOR,... and a last EVERY, each a "
                      "number and h, d, w, m or y (1h:2d,1d:60d,1w)");
    return rule;
}

std::int64_t WindowOf(const OptionUse& use) {
    std::int64_t seconds = 0;
    if (!history::ParseSpan(use.Value, seconds))
        BadValue(use, "Valid arguments are: a number and h, d, w, m (30 days) or y (7d, 36h)");
    return seconds;
}

} // namespace kelpo32
