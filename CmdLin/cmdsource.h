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
// Whether argument i (1 to SourceArgCount()) is a switch where it stands: on
// POSIX every argument after "--" is positional, whatever its text.
bool SourceArgIsSwitch(int i);
// Whether argument i is a long option ("--NAME"; on POSIX only before any "--").
bool SourceArgIsLongOption(int i);

} // namespace CmdLin
