// Reading the switches and the start directory from the command line.
#pragma once

#include "kelpo32/run_options.h"

namespace kelpo32 {

// The checks that end the run before the banner: an unknown long option and,
// on POSIX, an invalid /W value end it with exit code 2; "--version" prints
// the version and "--help" the POSIX help; "--format=NAME" and "/J" choose
// the output's form; the long options set their fields of `options`.
void CheckLongOptions(Options& options);
void ParseOptions();
void Set132Columns();
void WriteHelp();
// The POSIX help of "--help".
void WriteUsage();

} // namespace kelpo32
