// Reading the switches and the start directory from the command line.
#pragma once

namespace kelpo32 {

void ParseOptions();
void Set132Columns();
void WriteHelp();

} // namespace kelpo32
