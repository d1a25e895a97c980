// Reading the switches and the start directory from the command line.
#pragma once

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
void Set132Columns();
void WriteHelp();
// The POSIX help of "--help".
void WriteUsage();

} // namespace kelpo32
