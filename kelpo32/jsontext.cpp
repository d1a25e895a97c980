#include "kelpo32/jsontext.h"

#include <cstdint>

namespace kelpo32 {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

void AppendEscape(std::string& out, const char* prefix, unsigned char c) {
    out += prefix;
    out += HexDigits[c >> 4];
    out += HexDigits[c & 15];
}

// The length of the valid UTF-8 sequence at the start of `s`, 0 when there
// is none: no overlong form, no surrogate, nothing above U+10FFFF.
std::size_t Utf8Length(std::string_view s) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(0);
    std::size_t n = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < n || byte(1) < lo || byte(1) > hi) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return n;
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
        } else if (std::size_t n = Utf8Length(bytes.substr(i)); n > 0) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            if (escapeInvalid)
                AppendEscape(out, "\\udc", c);
            else
                out += static_cast<char>(c);
            ++i;
        }
    }
}

} // namespace kelpo32
