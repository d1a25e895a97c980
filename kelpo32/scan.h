// The scan: runs the walk over the start directory and hands its events to
// the report lines and, with /L, to the trace in logfile.txt.
#pragma once

#include "kelpo32/walk.h"

#include <cstdint>
#include <string>

namespace kelpo32 {

struct SavedScan;
class WalkConsumer;

// Walks the start directory, or with `saved` replays that saved scan; with
// `output`, it takes the events in place of the report or the export.
void ScanDir(const std::string& startDir, std::int64_t& total, const SavedScan* saved = nullptr,
             WalkConsumer* output = nullptr);

// After the report, on standard error: the directories the scan could not
// read and why (the first 20 named), or nothing when it read them all.
void WriteUnreadSummary();

// The threads that list directories: KELPO32_THREADS fixes their number when
// it holds a number from 1 to MaxWalkThreads; else the walk starts with one
// per online processor and adds more, up to MaxWalkThreads, while listings
// wait on the disk.
inline constexpr std::int32_t MaxWalkThreads = 64;
void WalkThreads(WalkOptions& options);

} // namespace kelpo32
