#include "kelpo32/app/history_run.h"

#include "kelpo32/app/forms.h"
#include "kelpo32/app/options.h"
#include "kelpo32/app/scan.h"
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

} // namespace

void RunHistory(const output::RunStart& start, const Options& options,
                report::UnreadSummary& unread, bool walk) {
    const OutputForm& form = *options.Form;
    std::string absolute;
    if (walk) {
        const std::int64_t time = Now();
        absolute = runtime::AbsolutePath(start.Text, start.Native);
        if (absolute.empty()) absolute = start.Path;
        runtime::FileSystemSpace space;
        const bool known = runtime::SpaceOf(start.Text, start.Native, space);
        tree::TreeBuilder builder(tree::Selection{.Levels = ListedLevels(form, options)},
                                  RecordCap);
        ScanDir(start, options, unread, {}, RunExtra{&builder, options.Growth});
        history::Recording scan;
        scan.Tree = &builder.Tree();
        scan.Root = builder.Root();
        scan.Start = &start;
        scan.AbsoluteStart = absolute;
        scan.Time = time;
        scan.FsSize = known ? Clamped(space.Size) : -1;
        scan.FsFree = known ? Clamped(space.Free) : -1;
        scan.Levels = ListedLevels(form, options);
        scan.MinSize = options.MinSize;
        history::RecordScan(options.History, scan, options.HistoryKeep);
    }
    if (!options.Growth) return;
    history::History kept;
    history::LoadHistory(options.History, absolute, options.Window, kept);
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

} // namespace kelpo32
