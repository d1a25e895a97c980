// The text forms of the layouts that hand rows: the layout of totals drawn
// through the report's own lines, and the comparison's table.
#pragma once

#include "kelpo32/output/dir_row.h"
#include "kelpo32/output/sizes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kelpo32::report {

// What the text forms write after the name of a directory that could not be
// read (" [unread]") or was read only in part (" [partial]"); empty else.
std::string_view ProblemMark(const output::DirRow& row);

// The end of a line of the comparison and the growth: the mark ("new",
// "gone"), the name indented by depth and its problem, written after `line`
// (`name` and `native` are room for the name) and counted for the pages.
void WriteMarkedName(std::string& line, const output::DirRow& row, std::string& name,
                     std::string& native);

// The layout of totals as text: each row with its subtree's files, bytes and
// share of its parent, the "... and M more" lines; no depth notices, as each
// line holds its whole subtree. `start` is the start
// directory as the walk was given it. Stops like the report (Esc, Ctrl+C)
// through its paging.
std::unique_ptr<output::RowWriter> NewTotalsText(output::SizeUnits units, std::string start);

// The comparison as text: a heading, then per row its bytes now, their
// change, the change of its files, the mark and the name indented by depth.
std::unique_ptr<output::RowWriter> NewCompareText(output::SizeUnits units);

// The growth as text: the file system's line (its size, free space and
// forecast), the window's, a heading, then per row its bytes now, their
// change over the last day, week and month (`unknown` where the history is
// too short), its rate per day, the mark and the name indented by depth.
std::unique_ptr<output::RowWriter> NewGrowthText(output::SizeUnits units, std::string_view unknown);

} // namespace kelpo32::report
