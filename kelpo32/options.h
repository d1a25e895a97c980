// Reading the switches and the start directory from the command line.
#pragma once

#include "kelpo32/run_options.h"

#include <string_view>

namespace kelpo32 {

// The checks that end the run before the banner: an unknown long option
// (exit code 2 on POSIX, 1 on Windows) and, on POSIX, an invalid /W value;
// "--version" prints the version and "--help" the usage text. Returns what
// the long options set: "--format=NAME" and "/J" choose the output's form.
Options CheckLongOptions();
// The switches and the start directory; `options` gets --one-file-system.
void ParseOptions(Options& options);
// The start directory of a saved scan read back (UTF-8 as saved; "." the
// current one) takes the place of the typed one.
void SetSavedStart(std::string_view start);
void Set132Columns();
void WriteHelp();
// The usage text of "--help", in the platform's form.
void WriteUsage();

} // namespace kelpo32
