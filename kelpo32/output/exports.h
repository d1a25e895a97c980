// The walk's consumers besides the report: JSON Lines, TSV and the ncdu
// export, each writing its own form to standard output, and the rows of the
// layout of totals in the first two. Each is made by a row of the table of
// output forms (forms.h).
#pragma once

#include "kelpo32/walk/consumer.h"

#include <memory>

namespace kelpo32::tree {
class TotalsTree;
}

namespace kelpo32::output {

std::unique_ptr<walk::WalkConsumer> NewJsonLinesExport();
std::unique_ptr<walk::WalkConsumer> NewTsvExport();
std::unique_ptr<walk::WalkConsumer> NewNcduExport();

// The rows of the layout of totals, in its order (a directory before its
// subdirectories): JSON Lines objects as the JSON export writes them, each
// "... and M more" line an object {"path" of the parent, "depth", "more",
// "total_files", "total_bytes", "total_dirs"}; or TSV lines of the listed
// directories.
void WriteTotalsRows(const tree::TotalsTree& tree, bool json);

} // namespace kelpo32::output
