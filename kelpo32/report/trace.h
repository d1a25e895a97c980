// The trace of the walk in logfile.txt (/L): each directory as it is reached
// and each entry of its listing.
#pragma once

#include "kelpo32/walk/consumer.h"

namespace kelpo32::report {

class WalkTrace final : public walk::WalkConsumer {
  public:
    void DirStart(const walk::WalkDir& dir) override;
    void Entry(const walk::WalkDir& dir, const walk::WalkEntry& entry) override;
    bool NeedsEntries() const override { return true; }
};

} // namespace kelpo32::report
