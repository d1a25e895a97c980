// The scan: composes the consumers of a run and hands them to the walk over
// the start directory.
#pragma once

#include "kelpo32/run_options.h"
#include "kelpo32/unread.h"

#include <cstdint>
#include <string>

namespace kelpo32 {

// Walks the tree below `startDir` with the consumers of the run (the trace
// with /L, the status line, `unread` and the output `options` chose) and
// returns its total of bytes.
std::int64_t ScanDir(const std::string& startDir, const Options& options, UnreadSummary& unread);

// The number of threads that list directories: KELPO32_THREADS when it holds
// a number from 1 to MaxWalkThreads, else 8, or the online processors where
// there are more (at most MaxWalkThreads).
std::int32_t WalkThreads();
inline constexpr std::int32_t MaxWalkThreads = 64;

} // namespace kelpo32
