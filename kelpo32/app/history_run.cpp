#include "kelpo32/app/history_run.h"

#include "kelpo32/app/forms.h"
#include "kelpo32/app/options.h"
#include "kelpo32/app/scan.h"
#include "kelpo32/browse/session.h"
#include "kelpo32/history/growth.h"
#include "kelpo32/history/history_dir.h"
#include "kelpo32/output/layouts.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/tree/builder.h"
#include "runtime/fsspace.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

#include <chrono>

namespace kelpo32 {

namespace {

// The largest directories a recording holds while the walk goes: far more
// than a scan of the history keeps (those of 1/10,000 of the bytes).
constexpr std::size_t RecordCap = 100000;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t Clamped(std::uint64_t n) {
    return n > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(n);
}

void WriteGrowth(const OutputForm& form, const Options& options, const output::RunStart& start,
                 const history::Growth& growth) {
    std::unique_ptr<output::RowWriter> writer = form.GrowthRows(options, start);
    writer->Growth(growth.Head);
    writer->Begin();
    if (growth.Root != tree::NoDir)
        output::WriteTreeRows(growth.Tree, growth.Root,
                              tree::Selection{.Sort = options.Sort,
                                              .MinSize = options.MinSize,
                                              .Top = options.Top,
                                              .Levels = ListedLevels(form, options)},
                              start.Path, *writer);
    writer->End();
}

// The scan of `start` made at `time`, added to the history.
void Record(const output::RunStart& start, const Options& options, const tree::DirTree& tree,
            tree::DirIndex root, std::int64_t time, const std::string& absolute,
            std::int32_t levels) {
    runtime::FileSystemSpace space;
    const bool known = runtime::SpaceOf(start.Text, start.Native, space);
    history::Recording scan;
    scan.Tree = &tree;
    scan.Root = root;
    scan.Start = &start;
    scan.AbsoluteStart = absolute;
    scan.Time = time;
    scan.FsSize = known ? Clamped(space.Size) : -1;
    scan.FsFree = known ? Clamped(space.Free) : -1;
    scan.Levels = levels;
    scan.MinSize = options.MinSize;
    history::RecordScan(options.History, scan, options.HistoryKeep);
}

std::string AbsoluteStart(const output::RunStart& start) {
    std::string absolute = runtime::AbsolutePath(start.Text, start.Native);
    return absolute.empty() ? start.Path : absolute;
}

} // namespace

void RunHistory(const output::RunStart& start, const Options& options,
                report::UnreadSummary& unread, bool walk) {
    const OutputForm& form = *options.Form;
    std::string absolute;
    if (walk) {
        const std::int64_t time = Now();
        absolute = AbsoluteStart(start);
        const std::int32_t levels = ListedLevels(form, options);
        tree::TreeBuilder builder(tree::Selection{.Levels = levels}, RecordCap);
        ScanDir(start, options, unread, {}, RunExtra{&builder, options.Growth});
        Record(start, options, builder.Tree(), builder.Root(), time, absolute, levels);
    }
    if (!options.Growth) return;
    history::History kept;
    history::LoadHistory(options.History, absolute, options.Window, kept);
    runtime::WriteStdErr(kept.Notes);
    if (kept.Scans.empty()) {
        runtime::WriteStdErr("kelpo32: history '" +
                             runtime::SafeText(options.History, runtime::StdErrSink()) +
                             "': no scan to read\n");
        runtime::Halt(1);
    }
    history::Growth growth;
    history::ComputeGrowth(kept.Scans, options.Window, growth);
    WriteGrowth(form, options, walk ? start : SavedStart(kept.Scans.back().Scan->Start), growth);
}

void BrowseHistory(browse::BrowseSettings& settings, const output::RunStart& start,
                   const Options& options) {
    // What the history says of its files waits for the terminal to be back.
    const std::int64_t time = Now();
    const std::string absolute = AbsoluteStart(start);
    settings.Walked = [&options, &start, time, absolute](const tree::DirTree& tree,
                                                         tree::DirIndex root) {
        Record(start, options, tree, root, time, absolute, tree::AllLevels);
    };
    // The history is read once, when the view first asks.
    auto kept = std::make_shared<history::History>();
    auto read = std::make_shared<bool>(false);
    settings.Growth = [&settings, &options, absolute, kept, read](std::int64_t window,
                                                                  history::Growth& growth) {
        if (!*read) {
            history::LoadHistory(options.History, absolute, window, *kept);
            settings.Notes = &kept->Notes;
        }
        *read = true;
        if (kept->Scans.empty()) return false;
        history::ComputeGrowth(kept->Scans, window, growth);
        return true;
    };
    settings.Window = options.Window;
}

} // namespace kelpo32
