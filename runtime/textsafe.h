// Text from outside the program (file names, arguments) made safe to show:
// one UTF-8 decoder, and the rule of what a terminal may be sent. A control
// character (C0, DEL, and the C1 controls U+0080 to U+009F, whose U+009B
// starts a control sequence like ESC [) is shown as "?"; on a terminal so is
// every byte that starts no character it can show, and every bidirectional
// control, which would reorder what the user reads after it. textsafe_posix.cpp
// and textsafe_win32.cpp tell what standard error is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

struct Utf8Char {
    std::size_t Length = 0; // 0: no well-formed sequence starts here
    std::uint32_t CodePoint = 0;
};

// The well-formed UTF-8 sequence at the start of `s`: no overlong form, no
// surrogate, nothing above U+10FFFF.
Utf8Char DecodeUtf8(std::string_view s);

// The bidirectional formatting characters: embeddings, overrides, isolates
// and the invisible direction marks.
bool IsBidiControl(std::uint32_t codePoint);

// Where text is shown.
enum class TextSink : std::uint8_t {
    Plain,        // not a terminal: only the control characters go
    Utf8Terminal, // a terminal of UTF-8: also each byte that starts no character
                  // and each bidirectional control
    ByteTerminal, // a terminal of another character set: also every byte above 127
};

// The next character of `text` (not empty) as `sink` shows it: its length
// in bytes, and whether it is shown as one "?" instead.
struct ShownChar {
    std::size_t Length = 1;
    bool Replaced = false;
};
ShownChar NextShown(std::string_view text, TextSink sink);

// Appends `text` as `sink` shows it.
void AppendSafeText(std::string& out, std::string_view text, TextSink sink);
inline std::string SafeText(std::string_view text, TextSink sink) {
    std::string out;
    AppendSafeText(out, text, sink);
    return out;
}

// What standard error is: a terminal (and of which character set) or not.
TextSink StdErrSink();

} // namespace runtime
