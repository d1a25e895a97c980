// The trace of the walk in logfile.txt (/L): each directory as it is reached
// and each entry of its listing.
#pragma once

#include "kelpo32/consumer.h"

namespace kelpo32 {

class WalkTrace final : public WalkConsumer {
  public:
    void DirStart(const WalkDir& dir) override;
    void Entry(const WalkDir& dir, const WalkEntry& entry) override;
    bool NeedsEntries() const override { return true; }
};

} // namespace kelpo32
