#include "kelpo32/output/fields.h"

#include "kelpo32/state.h"
#include "runtime/utf8name.h"

#include <charconv>

namespace kelpo32::output {

std::string ExportStartPath() {
    if (StartDir.empty()) return ".";
    std::string path;
    runtime::AppendUtf8Name(path, StartDir, StartNative);
    return path;
}

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, res.ptr);
}

void AppendTsvPath(std::string& out, std::string_view path) {
    static constexpr char Hex[] = "0123456789abcdef";
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += Hex[c >> 4];
                out += Hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
}

} // namespace kelpo32::output
