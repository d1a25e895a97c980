#include "kelpo32/tree/compare.h"

#include "kelpo32/output/fields.h"
#include "kelpo32/output/jsontext.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/report.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"
#include "runtime/textsafe.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace kelpo32::tree {

void Comparison::Begin() {
    now_.clear();
    open_.clear();
    rows_.clear();
}

void Comparison::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    auto index = runtime::CheckedRange<std::int32_t>(now_.size());
    Dir d;
    if (dir.Level == 0)
        d.Name = output::ExportStartPath();
    else
        runtime::AppendUtf8Name(d.Name, dir.Name, dir.Native);
    d.Files = listing.FileCount;
    d.OwnFiles = listing.FileCount;
    d.OwnBytes = listing.FileBytes;
    now_.push_back(std::move(d));
    if (!open_.empty()) Link(now_, open_.back(), index);
    open_.push_back(index);
}

void Comparison::DirDone(const walk::WalkDir&, const walk::WalkListing&, std::int64_t total) {
    if (open_.empty()) runtime::RaiseRangeError();
    Dir& d = now_[static_cast<std::size_t>(open_.back())];
    d.Bytes = total;
    open_.pop_back();
    if (!open_.empty()) {
        Dir& parent = now_[static_cast<std::size_t>(open_.back())];
        parent.Files = runtime::CheckedAdd(parent.Files, d.Files);
    }
}

void Comparison::Merge() {
    // Matched afresh each time: the rows of an earlier call would be doubled.
    rows_.clear();
    // The old scan's files per subtree, added up from the leaves.
    std::vector<std::int64_t> oldFiles(old_.Dirs.size(), 0);
    std::vector<std::int32_t> order;
    if (old_.Root >= 0) order.push_back(old_.Root);
    for (std::size_t i = 0; i < order.size(); ++i)
        for (std::int32_t c = old_.Dirs[static_cast<std::size_t>(order[i])].FirstChild; c >= 0;
             c = old_.Dirs[static_cast<std::size_t>(c)].Next)
            order.push_back(c);
    for (std::size_t i = order.size(); i-- > 0;) {
        const saved::SavedDir& d = old_.Dirs[static_cast<std::size_t>(order[i])];
        std::int64_t files = d.FileCount;
        for (std::int32_t c = d.FirstChild; c >= 0; c = old_.Dirs[static_cast<std::size_t>(c)].Next)
            files = runtime::CheckedAdd(files, oldFiles[static_cast<std::size_t>(c)]);
        oldFiles[static_cast<std::size_t>(order[i])] = files;
    }

    // Pairs of directories with the same path, from the start directories down.
    struct Pair {
        std::int32_t Now;
        std::int32_t Old;
        std::int32_t Row;
    };
    std::vector<Pair> todo;
    auto addRow = [&](std::int32_t now, std::int32_t old, std::int32_t parent) {
        Row r;
        if (now >= 0) {
            const Dir& d = now_[static_cast<std::size_t>(now)];
            r.Name = d.Name;
            r.Now = d.Bytes;
            r.NowFiles = d.Files;
            r.OwnBytes = d.OwnBytes;
            r.OwnFiles = d.OwnFiles;
        }
        if (old >= 0) {
            const saved::SavedDir& d = old_.Dirs[static_cast<std::size_t>(old)];
            if (now < 0) r.Name = d.Name;
            r.Old = d.Total;
            r.OldFiles = oldFiles[static_cast<std::size_t>(old)];
        }
        r.State = now < 0 ? Mark::Gone : old < 0 ? Mark::New : Mark::Both;
        auto index = runtime::CheckedRange<std::int32_t>(rows_.size());
        if (parent >= 0) r.Level = rows_[static_cast<std::size_t>(parent)].Level + 1;
        rows_.push_back(r);
        if (parent >= 0) Link(rows_, parent, index);
        todo.push_back({now, old, index});
    };
    if (now_.empty()) return;
    // At most one row per directory of either scan: room for them all at
    // once, so the rows are never copied to a larger place while both stand.
    rows_.reserve(now_.size() + old_.Dirs.size());
    addRow(0, old_.Root, -1);
    while (!todo.empty()) {
        Pair p = todo.back();
        todo.pop_back();
        // A map of its own per directory: clearing a wide one's buckets each
        // time would cost its width for every later directory.
        std::unordered_map<std::string_view, std::int32_t> oldChildren;
        if (p.Old >= 0)
            for (std::int32_t c = old_.Dirs[static_cast<std::size_t>(p.Old)].FirstChild; c >= 0;
                 c = old_.Dirs[static_cast<std::size_t>(c)].Next)
                oldChildren.emplace(old_.Dirs[static_cast<std::size_t>(c)].Name, c);
        if (p.Now >= 0)
            for (std::int32_t c = now_[static_cast<std::size_t>(p.Now)].First; c >= 0;
                 c = now_[static_cast<std::size_t>(c)].Next) {
                std::int32_t match = -1;
                if (auto it = oldChildren.find(now_[static_cast<std::size_t>(c)].Name);
                    it != oldChildren.end()) {
                    match = it->second;
                    oldChildren.erase(it);
                }
                addRow(c, match, p.Row);
            }
        // What is left of the old children is gone, in the old order.
        if (p.Old >= 0)
            for (std::int32_t c = old_.Dirs[static_cast<std::size_t>(p.Old)].FirstChild; c >= 0;
                 c = old_.Dirs[static_cast<std::size_t>(c)].Next)
                if (oldChildren.count(old_.Dirs[static_cast<std::size_t>(c)].Name) != 0)
                    addRow(-1, c, p.Row);
    }
}

std::vector<std::int32_t> Comparison::Listed() {
    Merge();
    std::vector<std::int32_t> order;
    if (rows_.empty()) return order;
    // Kept: a subtree that changed by at least the minimum, and its parents.
    std::vector<char> keep(rows_.size(), 0);
    for (std::size_t i = rows_.size(); i-- > 0;) {
        const Row& r = rows_[i];
        std::int64_t change = r.Change();
        bool enough = (change < 0 ? change < -options_.MinChange || change == -options_.MinChange
                                  : change >= options_.MinChange);
        keep[i] = static_cast<char>(enough || i == 0);
        for (std::int32_t c = r.First; c >= 0; c = rows_[static_cast<std::size_t>(c)].Next)
            if (keep[static_cast<std::size_t>(c)] != 0) keep[i] = 1;
    }
    // Largest growth first unless another order is asked for.
    SortKey key = options_.Sort == SortKey::None ? SortKey::Change : options_.Sort;
    auto before = [&](std::int32_t a, std::int32_t b) {
        const Row& x = rows_[static_cast<std::size_t>(a)];
        const Row& y = rows_[static_cast<std::size_t>(b)];
        switch (key) {
        case SortKey::Change:
            if (x.Change() != y.Change()) return x.Change() > y.Change();
            break;
        case SortKey::Size:
            if (x.Now != y.Now) return x.Now > y.Now;
            break;
        case SortKey::Files:
            if (x.NowFiles != y.NowFiles) return x.NowFiles > y.NowFiles;
            break;
        case SortKey::Name:
            return x.Name < y.Name;
        case SortKey::None:
            return false;
        }
        return x.Name < y.Name;
    };
    std::vector<std::int32_t> stack{0};
    while (!stack.empty()) {
        std::int32_t i = stack.back();
        stack.pop_back();
        order.push_back(i);
        std::vector<std::int32_t> children;
        for (std::int32_t c = rows_[static_cast<std::size_t>(i)].First; c >= 0;
             c = rows_[static_cast<std::size_t>(c)].Next)
            // Below the depth limit a directory counts in its parent's numbers only.
            if (keep[static_cast<std::size_t>(c)] != 0 &&
                rows_[static_cast<std::size_t>(c)].Level < MaxDepth)
                children.push_back(c);
        std::stable_sort(children.begin(), children.end(), before);
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return order;
}

namespace {

constexpr std::string_view MarkText(Comparison::Mark m) {
    return m == Comparison::Mark::New ? "new" : m == Comparison::Mark::Gone ? "gone" : "";
}

} // namespace

void Comparison::Write(const std::vector<std::int32_t>& order) {
    auto& out = runtime::StdOut();
    std::string line;
    std::string name;
    std::string native;
    // The path of each listed row's parent, by level.
    std::vector<std::string> paths;
    const char sep = runtime::PathSeparator();
    if (form_ == TotalsForm::Text) {
        out.Write("             now          change     files       directory");
        out.WriteLn();
        report::NextLine();
    }
    for (std::int32_t i : order) {
        const Row& r = rows_[static_cast<std::size_t>(i)];
        auto level = static_cast<std::size_t>(r.Level);
        paths.resize(level + 1);
        if (level == 0) {
            paths[0] = r.Name;
        } else {
            paths[level] = paths[level - 1];
            if (paths[level].empty() || paths[level].back() != sep) paths[level] += sep;
            paths[level] += r.Name;
        }
        const std::string& path = paths[level];
        line.clear();
        if (form_ == TotalsForm::Json) {
            line = "{\"path\":\"";
            output::AppendJsonString(line, path, true);
            line += "\",\"depth\":";
            output::AppendNumber(line, r.Level);
            line += ",\"bytes\":";
            output::AppendNumber(line, r.Now);
            line += ",\"old_bytes\":";
            output::AppendNumber(line, r.Old);
            line += ",\"change\":";
            output::AppendNumber(line, r.Change());
            line += ",\"files\":";
            output::AppendNumber(line, r.NowFiles);
            line += ",\"old_files\":";
            output::AppendNumber(line, r.OldFiles);
            line += ",\"files_change\":";
            output::AppendNumber(line, r.NowFiles - r.OldFiles);
            if (r.State != Mark::Both)
                line += ",\"state\":\"" + std::string(MarkText(r.State)) + "\"";
            line += "}\n";
            out.Write(line);
            continue;
        }
        if (form_ == TotalsForm::Tsv) {
            for (std::int64_t n :
                 {r.Now, r.Old, r.Change(), r.NowFiles, r.OldFiles, r.NowFiles - r.OldFiles}) {
                output::AppendNumber(line, n);
                line += '\t';
            }
            line += MarkText(r.State);
            line += '\t';
            output::AppendTsvPath(line, path);
            line += '\n';
            out.Write(line);
            continue;
        }
        auto field = [&](const std::string& text, std::size_t width) {
            if (text.size() < width) line.append(width - text.size(), ' ');
            line += text;
        };
        field(output::FormatSize(r.Now, options_.Units, false), 16);
        field(output::FormatSize(r.Change(), options_.Units, true), 16);
        field(output::FormatSize(r.NowFiles - r.OldFiles, SizeUnits::Exact, true), 10);
        line += r.State == Mark::Gone ? "  gone " : r.State == Mark::New ? "  new  " : "       ";
        line.append(2 * level, ' ');
        // The report's text of the name (on Windows its OEM bytes), shown on
        // a console from its native form.
        runtime::NameFromUtf8(level == 0 ? std::string_view(path) : std::string_view(r.Name), name,
                              native);
        report::MakeRoom(static_cast<std::int64_t>(line.size() + name.size()));
        out.Write(line);
        out.NoteName(name, native);
        out.WriteName(name);
        out.WriteLn();
        report::NextLine();
    }
}

void Comparison::WritePage(const std::vector<std::int32_t>& order) {
    std::vector<output::html::HtmlDir> dirs;
    dirs.reserve(order.size());
    // The page index of the row listed last at each level: a row's parent.
    std::vector<std::int32_t> atLevel;
    for (std::int32_t i : order) {
        const Row& r = rows_[static_cast<std::size_t>(i)];
        auto level = static_cast<std::size_t>(r.Level);
        atLevel.resize(level + 1);
        atLevel[level] = runtime::CheckedRange<std::int32_t>(dirs.size());
        output::html::HtmlDir d;
        d.Parent = level == 0 ? -1 : atLevel[level - 1];
        d.Depth = r.Level;
        d.Name = r.Name;
        d.Files = r.OwnFiles;
        d.Bytes = r.OwnBytes;
        d.TotalFiles = r.NowFiles;
        d.TotalBytes = r.Now;
        d.Change = r.Change();
        d.State = MarkText(r.State);
        dirs.push_back(std::move(d));
    }
    // Folded: the subdirectories not listed (below the depth limit or the
    // minimum change); their numbers are in their parent's.
    std::vector<std::int64_t> listed(dirs.size(), 0);
    for (const output::html::HtmlDir& d : dirs)
        if (d.Parent >= 0) ++listed[static_cast<std::size_t>(d.Parent)];
    for (std::size_t k = 0; k < dirs.size(); ++k) {
        std::int64_t all = 0;
        for (std::int32_t c = rows_[static_cast<std::size_t>(order[k])].First; c >= 0;
             c = rows_[static_cast<std::size_t>(c)].Next)
            if (rows_[static_cast<std::size_t>(c)].State != Mark::Gone) ++all;
        dirs[k].Folded = std::max<std::int64_t>(0, all - listed[k]);
    }
    page_.Compare = true;
    page_.OldStart = old_.Start;
    page_.TotalDirs = -1; // the start directory is not below itself
    for (const Row& r : rows_)
        if (r.State != Mark::Gone) ++page_.TotalDirs;
    page_.TotalDirs = std::max<std::int64_t>(0, page_.TotalDirs);
    page_.Cap = dirs.size();
    output::html::WriteHtmlPage(runtime::StdOut(), page_, dirs);
}

void Comparison::End() {
    std::string startNow = output::ExportStartPath();
    if (old_.Start != startNow) {
        runtime::TextSink sink = runtime::StdErrSink();
        runtime::WriteStdErr("kelpo32: the saved scan is of '" +
                             runtime::SafeText(old_.Start, sink) + "', this one of '" +
                             runtime::SafeText(startNow, sink) +
                             "': directories are compared by their paths below each\n");
    }
    if (form_ == TotalsForm::Html)
        WritePage(Listed());
    else
        Write(Listed());
}

} // namespace kelpo32::tree
