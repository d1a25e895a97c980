// What the program's own long options set, as one value: CheckLongOptions
// fills it from the table of long options (long_options.h), ParseOptions adds
// what follows from the switches, and the body hands it down to the scan,
// which makes the walk's and each output's settings from it. The switches of
// the Windows program keep their report state in state.h.
#pragma once

#include "kelpo32/history/keep.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/tree/select.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelpo32 {

// A row of the table of output forms (forms.h).
struct OutputForm;

struct Options {
    const OutputForm* Form = nullptr; // the chosen output form; never null after parsing
    bool DiskUsage = false;           // bytes on disk, each file with several links once
    bool ApparentSize = false;  // --apparent-size was given (the browser's default is disk usage)
    bool OneFileSystem = false; // directories on another file system are not entered
    bool NoProgress = false;    // no status line on standard error
    bool FollowLinks = false;   // enter directory links (Windows reparse points)
    bool CountLinks = false; // count every link of a file with several (du's -l); by default once
    // --max-depth=N, -d N: list N levels below the start (as /VN); -1: not given.
    // The depth itself is the report's MaxDepth, which ParseOptions sets.
    std::int32_t DepthLimit = -1;
    // A depth (/V, -d), a minimum size, a top-N or an exclusion bounds what
    // is listed; set by ParseOptions.
    bool Bounded = false;

    // The layout of totals: each directory line carries its subtree's numbers.
    bool Totals = false;
    tree::SortKey Sort = tree::SortKey::None;
    std::int64_t MinSize = 0; // directories whose subtree holds fewer bytes are not listed
    std::int32_t Top = 0;     // at most this many subdirectories listed per directory; 0: all
    output::SizeUnits Units = output::SizeUnits::Exact;
    std::int32_t LargestFiles = 0; // the N largest files after the report; 0: none
    // The largest files are the whole report: no /T, depth limit, layout of
    // totals or comparison was asked for.
    bool LargestFilesAlone = false;
    std::vector<std::string> Excludes; // shell patterns of entries neither counted nor entered

    // Saved scans.
    std::string From;    // read this saved scan instead of walking ("-": standard input)
    std::string Compare; // the saved scan to compare with
    std::int64_t MinChange = 0;
    // A comparison lists every directory, not only those whose subtree changed.
    bool All = false;

    // The browser: one directory at a time on the whole screen.
    bool Browse = false;
    bool ReadOnly = false; // the browser deletes nothing

    // The history: each walk adds its scan to the directory History, which
    // keeps them by HistoryKeep; Growth lists what grows over the Window.
    std::string History;
    history::KeepRule HistoryKeep = history::DefaultKeep();
    bool Growth = false;
    std::int64_t Window = std::int64_t{7} * 86400;

    // The output goes to a file of its own beside this one and takes its
    // place when the run completed; empty: standard output.
    std::string Output;
};

} // namespace kelpo32
