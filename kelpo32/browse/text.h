// The browser's words and the measures of its text: counts with their
// plurals, marks, problems, and text cut or wrapped to the screen's columns.
#pragma once

#include "crt32_pipe/screen.h"
#include "kelpo32/browse/items.h"
#include "kelpo32/tree/dir_tree.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::browse {

// Digits grouped by three: "1,234".
std::string Grouped(std::int64_t n);
// "1 file", "1,234 files".
std::string Files(std::int64_t n);
// "1 byte", "15 bytes", "5,000 bytes (4.9K)": exact, and readable where it
// is more than a few digits.
std::string BytesInWords(std::int64_t n);
std::string PadLeft(std::string text, std::size_t width);

// The mark of an item's flag (a blank for none), and the legend of every
// mark for the help.
char MarkOf(Flag flag);
std::vector<std::string> MarkLegend();

// "not read: permission denied", "not entered: a link", "read in part";
// empty when the directory was read whole.
std::string ProblemText(const tree::DirTrouble& trouble);

// What an entry that is no directory is: "file", "symbolic link", "FIFO"...
std::string KindOf(const runtime::DirEntry& entry);

// `text` cut to `columns` as `screen` shows it, at a character's end, with
// an ellipsis ("..." without Unicode) when it was cut.
std::string CutToColumns(const crt32_pipe::Screen& screen, std::string_view text, int columns,
                         bool unicode);
// `text` in lines of at most `columns`, broken at blanks where it can be,
// anywhere else; later lines indented by `indent` blanks.
std::vector<std::string> Wrap(const crt32_pipe::Screen& screen, std::string_view text, int columns,
                              std::size_t indent = 0);

} // namespace kelpo32::browse
