// The program body: banner, start values, options, log, display profile, scan.
#pragma once

#include <cstdint>

namespace kelpo32 {

struct OutputForm;

// (ScreenWidth - 20) div 3, kept within 0 to 255 for very narrow or wide consoles.
std::uint8_t DrawDepthFor(std::int32_t screenWidth);
// The page length of a console whose window ends at row `rows`.
std::int32_t PageLinesFor(std::int32_t rows);

// The start values of a run, set before the options are read: no
// allocations counted, no lines on the page, no start directory, level 0, /T off.
void SetStartValues();
void SetConsoleProfile();
// `form` decides how names are measured.
void SetRedirectedProfile(const OutputForm& form);
void RunBody();

} // namespace kelpo32
