#include "kelpo32/history/history_dir.h"

#include "kelpo32/output/jsontext.h"
#include "kelpo32/output/layouts.h"
#include "kelpo32/output/row_writers.h"
#include "kelpo32/saved/scan_time.h"
#include "runtime/dirsearch.h"
#include "runtime/fsspace.h"
#include "runtime/gzip.h"
#include "runtime/outfile.h"
#include "runtime/remove.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"
#include "runtime/textsafe.h"

#include <algorithm>
#include <numeric>

namespace kelpo32::history {

namespace {

std::string Shown(std::string_view text) {
    return runtime::SafeText(text, runtime::StdErrSink());
}

// A name between quotes, as standard error may show it (built by appending:
// GCC 12 warns falsely of a short literal added to a string, bug 105329).
std::string Quoted(std::string_view name) {
    std::string text(1, '\'');
    text += Shown(name);
    text += '\'';
    return text;
}

std::string Note(const std::string& dir, const std::string& text) {
    return "kelpo32: history '" + Shown(dir) + "': " + text + "\n";
}

void Say(const std::string& dir, const std::string& text) {
    runtime::WriteStdErr(Note(dir, text));
}

// The first line of a kept scan.
std::string HeaderLine(const Recording& r) {
    std::string line = "{\"recorded\":\"" + saved::UtcText(r.Time) + "\",\"start\":\"";
    output::AppendJsonString(line, r.AbsoluteStart, true);
    line += "\"";
    if (r.FsSize >= 0) line += ",\"fs_size\":" + std::to_string(r.FsSize);
    if (r.FsFree >= 0) line += ",\"fs_free\":" + std::to_string(r.FsFree);
    return line + "}\n";
}

} // namespace

std::string InDir(const std::string& dir, const std::string& name) {
    std::string path = dir;
    if (!path.empty() && path.back() != runtime::PathSeparator() && path.back() != '/')
        path += runtime::PathSeparator();
    return path + name;
}

bool ListKept(const std::string& dir, std::vector<KeptFile>& ours, std::vector<std::string>& others,
              std::string& error) {
    ours.clear();
    others.clear();
    runtime::DirHandle h;
    runtime::DirIdentity id;
    runtime::DirResult r = runtime::OpenDirPath(dir, {}, h, id);
    std::vector<runtime::DirEntry> entries;
    if (r.Fault == runtime::DirFault::None) r = runtime::ListDirectory(h, entries);
    runtime::CloseDir(h);
    if (r.Fault == runtime::DirFault::Resource) runtime::RaiseIoError(r.Code);
    if (r.Fault != runtime::DirFault::None) {
        error = r.Fault == runtime::DirFault::Unreadable ? runtime::UnreadableText(r.Code)
                                                         : runtime::FaultText(r.Code);
        return false;
    }
    for (runtime::DirEntry& e : entries) {
        KeptFile f{e.Name, e.Native, 0, 1};
        if (e.Type == runtime::EntryType::Regular && ParseKeptName(e.Name, f.NameTime, &f.Second))
            ours.push_back(std::move(f));
        else if (!OurTemporary(e.Name))
            others.push_back(e.Name);
    }
    std::sort(ours.begin(), ours.end(), [](const KeptFile& a, const KeptFile& b) {
        return a.NameTime != b.NameTime ? a.NameTime < b.NameTime : a.Second < b.Second;
    });
    std::sort(others.begin(), others.end());
    return true;
}

void LoadHistory(const std::string& dir, const std::string& start, std::int64_t window,
                 History& history) {
    std::vector<KeptFile> ours;
    std::vector<std::string> others;
    std::string error;
    if (!ListKept(dir, ours, others, error)) {
        history.Notes += Note(dir, "cannot be read: " + error);
        return;
    }
    for (const std::string& name : others)
        history.Notes += Note(dir, Quoted(name) + " is none of its scans; left alone");
    // The newest that can be read sets the time; the window and a month
    // before it are what the growth reads.
    const std::int64_t reach = std::max(window, ChangeSpans[2] * 3 / 2);
    std::int64_t newest = 0;
    bool haveNewest = false;
    bool beyond = false;
    history.Start = start;
    struct Read {
        std::size_t Slot;
        std::string Name;
    };
    std::vector<Read> read;
    for (std::size_t i = ours.size(); i-- > 0;) {
        const KeptFile& f = ours[i];
        std::string path = InDir(dir, f.Name);
        saved::SavedScan scan;
        std::string why;
        // Every file is read, so that each damaged one is named; only those
        // the growth needs are kept.
        if (!saved::LoadSavedScan(path, false, false, scan, why)) {
            history.Notes += why.substr(0, why.size() - 1) + "; left out\n";
            continue;
        }
        if (!scan.Header.Known) {
            history.Notes +=
                Note(dir, Quoted(f.Name) + " says nothing of when it was recorded; left out");
            continue;
        }
        if (history.Start.empty()) history.Start = scan.Header.Start;
        if (scan.Header.Start != history.Start) {
            ++history.Others;
            continue;
        }
        if (!haveNewest) {
            newest = scan.Header.Time;
            haveNewest = true;
        }
        // Past the reach one more is kept, for a sparse window.
        if (newest - scan.Header.Time > reach) {
            if (beyond) continue;
            beyond = true;
        }
        history.Loaded.push_back(std::move(scan));
        read.push_back({history.Loaded.size() - 1, f.Name});
    }
    if (history.Others > 0)
        history.Notes +=
            Note(dir, std::to_string(history.Others) +
                          (history.Others == 1 ? " scan of another start directory than '"
                                               : " scans of another start directory than '") +
                          Shown(history.Start) + "' left out");
    // Oldest first by the time each scan recorded; a clock set back shows
    // as a scan whose name (the order it was written in) disagrees.
    std::reverse(read.begin(), read.end());
    std::vector<std::size_t> byTime(read.size());
    std::iota(byTime.begin(), byTime.end(), 0);
    auto timeOf = [&](std::size_t i) { return history.Loaded[read[i].Slot].Header.Time; };
    std::stable_sort(byTime.begin(), byTime.end(),
                     [&](std::size_t a, std::size_t b) { return timeOf(a) < timeOf(b); });
    for (std::size_t i = 1; i < read.size(); ++i)
        if (timeOf(i) < timeOf(i - 1))
            history.Notes +=
                Note(dir, Quoted(read[i].Name) + " is dated " + saved::UtcText(timeOf(i)) +
                              ", before " + Quoted(read[i - 1].Name) +
                              " (the clock went back): ordered by their recorded times");
    for (std::size_t i : byTime)
        history.Scans.push_back({timeOf(i), &history.Loaded[read[i].Slot]});
}

void RecordScan(const std::string& dir, const Recording& scan, const KeepRule& rule) {
    std::string reason;
    if (int code = runtime::MakeDirectory(dir, reason); code != 0)
        runtime::RaiseIoError(code, "cannot make the history '" + dir + "'");
    std::vector<KeptFile> ours;
    std::vector<std::string> others;
    std::string error;
    if (!ListKept(dir, ours, others, error))
        runtime::RaiseIoError(runtime::IoAccessDenied, "cannot read the history '" + dir + "'");
    // A second scan of the same second takes the next free name.
    std::string name;
    for (int n = 1; name.empty() || std::any_of(ours.begin(), ours.end(),
                                                [&](const KeptFile& f) { return f.Name == name; });
         ++n)
        name = KeptName(scan.Time, n);

    runtime::outfile::TempFile temp;
    std::string what;
    if (int code = runtime::outfile::CreateBeside(InDir(dir, name), temp, what); code != 0)
        runtime::RaiseIoError(code, std::move(what));
    {
        runtime::TextOut out;
        std::unique_ptr<runtime::ByteSink> gzip = runtime::NewGzipSink();
        try {
            out.Assign(temp.Handle, std::size_t{1} << 16);
            out.SetSink(gzip.get());
            out.Write(HeaderLine(scan));
            std::int64_t total = scan.Root == tree::NoDir ? 0 : scan.Tree->At(scan.Root).TotalBytes;
            tree::Selection sel{.MinSize = std::max(scan.MinSize, total / KeptShare),
                                .Levels = scan.Levels};
            auto rows = output::NewJsonRows(out);
            if (scan.Root != tree::NoDir)
                output::WriteTreeRows(*scan.Tree, scan.Root, sel, scan.Start->Path, *rows);
            out.FinishSink();
            out.Assign(runtime::NoFile, 0);
        } catch (...) {
            out.Assign(runtime::NoFile, 0);
            runtime::outfile::Remove(temp);
            throw;
        }
    }
    if (int code = runtime::outfile::PutInPlace(temp, what); code != 0)
        runtime::RaiseIoError(code, std::move(what));

    // The rotation: ours alone, by the times in their names.
    ours.push_back({name, {}, scan.Time, 1});
    std::stable_sort(ours.begin(), ours.end(),
                     [](const KeptFile& a, const KeptFile& b) { return a.NameTime < b.NameTime; });
    std::vector<std::int64_t> times;
    times.reserve(ours.size());
    for (const KeptFile& f : ours)
        times.push_back(f.NameTime);
    std::vector<bool> keep = Rotate(times, scan.Time, rule);
    runtime::DirHandle h;
    runtime::DirIdentity id;
    if (runtime::OpenDirPath(dir, {}, h, id).Fault != runtime::DirFault::None) return;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (keep[i] || ours[i].Name == name) continue;
        runtime::RemoveTarget target{ours[i].Name, ours[i].Native, false, {}};
        if (runtime::RemoveEntry(h, target, {}).Failures > 0)
            Say(dir, "cannot remove " + Quoted(ours[i].Name) + ", which it no longer keeps");
    }
    runtime::CloseDir(h);
}

} // namespace kelpo32::history
