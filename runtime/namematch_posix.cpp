#include "runtime/namematch.h"

#include <fnmatch.h>

namespace runtime {

NamePatterns::NamePatterns(const std::vector<std::string>& patterns) : patterns_(patterns) {}

bool NamePatterns::Match(std::string_view name) const {
    // fnmatch needs the name ended by a byte 0; a name never holds one.
    thread_local std::string text;
    text.assign(name);
    for (const std::string& p : patterns_)
        if (fnmatch(p.c_str(), text.c_str(), 0) == 0) return true;
    return false;
}

} // namespace runtime
