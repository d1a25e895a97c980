// Command-line switches: lookup by letter, switch values and positional parameters.
#pragma once

#include <cstdint>
#include <span>
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
// Long options ("--NAME", on POSIX before any "--"), read as getopt_long
// reads them: "--NAME=VALUE" or "--NAME VALUE" for an option that takes a
// value, and any unambiguous prefix of a name. An option may be given several
// times; every use is kept, in order.
struct LongOptionSpec {
    std::string_view Name;
    bool TakesValue;
};
// The table of the program's long options: the one place the parser knows
// them from. Set before the first query; it must outlive every query.
void UseLongOptions(std::span<const LongOptionSpec> table);

struct LongOptionUse {
    std::string_view Name; // the table's name, however it was abbreviated
    std::string Value;     // empty for an option without a value
};

enum class LongOptionFault : std::uint8_t {
    None,
    Unknown,       // no name in the table begins so
    Ambiguous,     // several names begin so (Candidates)
    MissingValue,  // it takes a value and none follows
    UnwantedValue, // "=VALUE" after an option that takes none
};
struct LongOptionProblem {
    LongOptionFault Fault = LongOptionFault::None;
    std::string Typed;                        // the argument as given
    std::string_view Name;                    // the table's name (missing or unwanted value)
    std::vector<std::string_view> Candidates; // the names an ambiguous prefix begins
};

// The uses before the first mistake, and that mistake (Fault None if none).
std::vector<LongOptionUse> LongOptionUses();
LongOptionProblem FirstLongOptionProblem();
bool HasLongOption(std::string_view name);

// Switch letters (lower case) that, given alone ("-d"), take the next
// argument as their value, as getopt reads "d:"; that argument is then
// neither positional nor a switch. None unless set; set before the first query.
void UseValueLetters(std::string_view letters);

// One use of a switch letter: where it stands and its value's text (what
// follows the letter, or the next argument for a letter of UseValueLetters).
struct SwitchUse {
    std::int32_t Index;
    std::string Value;
    bool MissingValue; // a letter of UseValueLetters given alone as the last argument
};
// Every use of the letter (any case), in order.
std::vector<SwitchUse> SwitchUses(unsigned char letter);

// The index of the first switch whose letter is not one of `letters` (lower
// case); 0 when there is none. Long options and a lone switch character have
// no letter to check.
std::int32_t FirstSwitchNotIn(std::string_view letters);
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
