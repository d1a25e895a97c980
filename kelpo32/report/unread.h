// The directories the walk could not read (shown empty or read only in part)
// and the entries it could not examine, for the summary on standard error
// after the report.
#pragma once

#include "kelpo32/walk/consumer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::report {

class UnreadSummary final : public walk::WalkConsumer {
  public:
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;

    // On standard error: how many could not be read or examined and why (the
    // first 20 named), or nothing when the walk read them all.
    void Write() const;
    // Whether some directory or entry could not be read or examined.
    bool Any() const { return unread_ > 0 || unexamined_ > 0; }

  private:
    // All counted, the first Shown named.
    static constexpr std::size_t Shown = 20;

    void Note(const walk::WalkDir& dir, std::string_view entry, std::string_view what,
              std::string_view reason);

    std::uint64_t unread_ = 0;
    std::uint64_t unexamined_ = 0;
    std::vector<std::string> lines_;
};

} // namespace kelpo32::report
