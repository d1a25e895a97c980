// A consumer of the walk: a small type that owns its state and receives the
// walk's events on the thread that runs the walk, in the order of a
// one-thread depth-first walk. The scan composes a list of them for a run
// (trace, status line, unread summary, the chosen output) and hands it to the
// walk; a saved scan read back replays the same events.
#pragma once

#include "kelpo32/walk.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kelpo32 {

class WalkConsumer {
  public:
    WalkConsumer() = default;
    WalkConsumer(const WalkConsumer&) = delete;
    WalkConsumer& operator=(const WalkConsumer&) = delete;
    virtual ~WalkConsumer() = default;

    // Before the first event.
    virtual void Begin() {}
    // A directory is reached (opened, or found unreadable), before its entries.
    virtual void DirStart(const WalkDir& /*dir*/) {}
    // Each entry of the directory in search order; only when some consumer
    // of the run asks for entries (NeedsEntries).
    virtual void Entry(const WalkDir& /*dir*/, const WalkEntry& /*entry*/) {}
    // The listing is complete; its subdirectories follow.
    virtual void DirListed(const WalkDir& /*dir*/, const WalkListing& /*listing*/) {}
    // The whole subtree is done; `total` holds every byte below the directory.
    virtual void DirDone(const WalkDir& /*dir*/, const WalkListing& /*listing*/,
                         std::int64_t /*total*/) {}
    // After the last event of a walk that ran to its end.
    virtual void End() {}

    // What this consumer needs the walk to deliver.
    virtual bool NeedsEntries() const { return false; }
};

// Several consumers fed the same events, in the order they were added.
class ConsumerList final : public WalkConsumer {
  public:
    void Add(WalkConsumer& consumer) { consumers_.push_back(&consumer); }

    void Begin() override {
        for (WalkConsumer* c : consumers_)
            c->Begin();
    }
    void DirStart(const WalkDir& dir) override {
        for (WalkConsumer* c : consumers_)
            c->DirStart(dir);
    }
    void Entry(const WalkDir& dir, const WalkEntry& entry) override {
        for (WalkConsumer* c : consumers_)
            if (c->NeedsEntries()) c->Entry(dir, entry);
    }
    void DirListed(const WalkDir& dir, const WalkListing& listing) override {
        for (WalkConsumer* c : consumers_)
            c->DirListed(dir, listing);
    }
    void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) override {
        for (WalkConsumer* c : consumers_)
            c->DirDone(dir, listing, total);
    }
    void End() override {
        for (WalkConsumer* c : consumers_)
            c->End();
    }
    bool NeedsEntries() const override {
        for (const WalkConsumer* c : consumers_)
            if (c->NeedsEntries()) return true;
        return false;
    }

  private:
    std::vector<WalkConsumer*> consumers_;
};

} // namespace kelpo32
