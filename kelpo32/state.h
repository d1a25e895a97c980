// The report state: the settings of the switches and the counters that more
// than one module of start-up, options, scan, report lines and paging reads
// or writes. One instance each, alive for the whole run; what one module
// alone uses lives in that module's file, and what the long options set is
// the Options value (run_options.h) the body hands down.
#pragma once

#include "runtime/textout.h"

#include <cstdint>
#include <string>

namespace kelpo32 {

inline constexpr std::int32_t NoDepthLimit = 2147483647;

extern bool TreeOnly;
extern bool NoWait;
extern bool LogEnabled;
extern std::int32_t MaxDepth;
extern std::string StartDir;
extern std::int32_t ScreenWidth;
extern std::int32_t OutputWidth;
extern std::uint8_t DrawDepth;
extern std::int32_t PageLines;
extern std::int32_t AllocCount;
extern std::int32_t AllocPeak;
extern runtime::TextOut LogFile;

// Gives every variable its value from before the program starts; called by
// the tests' report set-up only (the program starts with these values).
void ResetSharedState();

// Module shut-down: closes a log left open by an error.
void ModuleShutdown();

} // namespace kelpo32
