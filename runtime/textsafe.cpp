#include "runtime/textsafe.h"

namespace runtime {

Utf8Char DecodeUtf8(std::string_view s) {
    if (s.empty()) return {};
    auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) return {1, b0};
    std::size_t len = 0;
    std::uint32_t min = 0;
    std::uint32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, min = 0x80, cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, min = 0x800, cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, min = 0x10000, cp = b0 & 0x07u;
    } else {
        return {};
    }
    if (s.size() < len) return {};
    for (std::size_t i = 1; i < len; ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return {};
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
    return {len, cp};
}

bool IsBidiControl(std::uint32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

ShownChar NextShown(std::string_view text, TextSink sink) {
    auto b = static_cast<unsigned char>(text[0]);
    if (b < 0x80) return {1, b < 0x20 || b == 0x7F};
    if (sink == TextSink::ByteTerminal) return {1, true};
    Utf8Char c = DecodeUtf8(text);
    if (c.Length == 0) return {1, sink == TextSink::Utf8Terminal};
    bool terminal = sink == TextSink::Utf8Terminal;
    return {c.Length, c.CodePoint < 0xA0 || (terminal && IsBidiControl(c.CodePoint))};
}

void AppendSafeText(std::string& out, std::string_view text, TextSink sink) {
    while (!text.empty()) {
        ShownChar c = NextShown(text, sink);
        if (c.Replaced)
            out += '?';
        else
            out.append(text.substr(0, c.Length));
        text.remove_prefix(c.Length);
    }
}

} // namespace runtime
