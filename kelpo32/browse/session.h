// A browsing session: the screen taken, the walk shown while it runs (or a
// saved scan read), the older scan matched in, then the view until the user
// quits; the terminal given back on every way out.
#pragma once

#include "kelpo32/run_options.h"

#include <string>

namespace kelpo32::saved {
struct SavedScan;
}

namespace kelpo32::browse {

// Browses `startDir` (`startNative`: as typed, or empty), or the saved scan
// `from`; with `old`, beside that older scan. Ends the run when the screen
// cannot be had (not a terminal, not in the foreground).
void RunBrowse(const Options& options, const std::string& startDir, const std::string& startNative,
               saved::SavedScan* from, const saved::SavedScan* old);

} // namespace kelpo32::browse
