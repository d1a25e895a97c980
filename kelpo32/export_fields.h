// What the exports write alike: the start directory's path and numbers.
#pragma once

#include <cstdint>
#include <string>

namespace kelpo32 {

// The path an export writes for the start directory: as given (UTF-8 on
// Windows), "." for the current directory.
std::string ExportStartPath();

// Appends a number in decimal.
void AppendNumber(std::string& out, std::int64_t value);

} // namespace kelpo32
