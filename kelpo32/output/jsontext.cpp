#include "kelpo32/output/jsontext.h"

#include "runtime/textsafe.h"

#include <cstdint>

namespace kelpo32::output {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

void AppendEscape(std::string& out, const char* prefix, unsigned char c) {
    out += prefix;
    out += HexDigits[c >> 4];
    out += HexDigits[c & 15];
}

} // namespace

void AppendJsonString(std::string& out, std::string_view bytes, bool escapeInvalid) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            // Plain ASCII runs go in one append.
            std::size_t j = i + 1;
            while (j < bytes.size()) {
                auto d = static_cast<unsigned char>(bytes[j]);
                if (d < 0x20 || d >= 0x7F || d == '"' || d == '\\') break;
                ++j;
            }
            out.append(bytes.substr(i, j - i));
            i = j;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x80) {
            AppendEscape(out, "\\u00", c);
            ++i;
        } else if (runtime::Utf8Char u = runtime::DecodeUtf8(bytes.substr(i)); u.Length > 0) {
            // A C1 control (U+0080 to U+009F) is a control sequence to some
            // terminals: escaped like the others.
            if (u.CodePoint < 0xA0)
                AppendEscape(out, "\\u00", static_cast<unsigned char>(u.CodePoint));
            else
                out.append(bytes.substr(i, u.Length));
            i += u.Length;
        } else {
            // A lone byte of a C1 control's value is one to a terminal of
            // 8-bit controls: escaped even where other bytes go as they are.
            if (escapeInvalid || c < 0xA0)
                AppendEscape(out, "\\udc", c);
            else
                out += static_cast<char>(c);
            ++i;
        }
    }
}

} // namespace kelpo32::output
