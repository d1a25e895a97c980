// Reading the switches and the start directory from the command line.
#pragma once

#include "kelpo32/app/run_options.h"
#include "kelpo32/output/fields.h"

#include <string_view>

namespace kelpo32 {

// The checks that end the run before the banner: a mistaken long option or
// switch (the platform's exit code for a mistake) and, where the platform
// checks first, an invalid /W value; "--version" prints the version and
// "--help" the usage text. Returns what the long options set: "--format=NAME"
// and "/J" choose the output's form.
Options CheckLongOptions();
// Where the platform checks the start directory before anything is written,
// or the output goes to a file (--output), checks it (unless /H or /? asks
// for the help, which wins); a start directory that cannot be entered ends
// the run.
void CheckStartFirst(const Options& options);
// Whether /H or /? asks for the help.
bool HelpSwitch();
// The switches and the start directory (unless checked first); `options`
// gets whether the largest files are the whole report.
void ParseOptions(Options& options);
// The start directory of the run as typed (after ParseOptions: StartDir, and
// the argument in the platform's form).
output::RunStart TypedStart();
// The start directory of a saved scan read back (UTF-8 as saved; "." the
// current one), in the form a typed one has.
output::RunStart SavedStart(std::string_view saved);
void Set132Columns();
void WriteHelp();

} // namespace kelpo32
