// Reading the switches and the start directory from the command line.
#pragma once

namespace kelpo32 {

// The checks that end the run before the banner: an unknown long option and,
// on POSIX, an invalid /W value end it with exit code 2; "--version" prints
// the version and "--help" the POSIX help; "--format=NAME" and "/J" choose
// the output's form.
void CheckLongOptions();
void ParseOptions();
void Set132Columns();
void WriteHelp();
// The POSIX help of "--help".
void WriteUsage();

} // namespace kelpo32
