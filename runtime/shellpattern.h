// Shell patterns over one name, for the systems whose C library has no
// fnmatch: "*" any run of characters, "?" one character, "[abc]", "[a-z]",
// "[!a]" or "[^a]" one character of a set or not of it (a "]" right after
// the "[" or "[!" belongs to the set; a "[" without its "]" is itself), and
// "\" takes the next character as it is (a pattern that ends in it matches
// nothing). Character classes ("[:alpha:]")
// are not read. The same rules as fnmatch without flags, which the tests
// compare it with.
#pragma once

#include <cstddef>
#include <string_view>

namespace runtime {

namespace detail {

// Reads the set that starts after the "[" at `p`; `end` is set after its
// "]". False when there is no "]": the "[" is then an ordinary character.
template <class C>
bool InSet(std::basic_string_view<C> pat, std::size_t p, C c, bool& matched, std::size_t& end) {
    bool negate = p < pat.size() && (pat[p] == C('!') || pat[p] == C('^'));
    if (negate) ++p;
    bool found = false;
    bool first = true;
    while (p < pat.size()) {
        C lo = pat[p];
        if (lo == C(']') && !first) {
            matched = found != negate;
            end = p + 1;
            return true;
        }
        first = false;
        if (lo == C('\\') && p + 1 < pat.size()) lo = pat[++p];
        ++p;
        C hi = lo;
        if (p + 1 < pat.size() && pat[p] == C('-') && pat[p + 1] != C(']')) {
            hi = pat[p + 1];
            p += 2;
            if (hi == C('\\') && p < pat.size()) hi = pat[p++];
        }
        if (lo <= c && c <= hi) found = true;
    }
    return false;
}

} // namespace detail

template <class C>
bool MatchShellPattern(std::basic_string_view<C> pat, std::basic_string_view<C> name) {
    std::size_t p = 0;
    std::size_t n = 0;
    // Where the last "*" was and the name position it matched up to: on a
    // mismatch it takes one character more (no deep backtracking needed,
    // each later "*" replaces the earlier one).
    std::size_t starP = std::basic_string_view<C>::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pat.size()) {
            C pc = pat[p];
            if (pc == C('*')) {
                starP = ++p;
                starN = n;
                continue;
            }
            if (pc == C('?')) {
                ++p;
                ++n;
                continue;
            }
            if (pc == C('[')) {
                bool matched = false;
                std::size_t end = 0;
                if (detail::InSet(pat, p + 1, name[n], matched, end)) {
                    if (matched) {
                        p = end;
                        ++n;
                        continue;
                    }
                } else if (name[n] == pc) {
                    ++p;
                    ++n;
                    continue;
                }
            } else {
                if (pc == C('\\')) {
                    // A "\" with nothing to take makes the pattern match nothing.
                    if (p + 1 == pat.size()) return false;
                    pc = pat[++p];
                }
                if (name[n] == pc) {
                    ++p;
                    ++n;
                    continue;
                }
            }
        }
        if (starP == std::basic_string_view<C>::npos) return false;
        p = starP;
        n = ++starN;
    }
    while (p < pat.size() && pat[p] == C('*'))
        ++p;
    return p == pat.size();
}

} // namespace runtime
