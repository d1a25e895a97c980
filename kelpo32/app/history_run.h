// A run with --history: the walk recorded in the history, and with
// --growth the history's growth written in the chosen form.
#pragma once

#include "kelpo32/app/run_options.h"
#include "kelpo32/output/fields.h"

namespace kelpo32 {

namespace report {
class UnreadSummary;
}
namespace browse {
struct BrowseSettings;
}

// Walks `start` (unless `walk` is false: --growth of the history alone),
// adds the scan to the history and, with --growth, lists its growth.
void RunHistory(const output::RunStart& start, const Options& options,
                report::UnreadSummary& unread, bool walk);

// The browser with --history: its walk recorded before the view, and the
// growth of the history for its column, computed for each window asked.
void BrowseHistory(browse::BrowseSettings& settings, const output::RunStart& start,
                   const Options& options);

} // namespace kelpo32
