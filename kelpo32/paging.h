// Paging and interruption: every counted report line passes NextLine.
#pragma once

#include <cstdint>

namespace kelpo32 {

inline constexpr char PagePrompt[] = "Press any key to continue.....";

// The screen rows written on the current page.
extern std::int32_t LinesOnPage;

// Before a counted line that takes `columns` columns: on a console whose page
// has no room left for the screen rows the line takes, the page ends first.
void MakeRoom(std::int64_t columns);
// After a counted line: counts its rows (one without MakeRoom) and pauses
// when the page is full.
void NextLine();
void AbortIfKeyPending();
// Ends the run with exit code 0: start colour back, a blank (and a line end
// when `lineEnd`), the log closed.
[[noreturn]] void StopSequence(bool lineEnd);

} // namespace kelpo32
