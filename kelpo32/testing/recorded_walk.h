// Test support: a walk's events kept, to be handed to several consumers in
// turn as the walk handed them.
#pragma once

#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelpo32::testing {

class RecordedWalk final : public walk::WalkConsumer {
  public:
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        events_.push_back({false, dir.Path, dir.Name, dir.Native, dir.Level, dir.Id,
                           dir.SiblingCount, listing, 0});
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        events_.push_back({true, dir.Path, dir.Name, dir.Native, dir.Level, dir.Id,
                           dir.SiblingCount, listing, total});
    }
    void Replay(walk::WalkConsumer& to) const {
        to.Begin();
        for (const Event& e : events_) {
            walk::WalkDir dir{e.Path, e.Name, e.Native, e.Level, e.Id, e.Siblings};
            if (e.Done)
                to.DirDone(dir, e.Listing, e.Total);
            else
                to.DirListed(dir, e.Listing);
        }
        to.End();
    }

  private:
    struct Event {
        bool Done;
        std::string Path, Name, Native;
        std::int32_t Level, Id, Siblings;
        walk::WalkListing Listing;
        std::int64_t Total;
    };
    std::vector<Event> events_;
};

} // namespace kelpo32::testing
