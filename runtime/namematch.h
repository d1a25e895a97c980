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
    std::vector<std::string> patterns_;
    std::vector<std::wstring> folded_; // Windows: the patterns upper-cased in UTF-16
};

} // namespace runtime
