// Paging and interruption: every counted report line passes NextLine.
#pragma once

namespace kelpo32 {

inline constexpr char PagePrompt[] = "Press any key to continue.....";

void NextLine();
void AbortIfKeyPending();
// Ends the run with exit code 0: start colour back, a blank (and a line end
// when `lineEnd`), the log closed.
[[noreturn]] void StopSequence(bool lineEnd);

} // namespace kelpo32
