#include "runtime/namematch.h"

#include "runtime/shellpattern.h"

#include <fnmatch.h>

namespace runtime {

namespace {

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

} // namespace

NamePatterns::NamePatterns(const std::vector<std::string>& patterns) {
    for (const std::string& text : patterns) {
        Form form = Read(text, false);
        const std::string& p = form.Text;
        (form.Path ? paths_ : names_)
            .push_back({p,
                        p.find_first_of("?[\\") == std::string::npos,
                        IsAscii(p) && p.find("[:") == std::string::npos,
                        {},
                        form.Anchored,
                        form.DirsOnly});
    }
}

bool NamePatterns::MatchOne(const Pattern& p, std::string_view text) const {
    if (p.Bytes || (p.Ascii && IsAscii(text))) return MatchShellPattern<char>(p.Text, text);
    // fnmatch needs the text ended by a byte 0; a name never holds one.
    thread_local std::string copy;
    copy.assign(text);
    return fnmatch(p.Text.c_str(), copy.c_str(), 0) == 0;
}

bool NamePatterns::Match(std::string_view name, bool directory) const {
    for (const Pattern& p : names_)
        if ((directory || !p.DirsOnly) && MatchOne(p, name)) return true;
    return false;
}

bool NamePatterns::MatchPath(std::string_view path, std::size_t below, bool directory) const {
    for (const Pattern& p : paths_)
        if ((directory || !p.DirsOnly) &&
            AnyPathTail(path, below, p.Anchored, '/',
                        [&](std::string_view tail) { return MatchOne(p, tail); }))
            return true;
    return false;
}

} // namespace runtime
