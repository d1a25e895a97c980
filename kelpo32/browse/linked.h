// The files of several links the walk met inside the tree, and where: what
// the totals counted for them. The walk counts such a file once, at the first
// link it meets (unless every link counts); the browser shows the bytes of
// its other links apart, and a deletion takes the file out of the totals only
// with its last link inside the tree. Only such files are kept: a few bytes
// for each link, nothing for any other file.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "kelpo32/walk/consumer.h"

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace kelpo32::browse {

class LinkedFiles final : public walk::WalkConsumer {
  public:
    struct File {
        std::int64_t Bytes = 0; // as the tree counts them
        std::int64_t Other = 0; // of the other size kind
        // The directory of each link met, in walk order; the first counts it.
        std::vector<tree::DirIndex> Dirs;
    };

    // `tree`: the tree the walk's builder fills with every directory, the
    // record of each made when its listing is complete; `diskUsage`: the
    // tree counts bytes on disk (else apparent sizes).
    LinkedFiles(const tree::DirTree& tree, bool diskUsage) : tree_(&tree), disk_(diskUsage) {}

    void Entry(const walk::WalkDir& dir, const walk::WalkEntry& entry) override;
    bool NeedsEntries() const override { return true; }
    // No file for its size: only those of several links.
    const std::atomic<std::uint64_t>* EntryFloor() const override { return &floor_; }
    bool NeedsLinkedEntries() const override { return true; }

    // A link of the file `device`, `inode` met in directory `dir`; the first
    // met is the one counted, with `bytes` and `other`.
    void Met(std::uint64_t device, std::uint64_t inode, std::int64_t bytes, std::int64_t other,
             tree::DirIndex dir);

    // The file by its device and inode; nullptr when the walk did not meet
    // it as a file of several links.
    const File* Find(std::uint64_t device, std::uint64_t inode) const;

    // A link of the file in `dir` is gone; `counted`: it was the link the
    // totals count. Corrects `tree`: the file leaves the totals with its
    // last link, and moves to the next link when the counted one goes.
    void LinkGone(tree::DirTree& tree, std::uint64_t device, std::uint64_t inode,
                  tree::DirIndex dir, bool counted);
    // Directories of the tree went (their records are dead): every link in
    // them is forgotten. `recount`: a file counted in one of them that has
    // links left counts at the next of them again (a deletion took it out of
    // every total above); not after a rescan, which counted it again itself.
    void DirsGone(tree::DirTree& tree, bool recount);
    // The tree `from` below `fromRoot` was copied into `to` below `toRoot`
    // (a comparison's tree): each link's directory becomes its copy's, by
    // the names of the chains, which keep their order; a directory left out
    // of the copy takes its links with it.
    void MoveTo(const tree::DirTree& from, tree::DirIndex fromRoot, const tree::DirTree& to,
                tree::DirIndex toRoot);

  private:
    struct Key {
        std::uint64_t Device;
        std::uint64_t Inode;
        bool operator==(const Key&) const = default;
    };
    struct Hash {
        std::size_t operator()(const Key& k) const noexcept {
            return static_cast<std::size_t>(k.Inode * 0x9E3779B97F4A7C15ULL ^ k.Device);
        }
    };

    // Adds the file to the numbers of `dir` and every total above it
    // (`sign` 1), or takes it out (-1).
    static void CountAt(tree::DirTree& tree, const File& file, tree::DirIndex dir, int sign);

    const tree::DirTree* tree_;
    bool disk_;
    std::unordered_map<Key, File, Hash> files_;
    std::atomic<std::uint64_t> floor_{UINT64_MAX};
};

} // namespace kelpo32::browse
