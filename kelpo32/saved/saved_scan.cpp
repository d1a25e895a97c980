#include "kelpo32/saved/saved_scan.h"

#include "kelpo32/saved/sax.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"
#include "runtime/utf8name.h"

namespace kelpo32::saved {

std::int32_t SavedScan::AddDir(std::int32_t parent) {
    if (Dirs.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return -1;
    auto index = static_cast<std::int32_t>(Dirs.size());
    Dirs.emplace_back();
    if (parent >= 0) {
        SavedDir& p = Dirs[static_cast<std::size_t>(parent)];
        if (p.LastChild < 0)
            p.FirstChild = index;
        else
            Dirs[static_cast<std::size_t>(p.LastChild)].Next = index;
        p.LastChild = index;
        p.ChildCount = runtime::CheckedAdd<std::int32_t>(p.ChildCount, 1);
    }
    return index;
}

std::int32_t SavedScan::ReasonIndex(std::string_view reason) {
    auto find = [this](std::string_view text) {
        for (std::size_t i = 0; i < Reasons.size(); ++i)
            if (Reasons[i] == text) return static_cast<std::int32_t>(i);
        return std::int32_t{-1};
    };
    std::int32_t index = find(reason);
    if (index >= 0) return index;
    // A damaged file could give every directory a reason of its own: past a
    // thousand they share one, kept as the last reason if no directory had it.
    if (Reasons.size() >= 1000) {
        reason = "could not be read";
        index = find(reason);
        if (index >= 0) return index;
    }
    Reasons.emplace_back(reason);
    return static_cast<std::int32_t>(Reasons.size() - 1);
}

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

// Every subtree's bytes where the file did not give them: children come
// after their parent in the records, so one pass from the end adds them up.
bool AddUpTotals(SavedScan& scan, std::string& what) {
    for (std::size_t i = scan.Dirs.size(); i-- > 0;) {
        SavedDir& d = scan.Dirs[i];
        if (d.Total >= 0) continue;
        std::int64_t total = d.FileBytes;
        for (std::int32_t c = d.FirstChild; c >= 0;
             c = scan.Dirs[static_cast<std::size_t>(c)].Next) {
            std::int64_t sub = scan.Dirs[static_cast<std::size_t>(c)].Total;
            if (sub > std::numeric_limits<std::int64_t>::max() - total) {
                what = "the sizes add up to more than 8 EiB";
                return false;
            }
            total += sub;
        }
        d.Total = total;
    }
    return true;
}

} // namespace

bool LoadSavedScan(const std::string& file, bool diskUsage, SavedScan& scan, std::string& error) {
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
            ok = ReadNcdu(input, diskUsage, scan, what, line, offset);
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
        std::int32_t Dir;
        std::int32_t Child; // the next subdirectory to visit
        std::int32_t Id;
        std::int32_t Siblings;
        std::int32_t NextId;    // of the next subdirectory, from 1 in the saved order
        std::size_t PathLength; // of the path in front of its name
        std::string Name;
        std::string Native;
        walk::WalkListing Listing;
    };
    if (scan.Root < 0) return 0;
    const bool entries = consumer.NeedsEntries();
    std::vector<Frame> open;
    // The path in front of the innermost directory's name, as the walk builds it.
    std::string path = startDir;
    std::string entryName;
    std::string entryNative;
    auto reach = [&](std::int32_t index, std::int32_t id, std::int32_t siblings) {
        const SavedDir& d = scan.Dirs[static_cast<std::size_t>(index)];
        Frame f{index, d.FirstChild, id, siblings, 1, path.size(), {}, {}, {}};
        if (!open.empty()) runtime::NameFromUtf8(d.Name, f.Name, f.Native);
        auto level = static_cast<std::int32_t>(open.size());
        walk::WalkDir dir{path, f.Name, f.Native, level, id, siblings};
        consumer.DirStart(dir);
        if (entries)
            for (std::int32_t c = d.FirstChild; c >= 0;
                 c = scan.Dirs[static_cast<std::size_t>(c)].Next) {
                runtime::NameFromUtf8(scan.Dirs[static_cast<std::size_t>(c)].Name, entryName,
                                      entryNative);
                consumer.Entry(dir, walk::WalkEntry{walk::EntryKind::Directory, entryName, 0, 0, 0,
                                                    0, 1, runtime::EntryType::Directory});
            }
        f.Listing.FileCount = d.FileCount;
        f.Listing.FileBytes = d.FileBytes;
        f.Listing.ChildCount = d.ChildCount;
        f.Listing.Problem = d.Problem;
        f.Listing.Partial = d.Partial;
        if (d.Reason >= 0) f.Listing.Reason = scan.Reasons[static_cast<std::size_t>(d.Reason)];
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
        if (top.Child >= 0) {
            std::int32_t child = top.Child;
            const SavedDir& d = scan.Dirs[static_cast<std::size_t>(top.Dir)];
            top.Child = scan.Dirs[static_cast<std::size_t>(child)].Next;
            std::int32_t id = top.NextId++;
            reach(child, id, d.ChildCount);
            continue;
        }
        path.resize(top.PathLength);
        auto level = static_cast<std::int32_t>(open.size() - 1);
        walk::WalkDir dir{path, top.Name, top.Native, level, top.Id, top.Siblings};
        consumer.DirDone(dir, top.Listing, scan.Dirs[static_cast<std::size_t>(top.Dir)].Total);
        open.pop_back();
    }
    consumer.End();
    return scan.Dirs[static_cast<std::size_t>(scan.Root)].Total;
}

} // namespace kelpo32::saved
