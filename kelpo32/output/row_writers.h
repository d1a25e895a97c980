// The writers of rows of the line exports: JSON Lines and TSV, one line per
// row on standard output, whatever the layout that hands them the rows.
#pragma once

#include "kelpo32/output/dir_row.h"
#include "runtime/textout.h"

#include <memory>

namespace kelpo32::output {

// JSON Lines: a directory's row as {"path", "depth", "files", "bytes",
// "dirs", "total_files", "total_bytes", "total_dirs", "error"?,
// "partial"?}; a "... and M more" row as {"path" of the parent, "depth",
// "more", "total_files", "total_bytes", "total_dirs"}; a compared row as
// {"path", "depth", "bytes", "old_bytes", "change", "files", "old_files",
// "files_change", "state"?} of the subtree; after a comparison's rows,
// {"unchanged"} when it left out unchanged directories.
std::unique_ptr<RowWriter> NewJsonRows();
// The same into `out` (a kept scan of the history).
std::unique_ptr<RowWriter> NewJsonRows(runtime::TextOut& out);

// TSV: a directory's row as total bytes, total files, bytes, files, path
// and its problem (empty, or why it was not read whole); a compared row as
// bytes now, before and their change, the same of files, the mark and the
// path. A "more" row has no line, nor do unchanged directories left out.
std::unique_ptr<RowWriter> NewTsvRows();

} // namespace kelpo32::output
