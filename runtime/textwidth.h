// How many columns text takes where the report shows it. On POSIX these are
// the columns a terminal of the locale (LC_CTYPE) gives it: a wide East Asian
// character 2, a combining mark 0, a control character or a byte that starts
// no character 1 (the "?" a terminal shows for it). On Windows every byte of
// the OEM code page is one column. textwidth_posix.cpp and textwidth_win32.cpp.
#pragma once

#include <cstddef>
#include <string_view>

namespace runtime {

struct TextFit {
    std::size_t Bytes = 0;   // length of the start that fits; never ends inside a character
    std::size_t Columns = 0; // the columns that start takes
};

// The longest start of `text` that takes at most `columns` columns; marks of
// no width after its last character belong to it.
TextFit FitColumns(std::string_view text, std::size_t columns);

inline std::size_t TextColumns(std::string_view text) {
    return FitColumns(text, static_cast<std::size_t>(-1)).Columns;
}

} // namespace runtime
