// The directories the walk could not read, for the summary after the report.
#pragma once

#include "kelpo32/consumer.h"
#include "runtime/textsafe.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelpo32 {

class UnreadSummary final : public WalkConsumer {
  public:
    void DirListed(const WalkDir& dir, const WalkListing& listing) override;

    // On standard error: the directories the scan could not read and why
    // (the first 20 named), or nothing when it read them all.
    void Write() const;

  private:
    // All counted, the first Shown named.
    static constexpr std::size_t Shown = 20;
    runtime::TextSink sink_ = runtime::StdErrSink();
    std::uint64_t count_ = 0;
    std::vector<std::string> lines_;
};

} // namespace kelpo32
