// The history's directory (--history=DIR): the scans kept in it, read back
// for the growth, a new one recorded (whole or not at all) and the rotation
// that follows, which removes only files of its own.
#pragma once

#include "kelpo32/history/growth.h"
#include "kelpo32/history/keep.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/tree/dir_tree.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kelpo32::history {

// A file of the directory that is one of ours, by its name.
struct KeptFile {
    std::string Name;
    std::string Native; // the platform's form of the name; empty when it is Name
    std::int64_t NameTime = 0;
    int Second = 1; // of scans of the same second: 2 for "-2"
};

// The directory's files: ours by name time (oldest first), and the names
// of the others. False when it cannot be listed (`error` then says why).
bool ListKept(const std::string& dir, std::vector<KeptFile>& ours, std::vector<std::string>& others,
              std::string& error);

// The path of `name` in `dir`.
std::string InDir(const std::string& dir, const std::string& name);

// What the history holds for a growth: the scans read back, oldest first by
// their recorded time, and what was left out.
struct History {
    std::deque<saved::SavedScan> Loaded;
    std::vector<KeptScan> Scans;
    std::string Start;       // the start directory they are of (absolute)
    std::int32_t Others = 0; // scans of another start directory, left out
    // What it says of the files it left out, for standard error.
    std::string Notes;
};

// Reads the scans of `dir` that a growth over `window` needs (the newest,
// the window's and those a month back), of the start directory `start`
// (absolute; empty: the newest scan's). Each damaged or foreign file,
// each scan of another start directory (counted) and a clock that went
// back are named in its Notes, one line each; the rest is used.
void LoadHistory(const std::string& dir, const std::string& start, std::int64_t window,
                 History& history);

// A scan to record: the tree below `root` listed down to `levels` and to
// the directories of at least `minSize` bytes, with the first line's time,
// start directory (absolute) and file system.
struct Recording {
    const tree::DirTree* Tree = nullptr;
    tree::DirIndex Root = tree::NoDir;
    const output::RunStart* Start = nullptr;
    std::string AbsoluteStart;
    std::int64_t Time = 0;
    std::int64_t FsSize = -1;
    std::int64_t FsFree = -1;
    std::int32_t Levels = 0;
    std::int64_t MinSize = 0;
};

// Writes the scan into `dir` (made if missing) under its time's name, whole
// or not at all, then removes the scans of ours `rule` no longer keeps.
// Every failure is an uncaught error naming the directory; the history is
// then as it was.
void RecordScan(const std::string& dir, const Recording& scan, const KeepRule& rule);

// The share of a scan's bytes a directory needs to be kept: 1/10,000.
inline constexpr std::int64_t KeptShare = 10000;

} // namespace kelpo32::history
