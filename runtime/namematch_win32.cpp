// The C library of the Windows build has no fnmatch, and the system's
// PathMatchSpec knows no "[...]": runtime/shellpattern.h matches, on the
// upper-cased UTF-16 forms of the pattern and the name, as the file system
// compares names. In a pattern of paths and in a path "\" and "/" are both
// the separator, so "\" takes no character as it is there.
#include "runtime/namematch.h"

#include "runtime/shellpattern.h"

#include "runtime/win32_support.h"

#include <algorithm>

namespace runtime {

namespace {

// The OEM text as upper-cased UTF-16.
std::wstring UpperWide(std::string_view text) {
    std::wstring wide;
    if (text.empty()) return wide;
    int size = static_cast<int>(text.size());
    int n = MultiByteToWideChar(CP_OEMCP, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return wide;
    wide.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_OEMCP, 0, text.data(), size, wide.data(), n);
    CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return wide;
}

std::wstring WithSlashes(std::wstring text) {
    std::replace(text.begin(), text.end(), L'\\', L'/');
    return text;
}

} // namespace

NamePatterns::NamePatterns(const std::vector<std::string>& patterns) {
    for (const std::string& text : patterns) {
        Form form = Read(text, true);
        std::wstring folded = UpperWide(form.Text);
        if (form.Path) folded = WithSlashes(std::move(folded));
        (form.Path ? paths_ : names_)
            .push_back({form.Text, false, false, std::move(folded), form.Anchored, form.DirsOnly});
    }
}

bool NamePatterns::MatchOne(const Pattern& p, std::string_view text) const {
    std::wstring wide = UpperWide(text);
    return MatchShellPattern<wchar_t>(p.Folded, wide);
}

bool NamePatterns::Match(std::string_view name, bool directory) const {
    if (names_.empty()) return false;
    std::wstring wide = UpperWide(name);
    for (const Pattern& p : names_)
        if ((directory || !p.DirsOnly) && MatchShellPattern<wchar_t>(p.Folded, wide)) return true;
    return false;
}

bool NamePatterns::MatchPath(std::string_view path, std::size_t below, bool directory) const {
    if (paths_.empty()) return false;
    // The part below the start directory keeps its place: one OEM byte is
    // one UTF-16 unit or two, so it is found again by converting the start.
    std::wstring start = UpperWide(path.substr(0, below));
    std::wstring wide = WithSlashes(start + UpperWide(path.substr(below)));
    for (const Pattern& p : paths_)
        if ((directory || !p.DirsOnly) &&
            AnyPathTail<wchar_t>(wide, start.size(), p.Anchored, L'/', [&](std::wstring_view tail) {
                return MatchShellPattern<wchar_t>(p.Folded, tail);
            }))
            return true;
    return false;
}

} // namespace runtime
