// The Windows command-line source: GetCommandLineW, split afresh on every
// query by the rules of cmdsplit.h on UTF-16 code units. Each argument is kept
// as UTF-16 (its native form, which names files) and as OEM text, the form the
// switches are read from and the report writes.
#include "CmdLin/cmdsource.h"

#include "CmdLin/cmdsplit.h"
#include "runtime/win32_support.h"

#include <vector>

namespace CmdLin {

namespace {

struct Param {
    std::string Text;
    std::string Native;
};

// The split of the current command line. Queries walk the arguments one by
// one, so splitting afresh for each would make a long command line cost
// quadratic time; the split is redone only when the line's text changes.
const std::vector<Param>& SplitProcessLine() {
    static std::u16string seenLine;
    static std::vector<Param> params;
    static bool split = false;
    const wchar_t* line = ::GetCommandLineW();
    std::u16string text;
    if (line != nullptr)
        for (const wchar_t* p = line; *p != L'\0'; ++p)
            text += static_cast<char16_t>(*p);
    if (!split || text != seenLine) {
        seenLine = text;
        params.clear();
        for (const std::u16string& p : SplitCommandLine(seenLine)) {
            std::wstring wide(p.begin(), p.end());
            params.push_back(
                Param{runtime::win32::OemFromWide(wide), runtime::win32::NativeBytes(wide)});
        }
        split = true;
    }
    return params;
}

const Param* SourceParam(int i) {
    if (i < 1) return nullptr;
    const auto& params = SplitProcessLine();
    return static_cast<std::size_t>(i) < params.size() ? &params[static_cast<std::size_t>(i)]
                                                       : nullptr;
}

} // namespace

int SourceArgCount() {
    const auto& params = SplitProcessLine();
    return params.empty() ? 0 : static_cast<int>(params.size() - 1);
}

std::string SourceArg(int i) {
    const Param* p = SourceParam(i);
    return p != nullptr ? p->Text : std::string();
}

std::string SourceArgNative(int i) {
    const Param* p = SourceParam(i);
    return p != nullptr ? p->Native : std::string();
}

std::string ProgramPath() {
    std::wstring path(MAX_PATH + 1, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size() || path.size() > 32768) {
            path.resize(n < path.size() ? n : 0);
            return runtime::win32::OemFromWide(path);
        }
        path.resize(path.size() * 2);
    }
}

bool IsSwitchText(std::string_view arg) {
    return !arg.empty() && (arg.front() == '-' || arg.front() == '/');
}

bool SourceArgIsSwitch(int i) {
    return IsSwitchText(SourceArg(i));
}

bool PosixConventions() {
    return false;
}

// "--name" and "--name=value" are the program's long options on Windows too
// (they are switches with the letter "-" as well, which no switch reads).
bool SourceArgIsLongOption(int i) {
    if (i < 1 || i > SourceArgCount()) return false;
    std::string arg = SourceArg(i);
    return arg.size() > 2 && arg.starts_with("--");
}

} // namespace CmdLin
