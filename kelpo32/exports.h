// The walk's consumers besides the report: JSON Lines, TSV and the ncdu
// export, each writing its own form to standard output. The scan picks one by
// Format and hands it the walk's events (the trace and the status line get
// them too).
#pragma once

#include "kelpo32/walk.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kelpo32 {

struct Export {
    void (*Begin)(std::string_view startPath) = nullptr; // before the walk
    WalkEvents Events;
    void (*End)() = nullptr; // after the walk
};

const Export& JsonLinesExport();
const Export& TsvExport();
const Export& NcduExport();

// The path an export writes for the start directory: as given (UTF-8 on
// Windows), "." for the current directory.
std::string ExportStartPath();

// Appends a path as TSV writes it: every byte but those that would split a
// line or a field, which are escaped ("\t", "\n", "\r", "\\", "\xHH").
void AppendTsvPath(std::string& out, std::string_view path);

class TotalsTree;
// The rows of the layout of totals, in its order (a directory before its
// subdirectories): JSON Lines objects as the JSON export writes them, each
// "... and M more" line an object {"path" of the parent, "depth", "more",
// "total_files", "total_bytes", "total_dirs"}; or TSV lines of the listed
// directories.
void WriteTotalsRows(const TotalsTree& tree, bool json);

// Appends a number in decimal.
void AppendNumber(std::string& out, std::int64_t value);

} // namespace kelpo32
