#include "crt32_pipe/present.h"

#include "runtime/textsafe.h"

#include <array>
#include <cstdint>
#include <cwchar>
#include <cwctype>

namespace crt32_pipe {

namespace {

bool Utf8Terminal = true;
bool LineFeedOnly = false;

// Code page 437, bytes 128 to 255.
constexpr std::uint16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void PutUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The nearest ASCII of the console glyphs.
char AsciiGlyph(unsigned char b) {
    switch (b) {
    case 16:  // marker
    case 175: // total
        return '>';
    case 179: // vertical
        return '|';
    case 192: // corner
    case 195: // tee
        return '+';
    case 196: // horizontal
        return '-';
    default:
        return '?';
    }
}

void PresentProgramByte(std::string& out, unsigned char b) {
    if (b == '\r' || b == '\n' || (b >= 32 && b < 127))
        out += static_cast<char>(b);
    else if (b == 0)
        out += ' '; // the byte 0 of an indent shows as a blank
    else if (b == 16 && Utf8Terminal)
        PutUtf8(out, 0x25BA); // the column marker
    else if (!Utf8Terminal)
        out += AsciiGlyph(b);
    else if (b >= 128)
        PutUtf8(out, Cp437High[b - 128]);
    else
        out += '?';
}

// A name in the locale's character set: its printable characters as they are,
// "?" for each control character, bidirectional control and byte that starts
// no character.
void PresentLocalName(std::string& out, std::string_view s) {
    std::mbstate_t state{};
    while (!s.empty()) {
        wchar_t wc = 0;
        std::size_t len = std::mbrtowc(&wc, s.data(), s.size(), &state);
        if (len == static_cast<std::size_t>(-1) || len == static_cast<std::size_t>(-2)) {
            out += '?';
            s.remove_prefix(1);
            state = std::mbstate_t{};
            continue;
        }
        if (len == 0) len = 1; // a NUL byte
        if (std::iswprint(static_cast<std::wint_t>(wc)) != 0 &&
            !runtime::IsBidiControl(static_cast<std::uint32_t>(wc)))
            out.append(s.substr(0, len));
        else
            out += '?';
        s.remove_prefix(len);
    }
}

// The redirected glyphs: the em dash and the guillemet of code page 1252, and
// the byte 0 of an indent.
void PresentFileByte(std::string& out, unsigned char b) {
    if (b == 0)
        out += ' ';
    else if ((b == 151 || b == 187) && Utf8Terminal)
        PutUtf8(out, b == 151 ? 0x2014 : 0x00BB);
    else if (b == 151 || b == 187)
        out += b == 151 ? '-' : '>';
    else
        out += static_cast<char>(b);
}

} // namespace

void SetPresentation(bool utf8, bool lineFeedOnly) {
    Utf8Terminal = utf8;
    LineFeedOnly = lineFeedOnly;
}

void PresentText(std::string& out, std::string_view bytes, bool name) {
    if (name) {
        if (Utf8Terminal)
            runtime::AppendSafeText(out, bytes, runtime::TextSink::Utf8Terminal);
        else
            PresentLocalName(out, bytes);
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // The terminal adds the CR of a line end itself.
        if (LineFeedOnly && bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        PresentProgramByte(out, static_cast<unsigned char>(bytes[i]));
    }
}

void PresentFileText(std::string& out, std::string_view bytes, bool name) {
    if (name) {
        out.append(bytes);
        return;
    }
    // Runs of bytes that stay as they are go out in one append each.
    static constexpr auto Changed = [] {
        std::array<bool, 256> t{};
        t[0] = t['\r'] = t[151] = t[187] = true;
        return t;
    }();
    std::size_t run = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (!Changed[b]) continue;
        out.append(bytes.substr(run, i - run));
        run = i + 1;
        if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        PresentFileByte(out, b);
    }
    out.append(bytes.substr(run));
}

} // namespace crt32_pipe
