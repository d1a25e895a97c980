#include "kelpo32/saved/saved_scan.h"

#include "kelpo32/saved/sax.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"
#include "runtime/utf8name.h"

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

// Every subtree's numbers where the file did not give them: its bytes (-1),
// its files and directories (TotalDirs -1). From the leaves up, whatever the
// order of the records. A "more" record's numbers are its directories'.
bool AddUpTotals(SavedScan& scan, std::string& what) {
    tree::DirTree& t = scan.Tree;
    if (scan.Root == tree::NoDir) return true;
    std::vector<tree::DirIndex> order{scan.Root};
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
    return true;
}

} // namespace

bool LoadSavedScan(const std::string& file, bool diskUsage, bool countLinks, SavedScan& scan,
                   std::string& error) {
    scan = SavedScan{};
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
    if (!standardInput) runtime::CloseFile(h);
    if (ok) ok = AddUpTotals(scan, what);
    if (!ok) {
        error = "kelpo32: " + name + ": line " + std::to_string(line) + ", byte " +
                std::to_string(offset) + ": " + what + "\n";
        scan = SavedScan{};
    }
    return ok;
}

std::int64_t ReplaySavedScan(const SavedScan& scan, const std::string& startDir,
                             walk::WalkConsumer& consumer) {
    struct Frame {
        tree::DirIndex Dir;
        tree::DirIndex Child; // the next subdirectory to visit
        std::int32_t Id;
        std::int32_t Siblings;
        std::int32_t NextId;    // of the next subdirectory, from 1 in the saved order
        std::size_t PathLength; // of the path in front of its name
        std::string Name;
        std::string Native;
        walk::WalkListing Listing;
    };
    if (scan.Root == tree::NoDir) return 0;
    const tree::DirTree& t = scan.Tree;
    const bool entries = consumer.NeedsEntries();
    std::vector<Frame> open;
    // The path in front of the innermost directory's name, as the walk builds it.
    std::string path = startDir;
    std::string entryName;
    std::string entryNative;
    auto reach = [&](tree::DirIndex index, std::int32_t id, std::int32_t siblings) {
        const tree::DirRecord& d = t.At(index);
        Frame f{index, d.First, id, siblings, 1, path.size(), {}, {}, {}};
        if (!open.empty()) runtime::NameFromUtf8(t.Name(index), f.Name, f.Native);
        auto level = static_cast<std::int32_t>(open.size());
        walk::WalkDir dir{path, f.Name, f.Native, level, id, siblings};
        consumer.DirStart(dir);
        // What the subdirectories replayed do not hold of its totals.
        f.Listing.UnwalkedFiles = d.TotalFiles() - d.OwnFiles;
        f.Listing.UnwalkedDirs = d.TotalDirs;
        for (tree::DirIndex c = d.First; c != tree::NoDir; c = t.At(c).Next) {
            if (t.IsMore(c)) continue;
            f.Listing.UnwalkedFiles -= t.At(c).TotalFiles();
            f.Listing.UnwalkedDirs -= t.At(c).TotalDirs + 1;
        }
        if (entries)
            for (tree::DirIndex c = d.First; c != tree::NoDir; c = t.At(c).Next) {
                if (t.IsMore(c)) continue;
                runtime::NameFromUtf8(t.Name(c), entryName, entryNative);
                consumer.Entry(dir, walk::WalkEntry{walk::EntryKind::Directory, entryName, 0, 0, 0,
                                                    0, 1, runtime::EntryType::Directory});
            }
        f.Listing.FileCount = d.OwnFiles;
        f.Listing.FileBytes = d.OwnBytes;
        f.Listing.ChildCount = d.Subdirs;
        const tree::DirTrouble& trouble = t.Trouble(index);
        f.Listing.Problem = trouble.Problem;
        f.Listing.Partial = trouble.Partial;
        f.Listing.Reason = trouble.Reason;
        consumer.DirListed(dir, f.Listing);
        path += f.Name;
        if (!path.empty() && path.back() != runtime::PathSeparator())
            path += runtime::PathSeparator();
        open.push_back(std::move(f));
    };
    consumer.Begin();
    reach(scan.Root, 0, 0);
    while (!open.empty()) {
        Frame& top = open.back();
        while (top.Child != tree::NoDir && t.IsMore(top.Child))
            top.Child = t.At(top.Child).Next;
        if (top.Child != tree::NoDir) {
            tree::DirIndex child = top.Child;
            top.Child = t.At(child).Next;
            std::int32_t id = top.NextId++;
            reach(child, id, t.At(top.Dir).Subdirs);
            continue;
        }
        path.resize(top.PathLength);
        auto level = static_cast<std::int32_t>(open.size() - 1);
        walk::WalkDir dir{path, top.Name, top.Native, level, top.Id, top.Siblings};
        consumer.DirDone(dir, top.Listing, t.At(top.Dir).TotalBytes);
        open.pop_back();
    }
    consumer.End();
    return t.At(scan.Root).TotalBytes;
}

} // namespace kelpo32::saved
