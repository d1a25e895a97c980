// A saved scan read back (--from, --compare): JSON Lines of kelpo32 or an
// ncdu export, kept as one record per directory (never one per file), and
// replayed into the run's consumer as the walk's events, in the order of a
// one-thread depth-first walk, so that every output works from it unchanged.
#pragma once

#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kelpo32::saved {

struct SavedDir {
    std::string Name; // as saved (UTF-8; bytes that are not restored); empty for the start
    std::int64_t FileBytes = 0;
    std::int64_t Total = -1; // the subtree's bytes as saved; -1: the sum of what was read
    std::int32_t FileCount = 0;
    std::int32_t ChildCount = 0;
    std::int32_t FirstChild = -1;
    std::int32_t LastChild = -1;
    std::int32_t Next = -1;
    std::int32_t Reason = -1; // into SavedScan::Reasons
    walk::DirProblem Problem = walk::DirProblem::None;
    bool Partial = false; // read only in part: its numbers are what was read
};

struct SavedScan {
    std::string Start;         // the saved start directory (UTF-8), "." for the current one
    std::deque<SavedDir> Dirs; // grows without moving what it holds
    std::int32_t Root = -1;
    std::vector<std::string> Reasons;

    // A new directory record below `parent` (-1: the start directory); its
    // index, or -1 when there are too many.
    std::int32_t AddDir(std::int32_t parent);
    std::int32_t ReasonIndex(std::string_view reason);
};

// Reads `file` ("-": standard input). `diskUsage` picks an ncdu export's
// bytes on disk over its sizes; `countLinks` counts every link of a file with
// several, which otherwise counts once, where the walk meets it first. On
// failure returns false with `error` the message: the file, the line and
// byte, and what is wrong.
bool LoadSavedScan(const std::string& file, bool diskUsage, bool countLinks, SavedScan& scan,
                   std::string& error);

// Hands the scan's events to `consumer` as the walk would, the start
// directory named `startDir`; returns the total of bytes. Entry events carry
// the subdirectories only: a saved scan keeps no files.
std::int64_t ReplaySavedScan(const SavedScan& scan, const std::string& startDir,
                             walk::WalkConsumer& consumer);

// How the readers of both forms give the directories' reasons back.
walk::DirProblem ProblemOf(std::string_view reason);

} // namespace kelpo32::saved
