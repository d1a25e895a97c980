// Names as UTF-8 for the exports: on POSIX the file system's bytes as they
// are; on Windows the real name from its UTF-16 form, not the OEM text.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

// Appends the name whose report text is `text` and whose platform form is
// `native` (empty when it is the text) to `out`.
void AppendUtf8Name(std::string& out, std::string_view text, std::string_view native);

// Whether the names of AppendUtf8Name are the file system's bytes, which may
// be no UTF-8 and may hold any control character (POSIX), rather than real
// names converted to UTF-8, which hold no backslash (Windows).
bool NamesAreBytes();

// The reverse, for a name read back from an export: its report text and its
// platform form (left empty when it is the text).
void NameFromUtf8(std::string_view utf8, std::string& text, std::string& native);

} // namespace runtime
