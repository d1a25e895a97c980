// Whether an entry matches a shell pattern ("*", "?", "[...]"), as the
// platform's users expect: with fnmatch and its case on POSIX, without
// regard to case on Windows. A pattern without a separator matches the
// entry's name; one with a separator ("/", on Windows "\" too) its path, as
// du and ncdu match one: the whole path as the report writes it (the start
// directory as given first) or any part of it after a separator, "*"
// crossing separators. A leading "./" ties a pattern to the start
// directory: it matches the path below it from its first name. A trailing
// separator matches directories only ("build/" is a name pattern for
// directories named build).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace runtime {

class NamePatterns {
  public:
    NamePatterns() = default;
    explicit NamePatterns(const std::vector<std::string>& patterns);
    bool Empty() const { return names_.empty() && paths_.empty(); }
    // True when `name` (the report text of one name) matches a pattern of
    // names; `directory`: the entry is a directory.
    bool Match(std::string_view name, bool directory) const;
    // Whether any pattern is one of paths: only then is MatchPath asked.
    bool HasPaths() const { return !paths_.empty(); }
    // True when `path`, an entry's path as the report writes it, matches a
    // pattern of paths; the path below the start directory begins at `below`.
    bool MatchPath(std::string_view path, std::size_t below, bool directory) const;

    // What a pattern's text says, read alike on both platforms.
    struct Form {
        std::string Text; // without the "./" and the trailing separators
        bool Path = false;
        bool Anchored = false; // "./": from the start directory
        bool DirsOnly = false; // a trailing separator
    };
    static Form Read(std::string_view pattern, bool backslashSeparates);

  private:
    struct Pattern {
        std::string Text;
        // POSIX: only "*" and plain characters, which match the same on bytes
        // as on characters; or ASCII alone, without a character class: such a
        // pattern is matched without fnmatch's conversions (on an ASCII name
        // only, in the second case).
        bool Bytes = false;
        bool Ascii = false;
        std::wstring Folded; // Windows: upper-cased UTF-16, "/" for each separator
        bool Anchored = false;
        bool DirsOnly = false;
    };
    std::vector<Pattern> names_;
    std::vector<Pattern> paths_;
    bool MatchOne(const Pattern& p, std::string_view text) const;
};

// Calls `match` with the whole of `path` (from `below`, when `anchored`) and,
// unless anchored, with each part of it after a `separator`, until it says
// true.
template <class C, class Match>
bool AnyPathTail(std::basic_string_view<C> path, std::size_t below, bool anchored, C separator,
                 Match match) {
    if (anchored) return below <= path.size() && match(path.substr(below));
    if (match(path)) return true;
    for (std::size_t at = path.find(separator); at != std::basic_string_view<C>::npos;
         at = path.find(separator, at + 1))
        if (at + 1 < path.size() && path[at + 1] != separator && match(path.substr(at + 1)))
            return true;
    return false;
}

} // namespace runtime
