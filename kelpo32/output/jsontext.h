// The text of a JSON string, shared by the exports.
#pragma once

#include <string>
#include <string_view>

namespace kelpo32::output {

// Appends `bytes` as the contents of a JSON string (no quotes): the quote and
// the backslash escaped, control characters (C0, DEL and C1) as \u00XX, the
// rest of valid UTF-8 as it is. A byte that is not part of valid UTF-8 is the
// escape \udcXX (XX its value, the form a surrogate-escaping reader turns back
// into the byte) when `escapeInvalid`, else written as it is, except the bytes
// 80 to 9F: a terminal may take them for C1 controls, so they are escaped too.
void AppendJsonString(std::string& out, std::string_view bytes, bool escapeInvalid);

} // namespace kelpo32::output
