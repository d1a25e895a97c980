// Whether a name matches a shell pattern ("*", "?", "[...]"), as the
// platform's users expect: with fnmatch and its case on POSIX, without
// regard to case on Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace runtime {

class NamePatterns {
  public:
    NamePatterns() = default;
    explicit NamePatterns(const std::vector<std::string>& patterns);
    bool Empty() const { return patterns_.empty(); }
    // True when `name` (the report text of one name) matches any pattern.
    bool Match(std::string_view name) const;

  private:
    struct Pattern {
        std::string Text;
        // POSIX: only "*" and plain characters, which match the same on bytes
        // as on characters; or ASCII alone, without a character class: such a
        // pattern is matched without fnmatch's conversions (on an ASCII name
        // only, in the second case).
        bool Bytes = false;
        bool Ascii = false;
        std::wstring Folded; // Windows: upper-cased UTF-16
    };
    std::vector<Pattern> patterns_;
};

} // namespace runtime
