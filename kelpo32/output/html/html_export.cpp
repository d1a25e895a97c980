#include "kelpo32/output/html/html_export.h"

#include "kelpo32/output/html/html_assets.h"
#include "kelpo32/output/jsontext.h"
#include "runtime/rtl.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <charconv>

namespace kelpo32::output::html {

namespace {

// The page's script keeps numbers as doubles: beyond 2^53 they are written
// as strings of digits, so that the exact value still reaches the page.
constexpr std::int64_t ExactInDouble = (std::int64_t{1} << 53) - 1;

// Written to the output in pieces of about this size.
constexpr std::size_t ChunkSize = std::size_t{64} * 1024;

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    bool quoted = value > ExactInDouble || value < -ExactInDouble;
    if (quoted) out += '"';
    out.append(digits, res.ptr);
    if (quoted) out += '"';
}

// A JSON string that is safe inside the page's script element: "<" as
// \u003c, so that no name can close the element or open a comment in it.
void AppendString(std::string& out, std::string_view bytes) {
    std::size_t from = out.size();
    out += '"';
    AppendJsonString(out, bytes, true);
    out += '"';
    if (out.find('<', from) == std::string::npos) return;
    std::string text = out.substr(from);
    out.resize(from);
    for (char c : text)
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
}

void AppendRunData(std::string& out, const HtmlRun& run, std::size_t shown) {
    out += "{\"start\":";
    AppendString(out, run.StartPath);
    out += ",\"sep\":";
    AppendString(out, std::string_view(&run.Separator, 1));
    out += ",\"time\":";
    AppendString(out, run.ScanTime);
    out += ",\"options\":[";
    for (std::size_t i = 0; i < run.Options.size(); ++i) {
        if (i > 0) out += ',';
        AppendString(out, run.Options[i]);
    }
    out += "],\"dirs\":";
    AppendNumber(out, run.TotalDirs);
    out += ",\"shown\":";
    AppendNumber(out, static_cast<std::int64_t>(shown));
    out += ",\"cap\":";
    AppendNumber(out, static_cast<std::int64_t>(run.Cap));
    out += ",\"foldedSmall\":";
    AppendNumber(out, run.FoldedSmall);
    out += ",\"foldedDeep\":";
    AppendNumber(out, run.FoldedDeep);
    out += ",\"depthLimit\":";
    AppendNumber(out, run.DepthLimit);
    out += ",\"unread\":";
    AppendNumber(out, run.Unread);
    out += ",\"unreadNamed\":[";
    for (std::size_t i = 0; i < run.UnreadNamed.size(); ++i) {
        out += i > 0 ? ",[" : "[";
        AppendString(out, run.UnreadNamed[i].first);
        out += ',';
        AppendString(out, run.UnreadNamed[i].second);
        out += ']';
    }
    out += "]";
    if (run.Compare) {
        out += ",\"compare\":true,\"oldStart\":";
        AppendString(out, run.OldStart);
    }
    out += ",\"d\":[";
}

// One directory: [parent, name, files, bytes, total files, total bytes,
// folded, problem?]; in a comparison [..., problem, change, state].
void AppendDir(std::string& out, const HtmlDir& d, bool compare) {
    out += '[';
    AppendNumber(out, d.Parent);
    out += ',';
    AppendString(out, d.Name);
    for (std::int64_t n : {d.Files, d.Bytes, d.TotalFiles, d.TotalBytes, d.Folded}) {
        out += ',';
        AppendNumber(out, n);
    }
    if (!d.Problem.empty() || compare) {
        out += ',';
        AppendString(out, d.Problem);
    }
    if (compare) {
        out += ',';
        AppendNumber(out, d.Change);
        out += ',';
        AppendString(out, d.State);
    }
    out += ']';
}

bool IsUnread(const walk::WalkListing& listing) {
    // Not entered on purpose is not unread; a loop is named, as it is shown empty.
    return listing.Problem != walk::DirProblem::None &&
           listing.Problem != walk::DirProblem::OtherFileSystem;
}

} // namespace

void WriteHtmlPage(runtime::TextOut& out, const HtmlRun& run, const std::vector<HtmlDir>& dirs) {
    out.Write(HtmlPageHead());
    std::string data;
    AppendRunData(data, run, dirs.size());
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (i > 0) data += ',';
        AppendDir(data, dirs[i], run.Compare);
        if (data.size() >= ChunkSize) {
            out.Write(data);
            data.clear();
        }
    }
    data += "]}";
    out.Write(data);
    out.Write(HtmlPageTail());
}

std::string HtmlTimeStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    auto seconds = floor<std::chrono::seconds>(when);
    auto day = floor<days>(seconds);
    year_month_day date(day);
    hh_mm_ss time(seconds - day);
    char text[32];
    auto two = [](char* at, long value) {
        at[0] = static_cast<char>('0' + value / 10 % 10);
        at[1] = static_cast<char>('0' + value % 10);
    };
    auto res = std::to_chars(text, text + 8, static_cast<int>(date.year()));
    char* p = res.ptr;
    *p++ = '-';
    two(p, static_cast<long>(static_cast<unsigned>(date.month())));
    p += 2;
    *p++ = '-';
    two(p, static_cast<long>(static_cast<unsigned>(date.day())));
    p += 2;
    *p++ = 'T';
    for (long part :
         {static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
          static_cast<long>(time.seconds().count())}) {
        two(p, part);
        p += 2;
        *p++ = ':';
    }
    p[-1] = 'Z';
    return std::string(text, p);
}

HtmlExport::HtmlExport(runtime::TextOut& out, HtmlRun run, std::int32_t maxDepth, std::size_t cap)
    : out_(out), run_(std::move(run)), maxDepth_(maxDepth), cap_(std::max<std::size_t>(cap, 1)) {
    run_.Cap = cap_;
}

void HtmlExport::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    HtmlDir d;
    d.Parent = open_.empty() ? -1 : open_.back();
    d.Depth = dir.Level;
    if (dir.Level == 0)
        d.Name = run_.StartPath;
    else
        runtime::AppendUtf8Name(d.Name, dir.Name, dir.Native);
    d.Files = listing.FileCount;
    d.Bytes = listing.FileBytes;
    d.TotalFiles = listing.FileCount;
    if (listing.Problem != walk::DirProblem::None) d.Problem = listing.Reason;
    if (dir.Level > 0) run_.TotalDirs = runtime::CheckedAdd<std::int64_t>(run_.TotalDirs, 1);
    std::size_t index = dirs_.size();
    dirs_.push_back(std::move(d));
    places_.push_back({met_, false});
    met_ = runtime::CheckedAdd<std::int64_t>(met_, 1);
    open_.push_back(runtime::CheckedRange<std::int32_t>(index));
    if (IsUnread(listing)) NoteUnread(index);
}

void HtmlExport::DirDone(const walk::WalkDir& dir, const walk::WalkListing& /*listing*/,
                         std::int64_t total) {
    if (open_.empty()) runtime::RaiseRangeError();
    auto index = static_cast<std::size_t>(open_.back());
    open_.pop_back();
    HtmlDir& d = dirs_[index];
    d.TotalBytes = total;
    places_[index].Done = true;
    if (d.Parent >= 0) {
        HtmlDir& parent = dirs_[static_cast<std::size_t>(d.Parent)];
        parent.TotalFiles = runtime::CheckedAdd(parent.TotalFiles, d.TotalFiles);
    }
    if (dir.Level > 0 && dir.Level >= maxDepth_) {
        FoldTail(index, run_.FoldedDeep);
        return;
    }
    Key key = KeyOf(index);
    if (largest_.size() < cap_) {
        largest_.push(key);
    } else if (largest_.top() < key) {
        // The smallest of those kept so far can no longer be shown; it goes
        // at the next compaction.
        largest_.pop();
        largest_.push(key);
    } else {
        // Nothing below it is larger: the whole subtree, the tail of the
        // records, is folded into the parent.
        FoldTail(index, run_.FoldedSmall);
        return;
    }
    if (dirs_.size() >= 2 * (cap_ + open_.size()) + 64) Compact();
}

void HtmlExport::End() {
    if (selection_ != nullptr && selection_->Root() != nullptr) {
        dirs_ = HtmlDirsOf(*selection_->Root(), run_.StartPath);
        std::int64_t shown = static_cast<std::int64_t>(dirs_.size()) - 1;
        run_.FoldedSmall = run_.TotalDirs - shown;
        run_.FoldedDeep = 0;
        run_.Cap = dirs_.size();
    } else {
        Compact();
    }
    WriteHtmlPage(out_, run_, dirs_);
}

namespace {

void AddSelected(std::vector<HtmlDir>& dirs, const tree::TotalsDir& dir, std::int32_t parent,
                 std::int32_t depth) {
    auto index = runtime::CheckedRange<std::int32_t>(dirs.size());
    HtmlDir d;
    d.Parent = parent;
    d.Depth = depth;
    if (parent >= 0) runtime::AppendUtf8Name(d.Name, dir.Name, dir.Native);
    d.Files = dir.FileCount;
    d.Bytes = dir.FileBytes;
    d.TotalFiles = dir.Total.Files;
    d.TotalBytes = dir.Total.Bytes;
    if (dir.Problem != walk::DirProblem::None && dir.Reason) d.Problem = *dir.Reason;
    // What it does not list: every directory below it but those listed and
    // theirs.
    std::int64_t listed = 0;
    for (const tree::TotalsDir& c : dir.Children)
        listed = runtime::CheckedAdd(listed, runtime::CheckedAdd<std::int64_t>(c.Total.Dirs, 1));
    d.Folded = dir.Total.Dirs - listed;
    dirs.push_back(std::move(d));
    for (const tree::TotalsDir& c : dir.Children)
        AddSelected(dirs, c, index, runtime::CheckedAdd(depth, 1));
}

} // namespace

std::vector<HtmlDir> HtmlDirsOf(const tree::TotalsDir& root, const std::string& startPath) {
    std::vector<HtmlDir> dirs;
    AddSelected(dirs, root, -1, 0);
    dirs.front().Name = startPath;
    return dirs;
}

HtmlExport::Key HtmlExport::KeyOf(std::size_t index) const {
    return {dirs_[index].TotalBytes, -places_[index].Seq};
}

void HtmlExport::NoteUnread(std::size_t index) {
    run_.Unread = runtime::CheckedAdd<std::int64_t>(run_.Unread, 1);
    if (run_.UnreadNamed.size() >= HtmlUnreadNamed) return;
    std::vector<const std::string*> names;
    for (auto at = static_cast<std::int32_t>(index); at >= 0;
         at = dirs_[static_cast<std::size_t>(at)].Parent)
        names.push_back(&dirs_[static_cast<std::size_t>(at)].Name);
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty() && path.back() != run_.Separator) path += run_.Separator;
        path += **name;
    }
    run_.UnreadNamed.emplace_back(std::move(path), dirs_[index].Problem);
}

// Drops the records from `from` on (a finished subtree), each folded into
// its parent, and counts them.
void HtmlExport::FoldTail(std::size_t from, std::int64_t& counter) {
    for (std::size_t i = dirs_.size(); i-- > from;) {
        const HtmlDir& d = dirs_[i];
        HtmlDir& parent = dirs_[static_cast<std::size_t>(d.Parent)];
        parent.Folded = runtime::CheckedAdd<std::int64_t>(
            parent.Folded, runtime::CheckedAdd<std::int64_t>(d.Folded, 1));
        counter = runtime::CheckedAdd<std::int64_t>(counter, 1);
    }
    dirs_.resize(from);
    places_.resize(from);
}

// Drops the finished directories that can no longer be shown: those smaller
// than the smallest of the `cap_` largest. What goes is closed downwards (a
// directory's descendants are smaller), what stays upwards.
void HtmlExport::Compact() {
    if (largest_.size() < cap_) return;
    Key least = largest_.top();
    std::vector<bool> drop(dirs_.size());
    for (std::size_t i = dirs_.size(); i-- > 0;) {
        if (!places_[i].Done || !(KeyOf(i) < least)) continue;
        drop[i] = true;
        const HtmlDir& d = dirs_[i];
        HtmlDir& parent = dirs_[static_cast<std::size_t>(d.Parent)];
        parent.Folded = runtime::CheckedAdd<std::int64_t>(
            parent.Folded, runtime::CheckedAdd<std::int64_t>(d.Folded, 1));
        run_.FoldedSmall = runtime::CheckedAdd<std::int64_t>(run_.FoldedSmall, 1);
    }
    std::vector<std::int32_t> moved(dirs_.size(), -1);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < dirs_.size(); ++i) {
        if (drop[i]) continue;
        moved[i] = static_cast<std::int32_t>(kept);
        HtmlDir& d = dirs_[i];
        if (d.Parent >= 0) d.Parent = moved[static_cast<std::size_t>(d.Parent)];
        if (kept != i) {
            dirs_[kept] = std::move(d);
            places_[kept] = places_[i];
        }
        ++kept;
    }
    dirs_.resize(kept);
    places_.resize(kept);
    for (std::int32_t& o : open_)
        o = moved[static_cast<std::size_t>(o)];
}

} // namespace kelpo32::output::html
