// A command-line source for fuzzing: the line comes from the fuzzer, is split
// by the Windows rules and answers the queries as the Windows build would.
#pragma once

#include "CmdLin/cmdsplit.h"

#include <string_view>

namespace fuzz {

// Makes `line` the command line of the queries, split once with `isLead`.
void SetCommandLine(std::string_view line, CmdLin::LeadBytePredicate isLead);

} // namespace fuzz
