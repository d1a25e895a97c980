// What the line exports (JSON Lines, TSV) keep of the directories whose
// subtrees are open: a stack, one entry per level, with each directory's
// path as they write it and the counts of everything below it, so the walk
// need not count them.
#pragma once

#include "kelpo32/walk.h"

#include <cstdint>
#include <string_view>

namespace kelpo32 {

struct SubtreeTotals {
    std::int64_t TotalFiles = 0;
    std::int64_t TotalDirs = 0; // directories below it
};

// An empty stack; `start` is the path the start directory is written as.
void SubtreeStart(std::string_view start);
// A directory is listed: it becomes the innermost open one.
void SubtreeEnter(const WalkDir& dir, const WalkListing& listing);
// Its subtree is done: its totals, added into its parent's.
SubtreeTotals SubtreeLeave();
// The path of the directory entered or left last (UTF-8 on Windows, the file
// system's bytes on POSIX); valid until the next call.
std::string_view SubtreePath();

} // namespace kelpo32
