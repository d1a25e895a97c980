// Command-line switches: lookup by letter, switch values and positional parameters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace CmdLin {

std::int32_t ArgCount();
std::string ArgText(std::int32_t i);
unsigned char LowerLetter(unsigned char c);
std::int32_t SwitchIndex(unsigned char letter);
bool HasSwitch(unsigned char letter);
std::int32_t SwitchValue(unsigned char letter);
std::int32_t PositionalCount();
std::string PositionalParam(std::int32_t n);
// The names of the long options ("--NAME", before any "--") in their order;
// only the POSIX command line has them.
std::vector<std::string> LongOptions();
bool HasLongOption(std::string_view name);
// Positional parameter n in the platform's own form (opaque; empty on POSIX).
std::string PositionalNative(std::int32_t n);

// Whether the command line follows the POSIX conventions: messages about it
// and about the start directory go to standard error and say what and why,
// and a mistake on it ends the run with exit code 2. The Windows build keeps
// its own messages on standard output.
bool PosixConventions();

// Reads a switch's value text by the integer rules; false when it is not a
// valid integer. Text past 255 characters is ignored.
bool ReadSwitchInt(std::string_view text, std::int32_t& value);

} // namespace CmdLin
