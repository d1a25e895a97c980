// The Windows command-line source: GetCommandLineA, split afresh on every query
// by the rules of cmdsplit.h, stepping over double-byte characters of the ANSI
// code page as CharNextA does.
#include "CmdLin/cmdsource.h"

#include "CmdLin/cmdsplit.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <vector>

namespace CmdLin {

namespace {

bool IsAnsiLeadByte(unsigned char c) {
    return ::IsDBCSLeadByte(c) != FALSE;
}

std::vector<std::string> SplitProcessLine() {
    const char* line = ::GetCommandLineA();
    return SplitCommandLine(line != nullptr ? std::string_view(line) : std::string_view(),
                            IsAnsiLeadByte);
}

} // namespace

int SourceArgCount() {
    auto params = SplitProcessLine();
    return params.empty() ? 0 : static_cast<int>(params.size() - 1);
}

std::string SourceArg(int i) {
    if (i < 1) return std::string();
    auto params = SplitProcessLine();
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

} // namespace CmdLin
