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
    for (const std::string& p : patterns)
        patterns_.push_back({p, p.find_first_of("?[\\") == std::string::npos,
                             IsAscii(p) && p.find("[:") == std::string::npos,
                             {}});
}

bool NamePatterns::Match(std::string_view name) const {
    // fnmatch needs the name ended by a byte 0; a name never holds one.
    thread_local std::string text;
    bool copied = false;
    int ascii = -1; // not looked at yet
    for (const Pattern& p : patterns_) {
        if (!p.Bytes && p.Ascii && ascii < 0) ascii = IsAscii(name) ? 1 : 0;
        if (p.Bytes || (p.Ascii && ascii == 1)) {
            if (MatchShellPattern<char>(p.Text, name)) return true;
            continue;
        }
        if (!copied) text.assign(name);
        copied = true;
        if (fnmatch(p.Text.c_str(), text.c_str(), 0) == 0) return true;
    }
    return false;
}

} // namespace runtime
