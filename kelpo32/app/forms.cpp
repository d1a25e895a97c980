// The table of output forms and the makers that compose each form's
// consumer from the options: the form's own, the layout of totals, the
// comparison with a saved scan, the largest files after the report.
#include "kelpo32/forms.h"

#include "CmdLin/CmdLin.h"
#include "kelpo32/output/exports.h"
#include "kelpo32/output/html/html_export.h"
#include "kelpo32/output/metrics/prometheus.h"
#include "kelpo32/output/row_writers.h"
#include "kelpo32/report/largest.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/report.h"
#include "kelpo32/report/row_text.h"
#include "kelpo32/saved/saved_scan.h"
#include "runtime/dirsearch.h"
#include "runtime/textout.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace kelpo32 {

namespace {

// An export looks for Esc, Ctrl+C or SIGINT at every directory: it has no
// counted lines to do it.
class ExportStop final : public walk::WalkConsumer {
  public:
    void DirListed(const walk::WalkDir& /*dir*/, const walk::WalkListing& /*listing*/) override {
        report::StopExportIfAsked();
    }
};

// The layout the options ask for, handing rows to the form's writer; the
// form's own consumer when they ask for none. `whole`: a comparison lists
// unchanged directories too.
std::unique_ptr<walk::WalkConsumer> Layout(const OutputForm& form, const FormInput& in,
                                           std::unique_ptr<walk::WalkConsumer> plain,
                                           bool whole = false) {
    if (in.Old != nullptr)
        return std::make_unique<output::ComparisonLayout>(
            *in.Old, in.Opts, in.Start, form.Rows(in, RowLayout::Comparison), in.From, whole);
    if (in.Opts.Totals)
        return std::make_unique<output::TotalsLayout>(in.Opts, in.Start,
                                                      form.Rows(in, RowLayout::Totals), in.From);
    return plain;
}

std::unique_ptr<output::RowWriter> TextRows(const FormInput& in, RowLayout layout) {
    if (layout == RowLayout::Comparison) return report::NewCompareText(in.Opts.Units);
    return report::NewTotalsText(in.Opts.Units, in.Start.Text);
}

std::unique_ptr<output::RowWriter> JsonRows(const FormInput& /*in*/, RowLayout /*layout*/) {
    return output::NewJsonRows();
}

std::unique_ptr<output::RowWriter> TsvRows(const FormInput& /*in*/, RowLayout /*layout*/) {
    return output::NewTsvRows();
}

// What the page's header says of a run with these options.
output::html::HtmlRun PageRun(const FormInput& in) {
    const Options& options = in.Opts;
    output::html::HtmlRun run;
    run.StartPath = in.Start.Path;
    run.ScanTime = output::html::HtmlTimeStamp(std::chrono::system_clock::now());
    run.Separator = runtime::PathSeparator();
    if (options.DiskUsage) run.Options.emplace_back("--disk-usage");
    if (options.CountLinks) run.Options.emplace_back("--count-links");
    if (options.OneFileSystem) run.Options.emplace_back("--one-file-system");
    if (options.Levels != tree::AllLevels) {
        run.DepthLimit = options.Levels - 1;
        run.Options.push_back("/V" + std::to_string(run.DepthLimit));
    }
    if (options.MinSize > 0) run.Options.push_back("--min-size=" + std::to_string(options.MinSize));
    if (options.Top > 0) run.Options.push_back("--top=" + std::to_string(options.Top));
    for (const std::string& pattern : options.Excludes)
        run.Options.push_back("--exclude=" + pattern);
    return run;
}

// The page of a comparison colours each directory by its change.
std::unique_ptr<output::RowWriter> PageRows(const FormInput& in, RowLayout layout) {
    output::html::HtmlRun run = PageRun(in);
    if (layout == RowLayout::Comparison && in.Old != nullptr) {
        run.Options.push_back("--compare=" + in.Opts.Compare);
        run.Compare = true;
        run.OldStart = in.Old->Start;
    }
    return std::make_unique<output::html::HtmlRows>(runtime::StdOut(), std::move(run));
}

std::unique_ptr<walk::WalkConsumer> MakeReport(const OutputForm& form, const FormInput& in) {
    const Options& o = in.Opts;
    if (o.LargestFilesAlone)
        return std::make_unique<report::LargestFiles>(o.LargestFiles, o.DiskUsage, o.Units, true);
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(Layout(form, in, std::make_unique<report::ReportLines>()));
    if (o.LargestFiles > 0 && in.Old == nullptr)
        run->Own(std::make_unique<report::LargestFiles>(o.LargestFiles, o.DiskUsage, o.Units));
    return run;
}

// JSON Lines and TSV: the plain export looks for a stop at every directory.
std::unique_ptr<walk::WalkConsumer> MakeLines(const OutputForm& form, const FormInput& in) {
    if (in.Old != nullptr || in.Opts.Totals) return Layout(form, in, nullptr);
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::make_unique<ExportStop>());
    run->Own(
        std::make_unique<output::PlainLayout>(in.Opts, in.Start, form.Rows(in, RowLayout::Plain)));
    return run;
}

// The whole tree: only the exclusions apply to it.
std::unique_ptr<walk::WalkConsumer> MakeNcdu(const OutputForm& /*form*/, const FormInput& /*in*/) {
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::make_unique<ExportStop>());
    run->Own(output::NewNcduExport());
    return run;
}

std::unique_ptr<walk::WalkConsumer> MakeHtml(const OutputForm& form, const FormInput& in) {
    // The page's treemap is the whole tree, unchanged directories too.
    if (in.Old != nullptr) return Layout(form, in, nullptr, true);
    const Options& o = in.Opts;
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::make_unique<ExportStop>());
    // The page follows a minimum size or a top-N, largest first; without
    // them it keeps its own cap of the largest directories.
    if (o.MinSize > 0 || o.Top > 0)
        run->Own(std::make_unique<output::html::HtmlExport>(
            runtime::StdOut(), PageRun(in),
            tree::Selection{
                .Sort = SortKey::Size, .MinSize = o.MinSize, .Top = o.Top, .Levels = o.Levels}));
    else
        run->Own(
            std::make_unique<output::html::HtmlExport>(runtime::StdOut(), PageRun(in), o.Levels));
    return run;
}

// Metrics for a collector: the layout of totals, bounded by default so that
// the number of series stays small, with what the run says of itself.
std::unique_ptr<walk::WalkConsumer> MakePrometheus(const OutputForm& /*form*/,
                                                   const FormInput& in) {
    const Options& o = in.Opts;
    bool bounded = CmdLin::HasSwitch('V') || o.DepthLimit >= 0 || o.MinSize > 0 || o.Top > 0 ||
                   !o.Excludes.empty();
    Options listed = o;
    if (!bounded) listed.Levels = output::metrics::PrometheusDefaultLevels + 1;
    auto clock = std::make_unique<output::metrics::PrometheusClock>();
    auto writer = std::make_unique<output::metrics::PrometheusRows>(in.Start.Path, clock->Run());
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::move(clock));
    run->Own(std::make_unique<output::TotalsLayout>(listed, in.Start, std::move(writer), in.From));
    return run;
}

constexpr OutputForm Forms[] = {
    {"text", MakeReport, TextRows, 0, true, true, false, false, true, false, true},
    {"windows", MakeReport, TextRows, 0, true, false, false, true, false, false, true},
    {"json", MakeLines, JsonRows, 'J', false, true, true, false, false, false, true},
    {"tsv", MakeLines, TsvRows, 0, false, true, true, false, false, false, true},
    {"ncdu", MakeNcdu, nullptr, 0, false, true, true, false, false, true, false},
    {"html", MakeHtml, PageRows, 0, false, true, true, false, false, false, true},
    {"prometheus", MakePrometheus, nullptr, 0, false, true, true, false, false, false, true},
};

} // namespace

std::span<const OutputForm> OutputForms() {
    return Forms;
}

const OutputForm* FindForm(std::string_view name) {
    const auto* it = std::find_if(std::begin(Forms), std::end(Forms),
                                  [&](const OutputForm& f) { return f.Name == name; });
    return it == std::end(Forms) ? nullptr : it;
}

const OutputForm& DefaultForm() {
    return Forms[0];
}

} // namespace kelpo32
