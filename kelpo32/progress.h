// A status line on standard error while a long report goes to a file or a
// pipe: directories, files and bytes so far, the time and the directory being
// read. Shown only when standard error is a terminal (a console on Windows)
// and standard output is not, after half a second, at most ten times a
// second; erased before any message, at the end and on every way out.
#pragma once

#include "kelpo32/walk.h"
#include "runtime/textsafe.h"

#include <chrono>
#include <string>

namespace kelpo32 {

// Decides whether the line may be shown in this run; before the walk.
// `outputWaits`: nothing is written to standard output until the walk ends,
// so the line may be shown while it is a terminal too.
void ProgressStart(bool outputWaits = false);
// The walk's events it counts.
void ProgressDir(const WalkDir& dir);
void ProgressListed(const WalkDir& dir, const WalkListing& listing);
// Erases the line and shows it no more.
void ProgressEnd();

// The text of the line, at most `columns` - 1 columns wide (so the terminal
// never wraps it). Separate for the tests.
std::string ProgressText(std::int64_t dirs, std::int64_t files, std::int64_t bytes,
                         std::chrono::milliseconds elapsed, std::string_view path,
                         std::int32_t columns,
                         runtime::TextSink sink = runtime::TextSink::Utf8Terminal);

} // namespace kelpo32
