#include "kelpo32/output/fields.h"

#include "kelpo32/state.h"
#include "runtime/utf8name.h"

#include <charconv>

namespace kelpo32::output {

std::string ExportStartPath() {
    return ExportPathOf(StartDir, StartNative);
}

std::string ExportPathOf(const std::string& text, const std::string& native) {
    if (text.empty()) return ".";
    std::string path;
    runtime::AppendUtf8Name(path, text, native);
    return path;
}

void AppendNumber(std::string& out, std::int64_t value, NumberForm form) {
    // The largest magnitude a double holds with every integer below it.
    constexpr std::int64_t ExactInDouble = (std::int64_t{1} << 53) - 1;
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    bool quoted = form == NumberForm::Double && (value > ExactInDouble || value < -ExactInDouble);
    if (quoted) out += '"';
    out.append(digits, res.ptr);
    if (quoted) out += '"';
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
