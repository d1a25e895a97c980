// Splitting of a Windows command line into parameters. Pure functions over a
// byte string or a UTF-16 string, so every platform can test the rules the
// Windows build uses.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace CmdLin {

// True for a lead byte of a double-byte character in the ANSI code page.
using LeadBytePredicate = bool (*)(unsigned char);

// Reads one parameter from `pos` (double quotes removed) and leaves `pos` where
// it stopped. An empty result means the end of the line.
std::string ReadParam(std::string_view line, std::size_t& pos, LeadBytePredicate isLead = nullptr);

// Parameter 0 and every argument of the line, in order.
std::vector<std::string> SplitCommandLine(std::string_view line,
                                          LeadBytePredicate isLead = nullptr);

// The same rules over UTF-16 code units: a surrogate pair is one step, as a
// double-byte character is in the byte form.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line);

} // namespace CmdLin
