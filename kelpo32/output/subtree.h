// What the line exports (JSON Lines, TSV) keep of the directories whose
// subtrees are open: a stack, one entry per level, with each directory's
// path as they write it and the counts of everything below it, so the walk
// need not count them.
#pragma once

#include "kelpo32/walk/consumer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::output {

struct SubtreeTotals {
    std::int64_t TotalFiles = 0;
    std::int64_t TotalDirs = 0; // directories below it
};

class SubtreeStack {
  public:
    // `start` is the path the start directory is written as.
    explicit SubtreeStack(std::string start) : start_(std::move(start)) {}

    // A directory is listed: it becomes the innermost open one.
    void Enter(const walk::WalkDir& dir, const walk::WalkListing& listing);
    // Its subtree is done: its totals, added into its parent's.
    SubtreeTotals Leave();
    // The path of the directory entered or left last (UTF-8 on Windows, the
    // file system's bytes on POSIX); valid until the next call.
    std::string_view Path() const { return path_; }

  private:
    // 16 bytes, in a deque that grows without a copy: a saved chain a
    // million deep keeps a million.
    struct OpenDir {
        std::int64_t TotalFiles;
        std::int32_t TotalDirs;
        std::uint32_t PathLength; // of the parent's path, restored when it is left
    };

    std::deque<OpenDir> open_;
    std::string path_;
    std::string start_;
    std::size_t cutTo_ = 0; // the path of the directory left last goes at the next call
};

} // namespace kelpo32::output
