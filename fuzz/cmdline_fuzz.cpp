// Fuzzes the Windows command-line splitter and the switch queries over it.
//
// Input: one byte choosing the code page's lead bytes, then the command line.
// Checked on every input:
// - parameters 1 and up are never empty and hold no NUL and no double quote
//   (a quote may only be the second byte of a double-byte character);
// - each parameter is taken, in order, from the stretch of line that ReadParam
//   stepped over, with every byte of it that is neither a separator nor a
//   quote; nothing but separators and quotes is left after the last one; the
//   line ends at its first NUL;
// - without double-byte characters, the parameters quoted and joined again
//   split back into themselves;
// - ReadSwitchInt agrees with a reference built on strtoll/strtoull, on the
//   line itself and on the value text of every switch;
// - SwitchIndex, SwitchValue, PositionalCount and PositionalParam agree with a
//   direct reading of the split parameters.
#include "CmdLin/CmdLin.h"
#include "CmdLin/cmdsplit.h"
#include "fuzz/check.h"
#include "fuzz/cmdsource_fuzz.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Lead bytes of a double-byte code page like 932, and a made-up page where
// every high byte leads.
bool Cp932Lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool HighLead(unsigned char c) {
    return c >= 0x80;
}

const CmdLin::LeadBytePredicate LeadChoices[] = {nullptr, Cp932Lead, HighLead};

// One character of a parameter: two bytes for a lead byte with a byte after it.
std::size_t CharLength(std::string_view s, std::size_t pos, CmdLin::LeadBytePredicate isLead) {
    if (isLead != nullptr && isLead(static_cast<unsigned char>(s[pos])) && pos + 1 < s.size())
        return 2;
    return 1;
}

// Bytes that are neither separators nor double quotes: the splitter may skip
// nothing else, so every one of them lands in a parameter.
std::size_t TextBytes(std::string_view s) {
    std::size_t n = 0;
    for (char c : s)
        if (static_cast<unsigned char>(c) > 32 && c != '"') ++n;
    return n;
}

bool IsSubsequence(std::string_view part, std::string_view whole) {
    std::size_t at = 0;
    for (char c : part) {
        at = whole.find(c, at);
        if (at == std::string_view::npos) return false;
        ++at;
    }
    return true;
}

// The integer rules, read with the C library: leading blanks, one sign, a hex
// prefix or none, then digits only; decimal within 32-bit signed, hex within
// 32 bits and taken as two's complement.
std::optional<std::int32_t> ReferenceInt(std::string_view text) {
    text = text.substr(0, 255);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    std::string sign;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        sign = text.front();
        text.remove_prefix(1);
    }
    int base = 10;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (text.starts_with(prefix)) {
            text.remove_prefix(prefix.size());
            base = 16;
            break;
        }
    }
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        const int u = static_cast<unsigned char>(c);
        if (base == 16 ? !std::isxdigit(u) : !std::isdigit(u)) return std::nullopt;
    }
    errno = 0;
    if (base == 10) {
        const std::string number = sign + std::string(text);
        const long long v = std::strtoll(number.c_str(), nullptr, 10);
        if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
        return static_cast<std::int32_t>(v);
    }
    const std::string digits(text);
    const unsigned long long v = std::strtoull(digits.c_str(), nullptr, 16);
    if (errno == ERANGE || v > 0xFFFFFFFFull) return std::nullopt;
    auto bits = static_cast<std::uint32_t>(v);
    if (sign == "-") bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

void CheckReadSwitchInt(std::string_view text) {
    std::int32_t value = 0;
    const bool valid = CmdLin::ReadSwitchInt(text, value);
    const auto expected = ReferenceInt(text);
    CHECK(valid == expected.has_value());
    if (valid) CHECK(value == *expected);
}

void CheckSplit(std::string_view line, CmdLin::LeadBytePredicate isLead,
                const std::vector<std::string>& params) {
    const std::string_view used = line.substr(0, line.find('\0'));
    CHECK(!params.empty());
    CHECK(params == CmdLin::SplitCommandLine(used, isLead));

    std::size_t pos = 0;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const std::size_t start = pos;
        CHECK(CmdLin::ReadParam(line, pos, isLead) == params[i]);
        CHECK(pos >= start && pos <= used.size());
        CHECK(IsSubsequence(params[i], used.substr(start, pos - start)));
        CHECK(TextBytes(params[i]) == TextBytes(used.substr(start, pos - start)));
        CHECK(i == 0 || !params[i].empty());
        const std::string& p = params[i];
        for (std::size_t at = 0; at < p.size(); at += CharLength(p, at, isLead)) {
            CHECK(p[at] != '\0');
            if (CharLength(p, at, isLead) == 1) CHECK(p[at] != '"');
        }
    }
    // Nothing is left after the last parameter.
    const std::size_t end = pos;
    CHECK(CmdLin::ReadParam(line, pos, isLead).empty());
    CHECK(pos >= end && pos <= used.size());
    CHECK(TextBytes(used.substr(end)) == 0);

    if (isLead == nullptr) {
        std::string quoted = "prog";
        for (std::size_t i = 1; i < params.size(); ++i)
            quoted += " \"" + params[i] + "\"";
        std::vector<std::string> again = CmdLin::SplitCommandLine(quoted);
        again[0] = params[0];
        CHECK(again == params);
    }
}

void CheckQueries(const std::vector<std::string>& params) {
    const auto count = static_cast<std::int32_t>(params.size() - 1);
    CHECK(CmdLin::ArgCount() == count);

    std::vector<std::string> positional;
    std::vector<unsigned char> letters = {'W', 'V', 'T', '1', '-'};
    for (std::size_t i = 1; i < params.size(); ++i) {
        const std::string& p = params[i];
        if (p[0] == '-' || p[0] == '/') {
            if (p.size() >= 2) letters.push_back(static_cast<unsigned char>(p[1]));
        } else {
            positional.push_back(p);
        }
    }
    const auto positionalCount = static_cast<std::int32_t>(positional.size());
    CHECK(CmdLin::PositionalCount() == positionalCount);
    CHECK(CmdLin::PositionalParam(0).empty());
    CHECK(CmdLin::PositionalParam(positionalCount + 1).empty());
    for (std::size_t n = 0; n < positional.size() && n < 8; ++n)
        CHECK(CmdLin::PositionalParam(static_cast<std::int32_t>(n + 1)) == positional[n]);

    for (std::size_t l = 0; l < letters.size() && l < 16; ++l) {
        const unsigned char letter = letters[l];
        const auto lower = [](unsigned char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c;
        };
        std::int32_t index = 0;
        for (std::size_t i = 1; i < params.size() && index == 0; ++i) {
            const std::string& p = params[i];
            if ((p[0] == '-' || p[0] == '/') && p.size() >= 2 &&
                lower(static_cast<unsigned char>(p[1])) == lower(letter))
                index = static_cast<std::int32_t>(i);
        }
        CHECK(CmdLin::SwitchIndex(letter) == index);
        CHECK(CmdLin::HasSwitch(letter) == (index != 0));
        std::int32_t value = 0;
        if (index != 0) {
            const std::string& p = params[static_cast<std::size_t>(index)];
            CheckReadSwitchInt(std::string_view(p).substr(2));
            value = ReferenceInt(std::string_view(p).substr(2)).value_or(0);
        }
        CHECK(CmdLin::SwitchValue(letter) == value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const CmdLin::LeadBytePredicate isLead = LeadChoices[data[0] % 3];
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);

    CheckReadSwitchInt(line);

    const std::vector<std::string> params = CmdLin::SplitCommandLine(line, isLead);
    CheckSplit(line, isLead, params);

    fuzz::SetCommandLine(line, isLead);
    CheckQueries(params);
    return 0;
}
