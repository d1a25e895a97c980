#include "CmdLin/cmdsource.h"

#include "CmdLin/CmdLin.h"

#include "runtime/sysio.h"

#include <cstdint>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace CmdLin {

namespace {
// Positions in argv of the non-empty arguments. The shell has split and
// unquoted them already; empty ones are passed over, as an empty pair of
// quotes makes no parameter on Windows.
std::vector<int> Slots;

const std::vector<int>& ArgSlots() {
    static const char* const* seenArgv = nullptr;
    static int seenArgc = -1;
    if (seenArgv != runtime::ProcessArgv() || seenArgc != runtime::ProcessArgCount()) {
        seenArgv = runtime::ProcessArgv();
        seenArgc = runtime::ProcessArgCount();
        Slots.clear();
        for (int i = 1; i < seenArgc; ++i) {
            const char* arg = runtime::ProcessArg(i);
            if (*arg == '\0') continue;
            Slots.push_back(i);
        }
    }
    return Slots;
}

} // namespace

int SourceArgCount() {
    return static_cast<int>(ArgSlots().size());
}

std::string SourceArg(int i) {
    if (i < 1 || i > SourceArgCount()) return std::string();
    return runtime::ProcessArg(ArgSlots()[static_cast<std::size_t>(i - 1)]);
}

std::string SourceArgNative(int) {
    return std::string();
}

std::string ProgramPath() {
    return runtime::ProcessArg(0);
}

namespace {
// Whether the text after "/W" or "/V" is a number: what the switch values
// accept, or a run of digits too large for them (its message then says the
// value is invalid rather than that no such directory exists).
bool IsNumberText(std::string_view text) {
    std::int32_t value = 0;
    if (ReadSwitchInt(text, value)) return true;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The "/" forms the help names (and "/J", which the usage text names): a mistyped path such as
// "/backup" must not turn into the switch "/B" and a report of something else.
bool IsHelpSwitchForm(std::string_view arg) {
    std::string_view rest = arg.substr(1);
    if (rest == "132") return true;
    if (rest.empty()) return false;
    unsigned char letter = LowerLetter(static_cast<unsigned char>(rest.front()));
    rest.remove_prefix(1);
    switch (letter) {
    case 't':
    case 'n':
    case 'l':
    case 'h':
    case 'j':
    case '?':
        return rest.empty();
    case 'w':
    case 'v':
        return rest.empty() || IsNumberText(rest);
    default:
        return false;
    }
}
} // namespace

// "-x" is always a switch. "/x" is one only in the forms the help names, and
// only when no file-system entry has that name: an existing entry is a path.
bool IsSwitchText(std::string_view arg) {
    if (arg.empty()) return false;
    if (arg.front() == '-') return true;
    if (arg.front() != '/' || !IsHelpSwitchForm(arg)) return false;
    struct stat st;
    return ::lstat(std::string(arg).c_str(), &st) != 0;
}

bool DoubleDashEndsSwitches() {
    return true;
}

bool PosixConventions() {
    return true;
}

} // namespace CmdLin
