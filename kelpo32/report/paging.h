// Paging and interruption: every counted report line passes NextLine.
#pragma once

#include <cstdint>

namespace kelpo32::report {

inline constexpr char PagePrompt[] = "Press any key to continue.....";

// Before a counted line that takes `columns` columns: on a console whose page
// has no room left for the screen rows the line takes, the page ends first.
void MakeRoom(std::int64_t columns);
// After a counted line: counts its rows (one without MakeRoom) and pauses
// when the page is full.
void NextLine();
// A line of `columns` columns written on a console before the report (the
// banner, the width line, a message): the first page holds it too, so that
// nothing scrolls away before the first prompt. Counts the screen rows it
// takes; never pauses.
void CountStartLine(std::int64_t columns);
// A new page with `lines` lines counted on it (the start of a run: 0).
void StartPage(std::int32_t lines = 0);
// The lines counted since the last pause.
std::int32_t LinesCounted();
void AbortIfKeyPending();
// Ends the run: start colour back, a blank (and a line end when `lineEnd`),
// the log closed; exit code StopExitCode().
[[noreturn]] void StopSequence(bool lineEnd);
// Whether Esc, Ctrl+C or SIGINT is pending (the pending input is read).
bool StopAsked();
// Ends an export after its last whole line, with the log closed and exit
// code StopExitCode().
[[noreturn]] void StopExport();
// An export's early check: StopExport() when a stop is pending.
void StopExportIfAsked();
// 0 when the user stopped reading at a terminal; on POSIX 130 when the output
// went to a file or a pipe, so a script never takes a cut report for a whole one.
int StopExitCode();

} // namespace kelpo32::report
