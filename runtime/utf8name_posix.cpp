#include "runtime/utf8name.h"

namespace runtime {

void AppendUtf8Name(std::string& out, std::string_view text, std::string_view) {
    // The bytes are the name; the consumer escapes what is not UTF-8.
    out.append(text);
}

bool NamesAreBytes() {
    return true;
}

void NameFromUtf8(std::string_view utf8, std::string& text, std::string& native) {
    text.assign(utf8);
    native.clear();
}

} // namespace runtime
