#include "runtime/namematch.h"

namespace runtime {

NamePatterns::Form NamePatterns::Read(std::string_view pattern, bool backslashSeparates) {
    auto separator = [&](char c) { return c == '/' || (backslashSeparates && c == '\\'); };
    Form form;
    while (!pattern.empty() && separator(pattern.back())) {
        form.DirsOnly = true;
        pattern.remove_suffix(1);
    }
    if (pattern.size() >= 2 && pattern[0] == '.' && separator(pattern[1])) {
        form.Anchored = true;
        pattern.remove_prefix(2);
    }
    form.Text = pattern;
    form.Path = form.Anchored;
    for (char c : pattern)
        form.Path = form.Path || separator(c);
    return form;
}

} // namespace runtime
