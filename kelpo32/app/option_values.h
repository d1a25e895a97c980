// The values of long options read from files or in forms of their own: the
// patterns of --exclude-from, the history's directory, rule and window.
#pragma once

#include "kelpo32/app/long_options.h"
#include "kelpo32/history/keep.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32 {

// Reads one pattern a line; a CR before the line end and empty lines go.
void ReadPatterns(std::string_view file, std::vector<std::string>& patterns);
// --history=DIR: not empty.
std::string HistoryDir(const OptionUse& use);
// --history-keep=RULE, --window=SPAN; a bad one is a mistake.
history::KeepRule KeepRuleOf(const OptionUse& use);
std::int64_t WindowOf(const OptionUse& use);

} // namespace kelpo32
