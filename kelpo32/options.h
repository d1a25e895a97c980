// Reading the switches and the start directory from the command line.
#pragma once

namespace kelpo32 {

// The long options of the platform: an unknown one ends the run with exit
// code 2, "--version" prints the version, "--format=NAME" and "/J" choose the
// output's form. Runs before the banner.
void CheckLongOptions();
void ParseOptions();
void Set132Columns();
void WriteHelp();

} // namespace kelpo32
