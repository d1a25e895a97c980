// Where the parameters come from: the Windows command line, split afresh on
// every query, or the argv of a POSIX process.
#pragma once

#include <string>
#include <string_view>

namespace CmdLin {

// Number of arguments after parameter 0.
int SourceArgCount();
// Argument i (1 to SourceArgCount()).
std::string SourceArg(int i);
// Argument i in the platform's own form (opaque bytes: UTF-16 on Windows,
// where SourceArg is its OEM text); empty on POSIX, where it equals SourceArg.
std::string SourceArgNative(int i);
// The full path of the running program file.
std::string ProgramPath();
// Whether an argument counts as a switch on this platform.
bool IsSwitchText(std::string_view arg);
// Whether an argument "--" ends the switches, making every later argument
// positional whatever its text (POSIX); on Windows it is a switch like any other.
bool DoubleDashEndsSwitches();

} // namespace CmdLin
