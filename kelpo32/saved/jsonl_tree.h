// The lines of JSON Lines of kelpo32 placed into a saved scan's tree, in
// either order the program writes: children before their parent with the
// start directory last (the walk's order), or parents first with the start
// directory first (the layout of totals: --sort, --top, --min-size,
// --totals), where a parent's "... and M more" line follows its listed
// subdirectories. A directory's line names its whole path; the record keeps
// its name alone, and the length and a hash of the path up to its name, so
// that the directory's parent can check that it lies below it.
#pragma once

#include "kelpo32/saved/sax.h"

#include <deque>

namespace kelpo32::saved {

// One line as read: its numbers and the path it names.
struct JsonLine {
    const PathPieces* Path = nullptr; // its directory's, or a "more" line's parent's
    std::string Error;
    std::int32_t Depth = 0;
    std::int32_t Files = 0;
    std::int64_t Bytes = 0;
    std::int32_t Dirs = 0;
    std::int32_t More = 0;
    std::int64_t Total = 0;
    std::uint64_t TotalFiles = 0;
    std::int32_t TotalDirs = 0;
    bool IsMore = false; // a "more" line, which names its parent
    bool HasError = false;
    bool Partial = false;
};

class JsonLinesTree {
  public:
    // Failures go to `sax`, at the place of `input` or of an earlier line.
    JsonLinesTree(SavedScan& scan, SavedSax& sax, JsonInput& input)
        : scan_(scan), sax_(sax), input_(input) {}

    // Places the line just read; false when it does not fit.
    bool Place(JsonLine& line);
    // At the end: the directories still open are checked.
    bool Finish();

  private:
    // The order of the lines, known from the first one.
    enum class Order : std::uint8_t { Unknown, ChildrenFirst, ParentsFirst };

    // A directory's path up to and with the separator in front of its
    // subdirectories' names: its length and hash.
    struct Prefix {
        std::uint64_t Length = 0;
        std::uint64_t Hash = 0;
        bool operator==(const Prefix&) const = default;
    };
    // Children first: siblings whose lines were read, waiting for their
    // parent's, linked by their records' Next (in order, as the parent will
    // hold them) and kept as one run: a fan of a million waits in one.
    struct Run {
        tree::DirIndex First = tree::NoDir;
        tree::DirIndex Last = tree::NoDir;
        std::int32_t Count = 0;
        std::int32_t Depth = 0;
        Prefix Above; // of their parent's path
    };
    // Parents first: a directory whose subdirectories may still follow (one
    // per level, the start directory's first).
    struct Pending {
        tree::DirIndex Dir = tree::NoDir;
        tree::DirIndex Last = tree::NoDir; // its last subdirectory so far
        Prefix Below;                      // of its own path
        bool More = false;                 // its "more" line was read: nothing of it follows
        std::uint64_t Line = 0;            // where its line ends
        std::uint64_t Offset = 0;
    };

    static Prefix Above(const PathPieces& path) { return {path.AboveLength, path.AboveHash}; }
    static Prefix Below(const PathPieces& path);
    bool Fail(const std::string& what) { return sax_.Fail(what); }

    std::string Check(tree::DirIndex dir) const;
    tree::DirIndex NewRecord();
    bool CheckPath(tree::DirIndex index);
    bool PlaceAfterChildren();
    bool CloseTo(std::size_t depth);
    Pending* ParentOfLine();
    bool PlaceUnderParent();
    bool PlaceMore();
    void Open(tree::DirIndex index);

    SavedScan& scan_;
    SavedSax& sax_;
    JsonInput& input_;
    JsonLine* line_ = nullptr;          // the line being placed
    std::vector<Run> runs_;             // children first
    std::deque<Pending> pending_;       // parents first
    std::vector<tree::DirIndex> names_; // room for SharedName
    Order order_ = Order::Unknown;
};

} // namespace kelpo32::saved
