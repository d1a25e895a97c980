#include "CmdLin/CmdLin.h"

#include "CmdLin/cmdsource.h"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

namespace CmdLin {

namespace {

constexpr std::size_t MaxValueText = 255;

// What each argument is, read from the left as getopt_long reads it.
enum class Role : std::uint8_t {
    Switch,     // "-x" or "/x" (or a lone switch character)
    LongOption, // "--NAME[=VALUE]"
    Value,      // the value of the long option or switch before it
    End,        // the "--" that ends the switches (POSIX)
    Positional,
};

std::span<const LongOptionSpec> LongTable;
std::string ValueLetters;

struct Reading {
    std::vector<std::string> Args; // what it was read from, parameter 1 first
    const LongOptionSpec* Table = nullptr;
    std::string Letters; // the value letters it was read with
    std::vector<Role> Roles;
    std::vector<LongOptionUse> Uses;
    LongOptionProblem Problem;
};

// The option an argument's name part stands for: the exact name, else the
// only name it begins; nullptr with the problem recorded otherwise.
const LongOptionSpec* LookUp(std::string_view name, LongOptionProblem& problem) {
    std::vector<const LongOptionSpec*> found;
    for (const LongOptionSpec& spec : LongTable) {
        if (spec.Name == name) return &spec;
        if (!name.empty() && spec.Name.starts_with(name)) found.push_back(&spec);
    }
    if (found.size() == 1) return found.front();
    problem.Fault = found.empty() ? LongOptionFault::Unknown : LongOptionFault::Ambiguous;
    for (const LongOptionSpec* spec : found)
        problem.Candidates.push_back(spec->Name);
    return nullptr;
}

void ReadArgs(Reading& r) {
    const auto count = r.Args.size();
    r.Roles.assign(count, Role::Positional);
    bool ended = false;
    for (std::size_t k = 0; k < count; ++k) {
        const std::string& arg = r.Args[k];
        if (ended) continue;
        if (arg == "--" && DoubleDashEndsSwitches()) {
            r.Roles[k] = Role::End;
            ended = true;
        } else if (arg.size() > 2 && arg.starts_with("--")) {
            r.Roles[k] = Role::LongOption;
            if (r.Problem.Fault != LongOptionFault::None) continue;
            std::string_view text = std::string_view(arg).substr(2);
            auto equals = text.find('=');
            LongOptionProblem problem;
            problem.Typed = arg;
            const LongOptionSpec* spec = LookUp(text.substr(0, equals), problem);
            if (spec != nullptr) {
                problem.Name = spec->Name;
                if (equals != std::string_view::npos && !spec->TakesValue) {
                    problem.Fault = LongOptionFault::UnwantedValue;
                } else if (equals != std::string_view::npos) {
                    r.Uses.push_back({spec->Name, std::string(text.substr(equals + 1))});
                } else if (spec->TakesValue && k + 1 < count) {
                    // The next argument is the value, whatever its text.
                    r.Roles[++k] = Role::Value;
                    r.Uses.push_back({spec->Name, r.Args[k]});
                } else if (spec->TakesValue) {
                    problem.Fault = LongOptionFault::MissingValue;
                } else {
                    r.Uses.push_back({spec->Name, std::string()});
                }
            }
            if (problem.Fault != LongOptionFault::None) r.Problem = std::move(problem);
        } else if (IsSwitchText(arg)) {
            r.Roles[k] = Role::Switch;
            if (arg.size() == 2 && k + 1 < count &&
                r.Letters.find(static_cast<char>(
                    LowerLetter(static_cast<unsigned char>(arg[1])))) != std::string::npos)
                r.Roles[++k] = Role::Value;
        }
    }
}

// The reading of the current command line, redone when it or the table changes.
const Reading& Current() {
    static Reading reading;
    std::int32_t count = SourceArgCount();
    bool same = reading.Table == LongTable.data() && reading.Letters == ValueLetters &&
                reading.Args.size() == static_cast<std::size_t>(count);
    for (std::int32_t i = 1; same && i <= count; ++i)
        same = reading.Args[static_cast<std::size_t>(i - 1)] == SourceArg(i);
    if (!same) {
        reading = Reading{};
        for (std::int32_t i = 1; i <= count; ++i)
            reading.Args.push_back(SourceArg(i));
        reading.Table = LongTable.data();
        reading.Letters = ValueLetters;
        ReadArgs(reading);
    }
    return reading;
}

Role RoleOf(std::int32_t i) {
    const Reading& r = Current();
    if (i < 1 || static_cast<std::size_t>(i) > r.Roles.size()) return Role::Positional;
    return r.Roles[static_cast<std::size_t>(i - 1)];
}

// A long option and the "--" count as switches whose letter is "-": they are
// never positional, and no letter the program asks for matches them.
bool IsSwitchArg(std::int32_t i) {
    Role role = RoleOf(i);
    return role == Role::Switch || role == Role::LongOption || role == Role::End;
}

bool IsPositionalArg(std::int32_t i) {
    return RoleOf(i) == Role::Positional;
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
        if (IsPositionalArg(i) && ++seen == n) return i;
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
        if (IsPositionalArg(i)) ++n;
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

void UseLongOptions(std::span<const LongOptionSpec> table) {
    LongTable = table;
}

void UseValueLetters(std::string_view letters) {
    ValueLetters = letters;
}

std::vector<SwitchUse> SwitchUses(unsigned char letter) {
    std::vector<SwitchUse> uses;
    const unsigned char wanted = LowerLetter(letter);
    const std::int32_t count = ArgCount();
    for (std::int32_t i = 1; i <= count; ++i) {
        if (RoleOf(i) != Role::Switch) continue;
        std::string p = ArgText(i);
        if (p.size() < 2 || LowerLetter(static_cast<unsigned char>(p[1])) != wanted) continue;
        SwitchUse use{i, p.substr(2), false};
        if (p.size() == 2 && ValueLetters.find(static_cast<char>(wanted)) != std::string::npos) {
            if (RoleOf(i + 1) == Role::Value)
                use.Value = ArgText(i + 1);
            else
                use.MissingValue = true;
        }
        uses.push_back(std::move(use));
    }
    return uses;
}

std::vector<LongOptionUse> LongOptionUses() {
    return Current().Uses;
}

LongOptionProblem FirstLongOptionProblem() {
    return Current().Problem;
}

bool HasLongOption(std::string_view name) {
    const auto& uses = Current().Uses;
    return std::any_of(uses.begin(), uses.end(),
                       [&](const LongOptionUse& use) { return use.Name == name; });
}

std::int32_t FirstSwitchNotIn(std::string_view letters) {
    std::int32_t count = ArgCount();
    for (std::int32_t i = 1; i <= count; ++i) {
        if (RoleOf(i) != Role::Switch) continue;
        std::string p = ArgText(i);
        if (p.size() >= 2 &&
            letters.find(static_cast<char>(LowerLetter(static_cast<unsigned char>(p[1])))) ==
                std::string_view::npos)
            return i;
    }
    return 0;
}

} // namespace CmdLin
