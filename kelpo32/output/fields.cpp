#include "kelpo32/output/fields.h"

#include "runtime/textsafe.h"
#include "runtime/utf8name.h"

#include <charconv>
#include <utility>

namespace kelpo32::output {

RunStart StartOf(std::string text, std::string native) {
    RunStart start{std::move(text), std::move(native), "."};
    if (!start.Text.empty()) {
        start.Path.clear();
        runtime::AppendUtf8Name(start.Path, start.Text, start.Native);
    }
    return start;
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

namespace {

constexpr char Hex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char c) {
    out += "\\x";
    out += Hex[c >> 4];
    out += Hex[c & 15];
}

} // namespace

void AppendTsvPath(std::string& out, std::string_view path) {
    std::size_t i = 0;
    while (i < path.size()) {
        auto c = static_cast<unsigned char>(path[i]);
        if (c >= 0x80) {
            // A character goes whole, a C1 control (U+0080 to U+009F) and a
            // lone byte of such a value as escaped bytes: some terminals obey them.
            runtime::Utf8Char u = runtime::DecodeUtf8(path.substr(i));
            std::size_t n = u.Length > 0 ? u.Length : 1;
            bool control = u.Length > 0 ? u.CodePoint < 0xA0 : c < 0xA0;
            for (std::size_t k = 0; k < n; ++k)
                if (control)
                    AppendHexByte(out, static_cast<unsigned char>(path[i + k]));
                else
                    out += path[i + k];
            i += n;
            continue;
        }
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
            if (c < 0x20 || c == 0x7F)
                AppendHexByte(out, c);
            else
                out += static_cast<char>(c);
        }
        ++i;
    }
}

} // namespace kelpo32::output
