#include "fuzz/cmdsource_fuzz.h"

#include "CmdLin/cmdsource.h"

#include <string>
#include <vector>

namespace {
// Split once per input: splitting afresh on every query, as the Windows source
// does, gives the same parameters and would only slow the fuzzer down.
std::vector<std::string> params;
} // namespace

namespace fuzz {

void SetCommandLine(std::string_view line, CmdLin::LeadBytePredicate isLead) {
    params = CmdLin::SplitCommandLine(line, isLead);
}

} // namespace fuzz

namespace CmdLin {

int SourceArgCount() {
    return params.empty() ? 0 : static_cast<int>(params.size() - 1);
}

std::string SourceArg(int i) {
    if (i < 1 || static_cast<std::size_t>(i) >= params.size()) return std::string();
    return params[static_cast<std::size_t>(i)];
}

std::string SourceArgNative(int) {
    return std::string();
}

std::string ProgramPath() {
    return "kelpo32.exe";
}

bool IsSwitchText(std::string_view arg) {
    return !arg.empty() && (arg.front() == '-' || arg.front() == '/');
}

bool DoubleDashEndsSwitches() {
    return false;
}

} // namespace CmdLin
