#include "CmdLin/CmdLin.h"

#include "CmdLin/cmdsource.h"

#include <algorithm>

namespace CmdLin {

namespace {

constexpr std::size_t MaxValueText = 255;

bool IsSwitchArg(std::int32_t i) {
    return SourceArgIsSwitch(i);
}

bool ReadDigits(std::string_view text, unsigned base, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (char ch : text) {
        unsigned digit;
        if (ch >= '0' && ch <= '9')
            digit = static_cast<unsigned>(ch - '0');
        else if (base == 16 && ch >= 'a' && ch <= 'f')
            digit = static_cast<unsigned>(ch - 'a' + 10);
        else if (base == 16 && ch >= 'A' && ch <= 'F')
            digit = static_cast<unsigned>(ch - 'A' + 10);
        else
            return false;
        value = value * base + digit;
        if (value > limit) return false;
    }
    return true;
}

// The argument index of positional parameter n, or 0.
std::int32_t PositionalIndex(std::int32_t n) {
    if (n < 1) return 0;
    std::int32_t seen = 0;
    std::int32_t count = ArgCount();
    for (std::int32_t i = 1; i <= count; ++i)
        if (!IsSwitchArg(i) && ++seen == n) return i;
    return 0;
}

} // namespace

std::int32_t ArgCount() {
    return SourceArgCount();
}

std::string ArgText(std::int32_t i) {
    if (i == 0) return ProgramPath();
    if (i < 0 || i > SourceArgCount()) return std::string();
    return SourceArg(i);
}

unsigned char LowerLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

std::int32_t SwitchIndex(unsigned char letter) {
    unsigned char wanted = LowerLetter(letter);
    std::int32_t count = ArgCount();
    for (std::int32_t i = 1; i <= count; ++i) {
        std::string p = ArgText(i);
        if (IsSwitchArg(i) && p.size() >= 2 &&
            LowerLetter(static_cast<unsigned char>(p[1])) == wanted)
            return i;
    }
    return 0;
}

bool HasSwitch(unsigned char letter) {
    return SwitchIndex(letter) != 0;
}

bool ReadSwitchInt(std::string_view text, std::int32_t& value) {
    text = text.substr(0, MaxValueText);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    bool hex = false;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        hex = true;
    } else if (text.starts_with("$") || text.starts_with("x") || text.starts_with("X")) {
        text.remove_prefix(1);
        hex = true;
    }
    if (hex) {
        if (!ReadDigits(text, 16, 0xFFFFFFFFu, magnitude)) return false;
        // The 32 bits are a two's-complement number; a sign negates it within 32 bits.
        auto bits = static_cast<std::uint32_t>(magnitude);
        if (negative) bits = 0u - bits;
        value = static_cast<std::int32_t>(bits);
        return true;
    }
    if (!ReadDigits(text, 10, negative ? 2147483648u : 2147483647u, magnitude)) return false;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return true;
}

std::int32_t SwitchValue(unsigned char letter) {
    std::int32_t i = SwitchIndex(letter);
    if (i == 0) return 0;
    std::string p = ArgText(i);
    std::int32_t value = 0;
    if (p.size() <= 2 || !ReadSwitchInt(std::string_view(p).substr(2), value)) return 0;
    return value;
}

std::int32_t PositionalCount() {
    std::int32_t n = 0;
    std::int32_t count = ArgCount();
    for (std::int32_t i = 1; i <= count; ++i)
        if (!IsSwitchArg(i)) ++n;
    return n;
}

std::string PositionalParam(std::int32_t n) {
    std::int32_t i = PositionalIndex(n);
    return i == 0 ? std::string() : ArgText(i);
}

std::string PositionalNative(std::int32_t n) {
    std::int32_t i = PositionalIndex(n);
    return i == 0 ? std::string() : SourceArgNative(i);
}

std::vector<std::string> LongOptions() {
    std::vector<std::string> names;
    std::int32_t count = ArgCount();
    for (std::int32_t i = 1; i <= count; ++i)
        if (SourceArgIsLongOption(i)) names.push_back(ArgText(i).substr(2));
    return names;
}

bool HasLongOption(std::string_view name) {
    auto options = LongOptions();
    return std::find(options.begin(), options.end(), name) != options.end();
}

} // namespace CmdLin
