// JSON Lines of kelpo32 read back: one object per directory, in either order
// the program writes: children before their parent with the start directory
// last (the walk's order), or parents first with the start directory first
// (the layout of totals: --sort, --top, --min-size, --totals), where a
// parent's "... and M more" line follows its listed subdirectories. A
// directory's line names its whole path; the record keeps its name alone,
// and the length and a hash of the path up to its name, so that the
// directory's parent can check that it lies below it. Every number a line
// holds is kept: a directory cut off by a depth limit, a minimum size or a
// top-N keeps its subtree's totals.
#include "kelpo32/saved/sax.h"
#include "kelpo32/saved/scan_time.h"

#include "runtime/dirsearch.h"

#include <deque>

namespace kelpo32::saved {

namespace {

std::uint64_t Hash(std::string_view text) {
    std::uint64_t h = 14695981039346656037ULL;
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

enum class Field : std::uint8_t {
    Other,
    Path,
    Parent,
    Depth,
    Files,
    Bytes,
    Dirs,
    More,
    TotalFiles,
    TotalBytes,
    TotalDirs,
    Error,
    Partial,
    Compared,
    Recorded,
    Start,
    FsSize,
    FsFree
};

// The order of the lines, known from the first one.
enum class Order : std::uint8_t { Unknown, ChildrenFirst, ParentsFirst };

// A directory's path up to and with the separator in front of its
// subdirectories' names: its length and hash.
struct Prefix {
    std::size_t Length = 0;
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

class JsonLinesSax final : public SavedSax {
  public:
    JsonLinesSax(JsonInput& input, SavedScan& scan) : SavedSax(input), scan_(scan) {}

    // Parents first, the directories still open are checked at the end.
    bool Finish() {
        if (order_ == Order::ParentsFirst) return CloseTo(0);
        if (scan_.Root == tree::NoDir)
            return Fail("truncated: the start directory's line, which is the last, is missing");
        return true;
    }

  private:
    bool StartObject() override {
        if (inObject_) return Fail("a nested object where a number or a string belongs");
        inObject_ = true;
        line_ = Fields{};
        return true;
    }
    bool StartArray() override {
        return Fail(inObject_ ? "an array where a number or a string belongs"
                              : "not a saved scan: a line that is not an object");
    }
    bool EndArray() override { return Fail("not JSON Lines"); }
    bool Key(std::string_view key) override {
        static constexpr std::pair<std::string_view, Field> Names[] = {
            {"path", Field::Path},
            {"parent", Field::Parent},
            {"depth", Field::Depth},
            {"files", Field::Files},
            {"bytes", Field::Bytes},
            {"dirs", Field::Dirs},
            {"more", Field::More},
            {"total_files", Field::TotalFiles},
            {"total_bytes", Field::TotalBytes},
            {"total_dirs", Field::TotalDirs},
            {"error", Field::Error},
            {"partial", Field::Partial},
            {"old_bytes", Field::Compared},
            {"recorded", Field::Recorded},
            {"start", Field::Start},
            {"fs_size", Field::FsSize},
            {"fs_free", Field::FsFree},
        };
        field_ = FieldOf(key, Names, Field::Other);
        if (field_ == Field::Compared)
            return Fail("not a saved scan: the JSON Lines of a comparison (--compare); "
                        "give the scans it compared");
        if (field_ == Field::Other) SkipValue();
        return true;
    }
    bool Scalar(const Value& v) override {
        if (!inObject_) return Fail("not a saved scan: a line that is not an object");
        switch (field_) {
        case Field::Path:
        case Field::Parent:
        case Field::Error:
            if (v.Type != Value::String) return Fail("not a string where a string belongs");
            (field_ == Field::Error ? line_.Error : line_.Path) = std::move(*v.Text);
            if (field_ == Field::Path) line_.HasPath = true;
            if (field_ == Field::Parent) line_.HasParent = true;
            if (field_ == Field::Error) line_.HasError = true;
            return true;
        case Field::Depth:
            line_.HasDepth = true;
            return Count(v, line_.Depth);
        case Field::Files:
            return Count(v, line_.Files);
        case Field::Bytes:
            return Count(v, line_.Bytes);
        case Field::Dirs:
            return Count(v, line_.Dirs);
        case Field::More:
            return Count(v, line_.More);
        case Field::TotalBytes:
            line_.HasTotal = true;
            return Count(v, line_.Total);
        case Field::TotalFiles:
            line_.HasTotalFiles = true;
            return Count(v, static_cast<std::uint64_t>(tree::DirRecord::MaxFiles),
                         line_.TotalFiles);
        case Field::TotalDirs:
            line_.HasTotalDirs = true;
            return Count(v, line_.TotalDirs);
        case Field::Partial:
            if (v.Type != Value::Bool) return Fail("not true or false where one belongs");
            line_.Partial = v.Flag;
            return true;
        case Field::Recorded:
        case Field::Start:
            if (v.Type != Value::String) return Fail("not a string where a string belongs");
            if (field_ == Field::Start) {
                line_.Head.Start = std::move(*v.Text);
                return true;
            }
            line_.HasRecorded = true;
            if (!ParseUtc(*v.Text, line_.Head.Time))
                return Fail("not a time of the form 2026-12-22T08:00:00Z");
            return true;
        case Field::FsSize:
            return Count(v, line_.Head.FsSize);
        case Field::FsFree:
            return Count(v, line_.Head.FsFree);
        case Field::Other:
        case Field::Compared:
            break;
        }
        return true;
    }

    // The first line of a scan kept in a history says when it was made.
    bool Header() {
        if (lines_ > 1) return Fail("a line of when the scan was recorded after the first line");
        if (line_.HasPath || line_.HasParent)
            return Fail("a line of when the scan was recorded that names a directory");
        scan_.Header = std::move(line_.Head);
        scan_.Header.Known = true;
        return true;
    }
    bool EndObject() override {
        inObject_ = false;
        ++lines_;
        if (line_.HasRecorded) return Header();
        if (line_.HasPath == line_.HasParent || !line_.HasDepth || !line_.HasTotal)
            return Fail("not a saved scan: a line without \"path\", \"depth\" or \"total_bytes\"");
        if (order_ == Order::Unknown)
            order_ = line_.Depth == 0 && line_.HasPath ? Order::ParentsFirst : Order::ChildrenFirst;
        if (order_ == Order::ChildrenFirst) {
            if (scan_.Root != tree::NoDir)
                return Fail("a line after the start directory's, which is the last");
            if (line_.HasParent) return Fail("a \"more\" line among lines written children first");
            return PlaceAfterChildren();
        }
        if (line_.Depth == 0 && scan_.Root != tree::NoDir)
            return Fail("a line after the start directory's at depth 0: a second start directory");
        return line_.HasParent ? PlaceMore() : PlaceUnderParent();
    }

    // What the subdirectories of `dir` linked so far add up to.
    struct Sums {
        std::int64_t Listed = 0; // subdirectories, those of a "more" line included
        std::int64_t Bytes = 0;
        std::int64_t Files = 0;
        std::int64_t Dirs = 0;
        bool Known = true; // every one gave its files and directories
    };
    // The sums of `dir`'s subdirectories; false when they pass 8 EiB.
    bool Sum(tree::DirIndex dir, Sums& s) const {
        const tree::DirTree& t = scan_.Tree;
        const tree::DirRecord& d = t.At(dir);
        s = Sums{0, d.OwnBytes, d.OwnFiles, 0, d.TotalDirs >= 0};
        constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
        for (tree::DirIndex c = d.First; c != tree::NoDir; c = t.At(c).Next) {
            const tree::DirRecord& sub = t.At(c);
            bool more = t.IsMore(c);
            if (sub.TotalBytes > Max - s.Bytes) return false;
            s.Bytes += sub.TotalBytes;
            s.Listed += more ? sub.Subdirs : 1;
            s.Known = s.Known && sub.TotalDirs >= 0;
            s.Files += sub.TotalFiles(); // each below 2^48: no overflow
            s.Dirs += sub.TotalDirs + (more ? 0 : 1);
        }
        return true;
    }

    // What is wrong with the numbers of `dir` against those of its
    // subdirectories' lines, or empty. With every subdirectory listed they
    // are the sums; with some left out (a depth limit, a minimum size) at
    // least the sums.
    std::string Check(tree::DirIndex dir) const {
        Sums s;
        if (!Sum(dir, s)) return "number out of range";
        const tree::DirRecord& d = scan_.Tree.At(dir);
        if (s.Listed > d.Subdirs)
            return "the line counts " + std::to_string(d.Subdirs) +
                   " subdirectories, the lines below it hold " + std::to_string(s.Listed);
        bool whole = s.Listed > 0 && s.Listed == d.Subdirs;
        if (whole ? s.Bytes != d.TotalBytes : s.Bytes > d.TotalBytes)
            return whole ? "the total bytes are not the sum of the directory's and its "
                           "subdirectories'"
                         : "the total bytes are less than the sum of the directory's and its "
                           "subdirectories'";
        if (!s.Known) return {};
        if (whole ? s.Files != d.TotalFiles() : s.Files > d.TotalFiles())
            return "the total files are not the sum of the directory's and its subdirectories'";
        if (s.Listed == d.Subdirs ? s.Dirs != d.TotalDirs : s.Dirs > d.TotalDirs)
            return "the total directories are not those of its subdirectories";
        return {};
    }

    // A new record of the line's directory with its numbers; NoDir on failure.
    tree::DirIndex NewRecord() {
        const char sep = runtime::PathSeparator();
        if (line_.Total < line_.Bytes) {
            Fail("the total bytes are less than the directory's own");
            return tree::NoDir;
        }
        // A subdirectory's name is what follows the last separator.
        std::size_t cut = line_.Path.rfind(sep);
        bool named = line_.Depth != 0 && cut != std::string::npos && cut + 1 != line_.Path.size();
        tree::DirIndex index = scan_.Tree.Add(named ? std::string_view(line_.Path).substr(cut + 1)
                                                    : std::string_view());
        if (index == tree::NoDir) {
            Fail("too many directories");
            return tree::NoDir;
        }
        tree::DirRecord& dir = scan_.Tree.At(index);
        dir.OwnFiles = line_.Files;
        dir.OwnBytes = line_.Bytes;
        dir.Subdirs = line_.Dirs;
        dir.TotalBytes = line_.Total;
        // Without both, they are added up from the subdirectories' lines.
        if (line_.HasTotalFiles && line_.HasTotalDirs) {
            dir.SetTotalFiles(static_cast<std::int64_t>(line_.TotalFiles));
            dir.TotalDirs = line_.TotalDirs;
        } else {
            dir.TotalDirs = -1;
        }
        if (line_.HasError)
            scan_.Tree.SetTrouble(index, ProblemOf(line_.Error), line_.Error, line_.Partial);
        return index;
    }

    // The checks of a line's path: the start directory's whole, a
    // subdirectory's name.
    bool CheckPath(tree::DirIndex index) {
        if (line_.Depth == 0) {
            if (line_.Path.find('\0') != std::string::npos)
                return Fail("a start directory with a NUL byte in it");
            return true;
        }
        std::size_t cut = line_.Path.rfind(runtime::PathSeparator());
        if (cut == std::string::npos || cut + 1 == line_.Path.size())
            return Fail("the path of a subdirectory does not end in a name");
        if (const char* problem = NameProblem(scan_.Tree.Name(index))) return Fail(problem);
        return true;
    }

    static Prefix Above(std::string_view path) {
        std::size_t cut = path.rfind(runtime::PathSeparator());
        std::string_view above = path.substr(0, cut == std::string_view::npos ? 0 : cut + 1);
        return {above.size(), Hash(above)};
    }
    static Prefix Below(std::string path) {
        if (path.empty() || path.back() != runtime::PathSeparator())
            path += runtime::PathSeparator();
        return {path.size(), Hash(path)};
    }

    // Children first: the line's directory takes its waiting children and
    // waits for its parent.
    bool PlaceAfterChildren() {
        // Runs deepen from the first to the last: the last may be the line's
        // children, and none may be deeper.
        const Run* kids =
            !runs_.empty() && runs_.back().Depth == line_.Depth + 1 ? &runs_.back() : nullptr;
        if (!runs_.empty() && runs_.back().Depth > line_.Depth + 1)
            return Fail("a directory at depth " + std::to_string(runs_.back().Depth) +
                        " has no parent at the depth above it");
        if (kids != nullptr && kids->Above != Below(line_.Path))
            return Fail("a subdirectory's path does not begin with this directory's");
        std::int32_t children = kids != nullptr ? kids->Count : 0;
        if (children != 0 && children != line_.Dirs)
            return Fail("the line counts " + std::to_string(line_.Dirs) +
                        " subdirectories, the lines before it hold " + std::to_string(children));
        tree::DirIndex index = NewRecord();
        if (index == tree::NoDir) return false;
        if (kids != nullptr) {
            scan_.Tree.At(index).First = kids->First;
            runs_.pop_back();
        }
        if (std::string wrong = Check(index); !wrong.empty()) return Fail(wrong);
        if (std::string twice = SharedName(scan_, index, names_); !twice.empty())
            return Fail(twice);
        if (!CheckPath(index)) return false;
        if (line_.Depth == 0) {
            scan_.Start = std::move(line_.Path);
            scan_.Root = index;
            if (!runs_.empty()) return Fail("directories without a parent before the last line");
            return true;
        }
        Prefix above = Above(line_.Path);
        if (runs_.empty() || runs_.back().Depth != line_.Depth) {
            runs_.push_back({index, index, 1, line_.Depth, above});
            return true;
        }
        Run& run = runs_.back();
        if (run.Above != above)
            return Fail("a directory's path does not begin as its sibling's before it");
        if (run.Count == std::numeric_limits<std::int32_t>::max())
            return Fail("too many subdirectories in one directory");
        scan_.Tree.At(run.Last).Next = index;
        run.Last = index;
        ++run.Count;
        return true;
    }

    // Parents first: the directories open deeper than `depth` are complete.
    bool CloseTo(std::size_t depth) {
        while (pending_.size() > depth) {
            const Pending& p = pending_.back();
            if (std::string wrong = Check(p.Dir); !wrong.empty())
                return FailAt(wrong, p.Line, p.Offset);
            if (std::string twice = SharedName(scan_, p.Dir, names_); !twice.empty())
                return FailAt(twice, p.Line, p.Offset);
            pending_.pop_back();
        }
        return true;
    }

    // Parents first: the directory open at the depth above the line's, whose
    // path is the start of the line's; nullptr (and the failure) when none is.
    Pending* ParentOfLine() {
        auto depth = static_cast<std::size_t>(line_.Depth);
        if (depth > pending_.size()) {
            Fail("a directory at depth " + std::to_string(depth) +
                 " has no parent at the depth above it");
            return nullptr;
        }
        if (!CloseTo(depth)) return nullptr;
        return &pending_.back();
    }

    bool PlaceUnderParent() {
        if (scan_.Root == tree::NoDir) {
            // The start directory's line, the first.
            tree::DirIndex index = NewRecord();
            if (index == tree::NoDir || !CheckPath(index)) return false;
            scan_.Root = index;
            scan_.Start = line_.Path;
            Open(index);
            return true;
        }
        Pending* parent = ParentOfLine();
        if (parent == nullptr) return false;
        if (parent->More) return Fail("a subdirectory after its parent's \"more\" line");
        if (Above(line_.Path) != parent->Below)
            return Fail("a subdirectory's path does not begin with its parent's");
        tree::DirIndex index = NewRecord();
        if (index == tree::NoDir || !CheckPath(index)) return false;
        // The parent's entry may move as the stack grows: link first.
        parent->Last = scan_.Tree.Append(parent->Dir, parent->Last, index);
        Open(index);
        return true;
    }

    // A parent's "... and M more": M subdirectories with their sums.
    bool PlaceMore() {
        if (line_.More <= 0 || line_.Depth == 0)
            return Fail("a \"more\" line without a count of directories below a parent");
        Pending* parent = ParentOfLine();
        if (parent == nullptr) return false;
        if (parent->More) return Fail("a second \"more\" line of one directory");
        if (Below(line_.Path) != parent->Below)
            return Fail("a \"more\" line whose parent is not the directory above it");
        if (!line_.HasTotalFiles || !line_.HasTotalDirs || line_.TotalDirs < line_.More)
            return Fail("a \"more\" line without the files and directories it stands for");
        tree::DirIndex index = scan_.Tree.AddMore(line_.More);
        if (index == tree::NoDir) return Fail("too many directories");
        tree::DirRecord& m = scan_.Tree.At(index);
        m.TotalBytes = line_.Total;
        m.SetTotalFiles(static_cast<std::int64_t>(line_.TotalFiles));
        m.TotalDirs = line_.TotalDirs;
        parent->Last = scan_.Tree.Append(parent->Dir, parent->Last, index);
        parent->More = true;
        return true;
    }

    void Open(tree::DirIndex index) {
        pending_.push_back(
            {index, tree::NoDir, Below(line_.Path), false, input_.Line(), input_.Offset()});
    }

    struct Fields {
        std::string Path; // or a "more" line's parent
        std::string Error;
        std::int32_t Depth = 0;
        std::int32_t Files = 0;
        std::int64_t Bytes = 0;
        std::int32_t Dirs = 0;
        std::int32_t More = 0;
        std::int64_t Total = 0;
        std::uint64_t TotalFiles = 0;
        std::int32_t TotalDirs = 0;
        bool HasPath = false;
        bool HasParent = false;
        bool HasDepth = false;
        bool HasTotal = false;
        bool HasTotalFiles = false;
        bool HasTotalDirs = false;
        bool HasError = false;
        bool Partial = false;
        bool HasRecorded = false;
        ScanHeader Head;
    };

    SavedScan& scan_;
    std::vector<Run> runs_;             // children first
    std::deque<Pending> pending_;       // parents first
    std::vector<tree::DirIndex> names_; // room for SharedName
    Fields line_;
    Field field_ = Field::Other;
    Order order_ = Order::Unknown;
    bool inObject_ = false;
    std::uint64_t lines_ = 0;
};

} // namespace

bool ReadJsonLines(JsonInput& input, SavedScan& scan, std::string& what, std::uint64_t& line,
                   std::uint64_t& offset) {
    JsonLinesSax sax(input, scan);
    if (input.SkipSpace()) ReadJsonValues(input, sax, true);
    if (sax.What().empty() && !input.Failure().empty()) sax.Fail(input.Failure());
    if (sax.What().empty()) sax.Finish();
    what = sax.What();
    line = sax.Line();
    offset = sax.Offset();
    return what.empty();
}

} // namespace kelpo32::saved
