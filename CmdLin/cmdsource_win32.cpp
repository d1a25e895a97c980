// The Windows command-line source: GetCommandLineA, split afresh on every query
// by the rules of cmdsplit.h, stepping over double-byte characters of the ANSI
// code page as CharNextA does.
#include "CmdLin/cmdsource.h"

#include "CmdLin/cmdsplit.h"

#include <windows.h> // NOMINMAX and WIN32_LEAN_AND_MEAN come from the build

#include <vector>

namespace CmdLin {

namespace {

bool IsAnsiLeadByte(unsigned char c) {
    return ::IsDBCSLeadByte(c) != FALSE;
}

// The split of the current command line. Queries walk the arguments one by
// one, so splitting afresh for each would make a long command line cost
// quadratic time; the split is redone only when the line's text changes.
const std::vector<std::string>& SplitProcessLine() {
    static std::string seenLine;
    static std::vector<std::string> params;
    static bool split = false;
    const char* line = ::GetCommandLineA();
    std::string_view text = line != nullptr ? std::string_view(line) : std::string_view();
    if (!split || text != seenLine) {
        seenLine.assign(text);
        params = SplitCommandLine(text, IsAnsiLeadByte);
        split = true;
    }
    return params;
}

} // namespace

int SourceArgCount() {
    const auto& params = SplitProcessLine();
    return params.empty() ? 0 : static_cast<int>(params.size() - 1);
}

std::string SourceArg(int i) {
    if (i < 1) return std::string();
    const auto& params = SplitProcessLine();
    return static_cast<std::size_t>(i) < params.size() ? params[static_cast<std::size_t>(i)]
                                                       : std::string();
}

std::string ProgramPath() {
    char path[MAX_PATH + 1]; // at most 260 characters
    DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n < sizeof path ? n : sizeof path - 1);
}

bool IsSwitchText(std::string_view arg) {
    return !arg.empty() && (arg.front() == '-' || arg.front() == '/');
}

bool SourceArgIsSwitch(int i) {
    return IsSwitchText(SourceArg(i));
}

bool SourceArgIsLongOption(int) {
    return false;
}

} // namespace CmdLin
