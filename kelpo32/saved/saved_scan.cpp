#include "kelpo32/saved/saved_scan.h"

#include "kelpo32/saved/sax.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"
#include "runtime/utf8name.h"

#include <deque>
#include <limits>
#include <vector>

namespace kelpo32::saved {

walk::DirProblem ProblemOf(std::string_view reason) {
    if (reason == "other file system" || reason == "excluded")
        return walk::DirProblem::OtherFileSystem;
    if (reason == "cycle") return walk::DirProblem::Cycle;
    return walk::DirProblem::Unreadable;
}

namespace {

// A name in a message, as standard error may show it.
std::string Shown(std::string_view text) {
    return runtime::SafeText(text, runtime::StdErrSink());
}

// The browser's other size kind of every subtree, from the leaves up
// (`order` lists parents before their children). The reader checked that
// the whole adds up.
void AddUpOtherKind(tree::DirTree& t, const std::vector<tree::DirIndex>& order) {
    tree::Column<tree::BrowseCells>& cells = t.Browse();
    for (std::size_t i = order.size(); i-- > 0;) {
        tree::BrowseCells& d = cells[order[i]];
        d.OtherTotalBytes = d.OtherOwnBytes;
        for (tree::DirIndex c = t.At(order[i]).First; c != tree::NoDir; c = t.At(c).Next)
            d.OtherTotalBytes += cells[c].OtherTotalBytes;
    }
}

// Every subtree's numbers where the file did not give them: its bytes (-1),
// its files and directories (TotalDirs -1). From the leaves up, whatever the
// order of the records. A "more" record's numbers are its directories'.
bool AddUpTotals(SavedScan& scan, std::string& what) {
    tree::DirTree& t = scan.Tree;
    if (scan.Root == tree::NoDir) return true;
    std::vector<tree::DirIndex> order;
    order.reserve(static_cast<std::size_t>(t.Size()));
    order.push_back(scan.Root);
    for (std::size_t i = 0; i < order.size(); ++i)
        for (tree::DirIndex c = t.At(order[i]).First; c != tree::NoDir; c = t.At(c).Next)
            order.push_back(c);
    for (std::size_t i = order.size(); i-- > 0;) {
        tree::DirRecord& d = t.At(order[i]);
        bool sum = d.TotalBytes < 0;
        bool count = d.TotalDirs < 0;
        std::int64_t total = d.OwnBytes;
        std::int64_t files = d.OwnFiles;
        std::int64_t dirs = 0;
        for (tree::DirIndex c = d.First; c != tree::NoDir; c = t.At(c).Next) {
            const tree::DirRecord& sub = t.At(c);
            if (sum) {
                if (sub.TotalBytes > std::numeric_limits<std::int64_t>::max() - total) {
                    what = "the sizes add up to more than 8 EiB";
                    return false;
                }
                total += sub.TotalBytes;
            }
            files += sub.TotalFiles();
            dirs += sub.TotalDirs + (t.IsMore(c) ? 0 : 1);
        }
        if (sum) d.TotalBytes = total;
        if (!count) continue;
        if (files > tree::DirRecord::MaxFiles || dirs > std::numeric_limits<std::int32_t>::max()) {
            what = "too many files or directories";
            return false;
        }
        d.SetTotalFiles(files);
        d.TotalDirs = static_cast<std::int32_t>(dirs);
    }
    if (t.BrowseIfAny() != nullptr && t.OtherKindKnown()) AddUpOtherKind(t, order);
    return true;
}

} // namespace

bool LoadSavedScan(const std::string& file, bool diskUsage, bool countLinks, SavedScan& scan,
                   std::string& error, bool browse) {
    scan = SavedScan{};
    if (browse) scan.Tree.Browse();
    bool standardInput = file == "-";
    std::string name = standardInput ? "standard input" : Shown(file);
    runtime::FileHandle h = runtime::StdHandle(runtime::StdStream::Input);
    if (!standardInput) {
        std::string reason;
        if (runtime::OpenFileForRead(file, h, reason) != 0) {
            error = "kelpo32: cannot read '" + name + "': " + reason + "\n";
            return false;
        }
    }
    // Closed however the reading ends (running out of memory is an exception).
    struct Closer {
        runtime::FileHandle File;
        bool Own;
        ~Closer() {
            if (Own) runtime::CloseFile(File);
        }
    } closer{h, !standardInput};
    std::string what;
    std::uint64_t line = 1;
    std::uint64_t offset = 0;
    bool ok = false;
    {
        JsonInput input(h);
        if (!input.SkipSpace()) {
            what = input.Failure().empty() ? "empty: not a saved scan" : input.Failure();
        } else if (input.sgetc() == '{') {
            ok = ReadJsonLines(input, scan, what, line, offset);
            scan.Tree.SetOtherKindUnknown();
        } else if (input.sgetc() == '[') {
            ok = ReadNcdu(input, diskUsage, countLinks, scan, what, line, offset);
        } else {
            what = "not a saved scan: neither JSON Lines of kelpo32 nor an ncdu export";
        }
        if (!ok && line == 1 && offset == 0) {
            line = input.Line();
            offset = input.Offset();
        }
    }
    if (ok) ok = AddUpTotals(scan, what);
    if (!ok) {
        error = "kelpo32: " + name + ": line " + std::to_string(line) + ", byte " +
                std::to_string(offset) + ": " + what + "\n";
        scan = SavedScan{};
    }
    return ok;
}

namespace {

// A directory's listing as the walk would hand it: its record's numbers and
// problem, and what its subdirectories' events will not hold of its totals.
void ListingOf(const tree::DirTree& t, tree::DirIndex index, walk::WalkListing& listing) {
    const tree::DirRecord& d = t.At(index);
    listing.FileCount = d.OwnFiles;
    listing.FileBytes = d.OwnBytes;
    // The other size kind, where the scan holds it.
    const tree::Column<tree::BrowseCells>* other = t.OtherKindKnown() ? t.BrowseIfAny() : nullptr;
    listing.OtherFileBytes = other != nullptr ? (*other)[index].OtherOwnBytes : -1;
    listing.ChildCount = d.Subdirs;
    const tree::DirTrouble& trouble = t.Trouble(index);
    listing.Problem = trouble.Problem;
    listing.Partial = trouble.Partial;
    listing.Reason = trouble.Reason;
    listing.UnwalkedFiles = d.TotalFiles() - d.OwnFiles;
    listing.UnwalkedDirs = d.TotalDirs;
    for (tree::DirIndex c = d.First; c != tree::NoDir; c = t.At(c).Next) {
        if (t.IsMore(c)) continue;
        listing.UnwalkedFiles -= t.At(c).TotalFiles();
        listing.UnwalkedDirs -= t.At(c).TotalDirs + 1;
    }
}

// The next subdirectory to visit from `c` on in a chain ("more" records
// stand for none).
tree::DirIndex Visited(const tree::DirTree& t, tree::DirIndex c) {
    while (c != tree::NoDir && t.IsMore(c))
        c = t.At(c).Next;
    return c;
}

} // namespace

std::int64_t ReplaySavedScan(const SavedScan& scan, const std::string& startDir,
                             walk::WalkConsumer& consumer) {
    // An open directory: all that is kept of it while its subtree is
    // visited, so that a chain a million deep costs 4 bytes a level: its
    // index, or where its id is not 1, its index's complement with the id
    // in `ids`. Its name, path and listing are made again when it is done.
    struct Open {
        tree::DirIndex Dir;
        std::int32_t Id;
    };
    if (scan.Root == tree::NoDir) return 0;
    const tree::DirTree& t = scan.Tree;
    const bool entries = consumer.NeedsEntries();
    std::deque<tree::DirIndex> levels; // grown without a copy
    std::vector<std::int32_t> ids;
    auto push = [&](Open d) {
        levels.push_back(d.Id == 1 ? d.Dir : ~d.Dir);
        if (d.Id != 1) ids.push_back(d.Id);
    };
    auto at = [&](std::size_t level) { return levels[level] < 0 ? ~levels[level] : levels[level]; };
    auto pop = [&] {
        Open d{levels.back(), 1};
        levels.pop_back();
        if (d.Dir < 0) {
            d.Dir = ~d.Dir;
            d.Id = ids.back();
            ids.pop_back();
        }
        return d;
    };
    // The path in front of the innermost directory's subdirectories' names,
    // as the walk builds it.
    std::string path = startDir;
    std::string name;
    std::string native;
    std::string entryName;
    std::string entryNative;
    walk::WalkListing listing;
    const char sep = runtime::PathSeparator();
    // Where the start directory's path ends (a separator may follow it).
    const std::size_t startLength = path.size();
    // The directory at `level` as the walk hands it, its name made afresh.
    auto dirOf = [&](tree::DirIndex index, std::int32_t id, std::size_t level) {
        name.clear();
        native.clear();
        if (level > 0) runtime::NameFromUtf8(t.Name(index), name, native);
        std::int32_t siblings = level == 0 ? 0 : t.At(at(level - 1)).Subdirs;
        return walk::WalkDir{path, name, native, static_cast<std::int32_t>(level), id, siblings};
    };
    auto reach = [&](tree::DirIndex index, std::int32_t id) {
        walk::WalkDir dir = dirOf(index, id, levels.size());
        consumer.DirStart(dir);
        if (entries)
            for (tree::DirIndex c = Visited(t, t.At(index).First); c != tree::NoDir;
                 c = Visited(t, t.At(c).Next)) {
                runtime::NameFromUtf8(t.Name(c), entryName, entryNative);
                consumer.Entry(dir, walk::WalkEntry{walk::EntryKind::Directory, entryName, 0, 0, 0,
                                                    0, 1, runtime::EntryType::Directory});
            }
        ListingOf(t, index, listing);
        consumer.DirListed(dir, listing);
        path += name;
        if (!path.empty() && path.back() != sep) path += sep;
        push({index, id});
    };
    consumer.Begin();
    reach(scan.Root, 0);
    // The subdirectory of the innermost open directory done last, and its id.
    tree::DirIndex after = tree::NoDir;
    std::int32_t afterId = 0;
    while (!levels.empty()) {
        tree::DirIndex next =
            Visited(t, after == tree::NoDir ? t.At(at(levels.size() - 1)).First : t.At(after).Next);
        if (next != tree::NoDir) {
            reach(next, afterId + 1);
            after = tree::NoDir;
            afterId = 0;
            continue;
        }
        const Open top = pop();
        walk::WalkDir dir = dirOf(top.Dir, top.Id, levels.size());
        // Back to the path in front of its name (a name holds no separator).
        path.resize(levels.empty() ? startLength : path.size() - name.size() - 1);
        ListingOf(t, top.Dir, listing);
        consumer.DirDone(dir, listing, t.At(top.Dir).TotalBytes);
        after = top.Dir;
        afterId = top.Id;
    }
    // The path of a chain's deepest directory is given back before the
    // layouts of a whole tree, which run at the end, make their own.
    std::string().swap(path);
    consumer.End();
    return t.At(scan.Root).TotalBytes;
}

} // namespace kelpo32::saved
