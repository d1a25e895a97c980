// Reading the switches and the start directory from the command line.
#pragma once

#include <string_view>

namespace kelpo32 {

struct Options;

// The checks that end the run before the banner: an unknown long option and,
// on POSIX, an invalid /W value end it with exit code 2; "--version" prints
// the version and "--help" the POSIX help; "--format=NAME" and "/J" choose
// the output's form.
void CheckLongOptions();
// What the long options of the last CheckLongOptions set.
const Options& LongOptionValues();
void ParseOptions();
// The start directory of a saved scan read back (UTF-8 as saved; "." the
// current one) takes the place of the typed one.
void SetSavedStart(std::string_view start);
void Set132Columns();
void WriteHelp();
// The POSIX help of "--help".
void WriteUsage();

} // namespace kelpo32
