// The C library of the Windows build has no fnmatch, and the system's
// PathMatchSpec knows no "[...]": runtime/shellpattern.h matches, on the
// upper-cased UTF-16 forms of the pattern and the name, as the file system
// compares names.
#include "runtime/namematch.h"

#include "runtime/shellpattern.h"

#include "runtime/win32_support.h"

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

} // namespace

NamePatterns::NamePatterns(const std::vector<std::string>& patterns) {
    for (const std::string& p : patterns)
        patterns_.push_back({p, false, false, UpperWide(p)});
}

bool NamePatterns::Match(std::string_view name) const {
    std::wstring wide = UpperWide(name);
    for (const Pattern& p : patterns_)
        if (MatchShellPattern<wchar_t>(p.Folded, wide)) return true;
    return false;
}

} // namespace runtime
