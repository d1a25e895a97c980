// What the exports write alike: the start directory's path, numbers, and
// paths as TSV keeps them on their line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelpo32::output {

// The path an export writes for the start directory: as given (UTF-8 on
// Windows), "." for the current directory.
std::string ExportStartPath();

// Appends a number in decimal.
void AppendNumber(std::string& out, std::int64_t value);

// Appends a path as TSV writes it: every byte but those that would split a
// line or a field or drive a terminal, which are escaped ("\t", "\n", "\r",
// "\\", and "\xHH" for each byte of another control character, C1 ones too,
// and each lone byte from 80 to 9F).
void AppendTsvPath(std::string& out, std::string_view path);

} // namespace kelpo32::output
