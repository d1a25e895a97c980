// Fills a tree of directories from the walk's events (or a saved scan's),
// applying a selection as each subtree is done: a directory the depth
// limit, the minimum size or its parent's top-N rules out goes there and
// then (its numbers stay in every total above it), and with a cap only the
// largest directories overall stay. Memory follows what may still be shown,
// not the tree.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "kelpo32/tree/select.h"
#include "kelpo32/walk/consumer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <vector>

namespace kelpo32::tree {

class TreeBuilder final : public walk::WalkConsumer {
  public:
    // `cap`: keep the `cap` largest directories by subtree bytes (ties: the
    // one met first) with their ancestors; 0: no such cap. `browse`: fill
    // the browser's column, each directory's identity and its bytes by the
    // other size kind (the walk then sums both kinds; a source that holds
    // one kind only leaves the tree's OtherKindKnown false).
    explicit TreeBuilder(const Selection& sel, std::size_t cap = 0, bool browse = false)
        : sel_(sel), cap_(cap), browse_(browse) {}

    void Begin() override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;
    bool NeedsBothKinds() const override { return browse_; }

    DirTree& Tree() { return tree_; }
    const DirTree& Tree() const { return tree_; }
    // The start directory's record once its subtree is done; NoDir before.
    DirIndex Root() const { return root_; }
    // Directory records held now (a "more" line's aside).
    std::int64_t Records() const;
    // Directories below the depth limit, which have no record.
    std::int64_t Deep() const { return deep_; }
    // Directories below the start, listed or not.
    std::int64_t Below() const { return below_; }

  private:
    struct Frame {
        DirIndex Dir = NoDir; // NoDir below the depth limit
        std::int64_t Files = 0;
        std::int64_t Other = 0; // bytes of its subtree by the other kind, with the browse column
        std::int32_t Dirs = 0;
        ChildPicker Picker;
    };
    // Larger subtrees first; of equal ones, the one met first.
    using Key = std::pair<std::int64_t, std::int64_t>; // bytes, minus the walk position

    void Finish(Frame& f, std::int64_t total);
    bool MakesTheCut(DirIndex dir);
    void DropBelowCut();
    void Compact();

    Selection sel_;
    std::size_t cap_;
    bool browse_;
    DirTree tree_;
    std::vector<Frame> frames_; // the open directories, outermost first; reused
    std::size_t depth_ = 0;     // how many are open
    DirIndex root_ = NoDir;
    std::int64_t deep_ = 0;
    std::int64_t below_ = 0;
    std::string name_;
    // With a cap: each record's position in the walk, and the cap largest keys.
    std::vector<std::int64_t> seq_;
    std::int64_t met_ = 0;
    std::priority_queue<Key, std::vector<Key>, std::greater<>> largest_;
};

// A layout of a whole tree: it reads the tree it is handed once the tree is
// had, whichever source made it (the walk's events through a builder, or a
// saved scan read in place of the walk).
class TreeReader {
  public:
    TreeReader() = default;
    TreeReader(const TreeReader&) = delete;
    TreeReader& operator=(const TreeReader&) = delete;
    virtual ~TreeReader() = default;
    // What a builder may leave out as the walk goes.
    virtual Selection Building() const = 0;
    // The builder's cap of the largest directories (TreeBuilder); 0: none.
    virtual std::size_t Cap() const { return 0; }
    // A consumer of the run's events besides, which the source hands them
    // before the tree: nullptr when the reader needs none.
    virtual walk::WalkConsumer* Events() { return nullptr; }
    // The tree below `root`; `built`: a builder made it with Building().
    virtual void Read(const DirTree& tree, DirIndex root, bool built) = 0;
};

// Of a whole tree, what a builder with `cap` keeps of the directories above
// the depth `levels`: the `cap` largest by subtree bytes (ties: the one met
// first in the walk's order), closed upwards; one byte per record, nonzero
// where it stays.
std::vector<char> LargestOfTree(const DirTree& tree, DirIndex root, std::int32_t levels,
                                std::size_t cap);

// Hands a reader that makes its rows from the walk's events as they come
// (its Events()) those events alone: no tree is built for it. A saved
// scan's tree it reads whole instead (saved::WholeTree, without events).
class EventsOnly final : public walk::WalkConsumer {
  public:
    explicit EventsOnly(std::unique_ptr<TreeReader> reader)
        : reader_(std::move(reader)), events_(*reader_->Events()) {}

    void Begin() override { events_.Begin(); }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        events_.DirListed(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        events_.DirDone(dir, listing, total);
    }
    void End() override { events_.End(); }

  private:
    std::unique_ptr<TreeReader> reader_;
    walk::WalkConsumer& events_;
};

// Hands a reader the tree the walk's events build, with the selection it
// asks for, once the walk is done.
class BuiltTree final : public walk::WalkConsumer {
  public:
    explicit BuiltTree(std::unique_ptr<TreeReader> reader)
        : reader_(std::move(reader)), builder_(reader_->Building(), reader_->Cap()),
          events_(reader_->Events()) {}

    void Begin() override {
        builder_.Begin();
        if (events_ != nullptr) events_->Begin();
    }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        builder_.DirListed(dir, listing);
        if (events_ != nullptr) events_->DirListed(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        builder_.DirDone(dir, listing, total);
        if (events_ != nullptr) events_->DirDone(dir, listing, total);
    }
    void End() override {
        if (events_ != nullptr) events_->End();
        reader_->Read(builder_.Tree(), builder_.Root(), true);
    }
    bool HoldsOutput() const override { return true; }

  private:
    std::unique_ptr<TreeReader> reader_;
    TreeBuilder builder_;
    walk::WalkConsumer* events_;
};

} // namespace kelpo32::tree
