// The browser's keys: one table of what each key does and its line of help.
// The view answers keys from it and the help screen is drawn from it, so the
// two cannot drift apart.
#pragma once

#include "crt32_pipe/screen.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kelpo32::browse {

enum class Action : std::uint8_t {
    Up,
    Down,
    PageUp,
    PageDown,
    First,
    Last,
    Open,
    Parent,
    SortBySize,
    SortByName,
    SortByFiles,
    SortByChange,
    SortByGrowth,
    GrowthWindow,
    SizeKind,
    ExactSizes,
    Info,
    Rescan,
    Delete,
    Help,
    Quit,
};

struct KeyRow {
    Action Does;
    std::array<crt32_pipe::ScreenKey, 3> Keys; // unused ones are of kind None
    std::string_view Help;
};

// Every row, in the order the help lists them.
std::span<const KeyRow> KeyTable();

// The row of `key`; nullptr when no row has it.
const KeyRow* FindKey(const crt32_pipe::ScreenKey& key);

// A key as the help names it ("Up", "PgDn", "Esc", "s").
std::string KeyName(const crt32_pipe::ScreenKey& key);

// The keys of a row, as the help names them ("Enter, Right").
std::string KeysOf(const KeyRow& row);

} // namespace kelpo32::browse
