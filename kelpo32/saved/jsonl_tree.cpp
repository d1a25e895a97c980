#include "kelpo32/saved/jsonl_tree.h"

#include "runtime/dirsearch.h"

namespace kelpo32::saved {

JsonLinesTree::Prefix JsonLinesTree::Below(const PathPieces& path) {
    // The path with a separator after it, unless it ends in one.
    if (path.Length > 0 && path.AboveLength == path.Length) return {path.Length, path.Hash};
    return {path.Length + 1, PathPieces::Step(path.Hash, runtime::PathSeparator())};
}

bool JsonLinesTree::Place(JsonLine& line) {
    line_ = &line;
    if (order_ == Order::Unknown)
        order_ = line.Depth == 0 && !line.IsMore ? Order::ParentsFirst : Order::ChildrenFirst;
    if (order_ == Order::ChildrenFirst) {
        if (scan_.Root != tree::NoDir)
            return Fail("a line after the start directory's, which is the last");
        if (line.IsMore) return Fail("a \"more\" line among lines written children first");
        return PlaceAfterChildren();
    }
    if (line.Depth == 0 && scan_.Root != tree::NoDir)
        return Fail("a line after the start directory's at depth 0: a second start directory");
    return line.IsMore ? PlaceMore() : PlaceUnderParent();
}

bool JsonLinesTree::Finish() {
    if (order_ == Order::ParentsFirst) return CloseTo(0);
    if (scan_.Root == tree::NoDir)
        return Fail("truncated: the start directory's line, which is the last, is missing");
    return true;
}

// What is wrong with the numbers of `dir` against those of its
// subdirectories' lines, or empty. With every subdirectory listed they are
// the sums; with some left out (a depth limit, a minimum size) at least the
// sums.
std::string JsonLinesTree::Check(tree::DirIndex dir) const {
    const tree::DirTree& t = scan_.Tree;
    const tree::DirRecord& d = t.At(dir);
    std::int64_t listed = 0; // subdirectories, those of a "more" line included
    std::int64_t bytes = d.OwnBytes;
    std::int64_t files = d.OwnFiles;
    std::int64_t dirs = 0;
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    for (tree::DirIndex c = d.First; c != tree::NoDir; c = t.At(c).Next) {
        const tree::DirRecord& sub = t.At(c);
        bool more = t.IsMore(c);
        if (sub.TotalBytes > Max - bytes) return "number out of range";
        bytes += sub.TotalBytes;
        listed += more ? sub.Subdirs : 1;
        files += sub.TotalFiles(); // each below 2^48: no overflow
        dirs += sub.TotalDirs + (more ? 0 : 1);
    }
    if (listed > d.Subdirs)
        return "the line counts " + std::to_string(d.Subdirs) +
               " subdirectories, the lines below it hold " + std::to_string(listed);
    bool whole = listed > 0 && listed == d.Subdirs;
    if (whole ? bytes != d.TotalBytes : bytes > d.TotalBytes)
        return whole ? "the total bytes are not the sum of the directory's and its "
                       "subdirectories'"
                     : "the total bytes are less than the sum of the directory's and its "
                       "subdirectories'";
    if (whole ? files != d.TotalFiles() : files > d.TotalFiles())
        return "the total files are not the sum of the directory's and its subdirectories'";
    if (listed == d.Subdirs ? dirs != d.TotalDirs : dirs > d.TotalDirs)
        return "the total directories are not those of its subdirectories";
    return {};
}

// A new record of the line's directory with its numbers; NoDir on failure.
tree::DirIndex JsonLinesTree::NewRecord() {
    const JsonLine& line = *line_;
    const PathPieces& path = *line.Path;
    if (line.Total < line.Bytes) {
        Fail("the total bytes are less than the directory's own");
        return tree::NoDir;
    }
    if (path.TooLong) {
        Fail("a name longer than 4 MiB");
        return tree::NoDir;
    }
    // A subdirectory's name is what follows the last separator.
    bool named = line.Depth != 0 && path.Separated() && !path.Name().empty();
    tree::DirIndex index = scan_.Tree.Add(named ? path.Name() : std::string_view());
    if (index == tree::NoDir) {
        Fail("too many directories");
        return tree::NoDir;
    }
    tree::DirRecord& dir = scan_.Tree.At(index);
    dir.OwnFiles = line.Files;
    dir.OwnBytes = line.Bytes;
    dir.Subdirs = line.Dirs;
    dir.TotalBytes = line.Total;
    dir.SetTotalFiles(static_cast<std::int64_t>(line.TotalFiles));
    dir.TotalDirs = line.TotalDirs;
    if (line.HasError)
        scan_.Tree.SetTrouble(index, ProblemOf(line.Error), line.Error, line.Partial);
    return index;
}

// The checks of a line's path: the start directory's whole, a
// subdirectory's name.
bool JsonLinesTree::CheckPath(tree::DirIndex index) {
    const PathPieces& path = *line_->Path;
    if (line_->Depth == 0) {
        if (!path.Whole) return Fail("a start directory longer than 4 MiB");
        if (path.Kept().find('\0') != std::string_view::npos)
            return Fail("a start directory with a NUL byte in it");
        return true;
    }
    if (!path.Separated() || path.Name().empty())
        return Fail("the path of a subdirectory does not end in a name");
    if (const char* problem = NameProblem(scan_.Tree.Name(index))) return Fail(problem);
    return true;
}

// Children first: the line's directory takes its waiting children and
// waits for its parent.
bool JsonLinesTree::PlaceAfterChildren() {
    const JsonLine& line = *line_;
    // Runs deepen from the first to the last: the last may be the line's
    // children, and none may be deeper.
    const Run* kids =
        !runs_.empty() && runs_.back().Depth == line.Depth + 1 ? &runs_.back() : nullptr;
    if (!runs_.empty() && runs_.back().Depth > line.Depth + 1)
        return Fail("a directory at depth " + std::to_string(runs_.back().Depth) +
                    " has no parent at the depth above it");
    if (kids != nullptr && kids->Above != Below(*line.Path))
        return Fail("a subdirectory's path does not begin with this directory's");
    std::int32_t children = kids != nullptr ? kids->Count : 0;
    if (children != 0 && children != line.Dirs)
        return Fail("the line counts " + std::to_string(line.Dirs) +
                    " subdirectories, the lines before it hold " + std::to_string(children));
    tree::DirIndex index = NewRecord();
    if (index == tree::NoDir) return false;
    if (kids != nullptr) {
        scan_.Tree.At(index).First = kids->First;
        runs_.pop_back();
    }
    if (std::string wrong = Check(index); !wrong.empty()) return Fail(wrong);
    if (std::string twice = SharedName(scan_, index, names_); !twice.empty()) return Fail(twice);
    if (!CheckPath(index)) return false;
    if (line.Depth == 0) {
        scan_.Start = line.Path->Kept();
        scan_.Root = index;
        if (!runs_.empty()) return Fail("directories without a parent before the last line");
        return true;
    }
    Prefix above = Above(*line.Path);
    if (runs_.empty() || runs_.back().Depth != line.Depth) {
        runs_.push_back({index, index, 1, line.Depth, above});
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
bool JsonLinesTree::CloseTo(std::size_t depth) {
    while (pending_.size() > depth) {
        const Pending& p = pending_.back();
        if (std::string wrong = Check(p.Dir); !wrong.empty())
            return sax_.FailAt(wrong, p.Line, p.Offset);
        if (std::string twice = SharedName(scan_, p.Dir, names_); !twice.empty())
            return sax_.FailAt(twice, p.Line, p.Offset);
        pending_.pop_back();
    }
    return true;
}

// Parents first: the directory open at the depth above the line's, whose
// path is the start of the line's; nullptr (and the failure) when none is.
JsonLinesTree::Pending* JsonLinesTree::ParentOfLine() {
    auto depth = static_cast<std::size_t>(line_->Depth);
    if (depth > pending_.size()) {
        Fail("a directory at depth " + std::to_string(depth) +
             " has no parent at the depth above it");
        return nullptr;
    }
    if (!CloseTo(depth)) return nullptr;
    return &pending_.back();
}

bool JsonLinesTree::PlaceUnderParent() {
    if (scan_.Root == tree::NoDir) {
        // The start directory's line, the first.
        tree::DirIndex index = NewRecord();
        if (index == tree::NoDir || !CheckPath(index)) return false;
        scan_.Root = index;
        scan_.Start = line_->Path->Kept();
        Open(index);
        return true;
    }
    Pending* parent = ParentOfLine();
    if (parent == nullptr) return false;
    if (parent->More) return Fail("a subdirectory after its parent's \"more\" line");
    if (Above(*line_->Path) != parent->Below)
        return Fail("a subdirectory's path does not begin with its parent's");
    tree::DirIndex index = NewRecord();
    if (index == tree::NoDir || !CheckPath(index)) return false;
    // The parent's entry may move as the stack grows: link first.
    parent->Last = scan_.Tree.Append(parent->Dir, parent->Last, index);
    Open(index);
    return true;
}

// A parent's "... and M more": M subdirectories with their sums.
bool JsonLinesTree::PlaceMore() {
    const JsonLine& line = *line_;
    if (line.More <= 0 || line.Depth == 0)
        return Fail("a \"more\" line without a count of directories below a parent");
    Pending* parent = ParentOfLine();
    if (parent == nullptr) return false;
    if (parent->More) return Fail("a second \"more\" line of one directory");
    if (Below(*line.Path) != parent->Below)
        return Fail("a \"more\" line whose parent is not the directory above it");
    if (line.TotalDirs < line.More)
        return Fail("a \"more\" line without the files and directories it stands for");
    tree::DirIndex index = scan_.Tree.AddMore(line.More);
    if (index == tree::NoDir) return Fail("too many directories");
    tree::DirRecord& m = scan_.Tree.At(index);
    m.TotalBytes = line.Total;
    m.SetTotalFiles(static_cast<std::int64_t>(line.TotalFiles));
    m.TotalDirs = line.TotalDirs;
    parent->Last = scan_.Tree.Append(parent->Dir, parent->Last, index);
    parent->More = true;
    return true;
}

void JsonLinesTree::Open(tree::DirIndex index) {
    pending_.push_back(
        {index, tree::NoDir, Below(*line_->Path), false, input_.Line(), input_.Offset()});
}

} // namespace kelpo32::saved
