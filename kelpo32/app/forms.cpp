// The table of output forms and the makers that compose each form's
// consumer from the options: the form's own, the layout of totals, the
// comparison with a saved scan, the largest files after the report.
#include "kelpo32/app/forms.h"

#include "kelpo32/conventions.h"
#include "kelpo32/output/exports.h"
#include "kelpo32/output/html/html_export.h"
#include "kelpo32/output/layouts.h"
#include "kelpo32/output/metrics/prometheus.h"
#include "kelpo32/output/metrics/prometheus_growth.h"
#include "kelpo32/output/row_writers.h"
#include "kelpo32/report/largest.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/report.h"
#include "kelpo32/report/row_text.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/state.h"
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

// The selection of the layout of totals.
tree::Selection Listing(const FormInput& in) {
    const Options& o = in.Opts;
    return {.Sort = o.Sort, .MinSize = o.MinSize, .Top = o.Top, .Levels = in.Levels};
}

// The layout the options ask for, handing rows to the form's writer; the
// form's own consumer when they ask for none. `whole`: a comparison lists
// unchanged directories too.
std::unique_ptr<walk::WalkConsumer> Layout(const OutputForm& form, const FormInput& in,
                                           std::unique_ptr<walk::WalkConsumer> plain,
                                           bool whole = false) {
    const Options& o = in.Opts;
    if (in.Old != nullptr)
        return in.Source.Feed(std::make_unique<output::ComparisonLayout>(
            *in.Old,
            tree::Selection{.Sort = o.Sort,
                            .Levels = in.Levels,
                            .MinChange = o.MinChange,
                            .ChangedOnly = !whole && !o.All},
            in.Start, form.Rows(in, RowLayout::Comparison)));
    if (o.Totals)
        return in.Source.Feed(std::make_unique<output::TotalsLayout>(
            Listing(in), in.Start, form.Rows(in, RowLayout::Totals)));
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
output::html::HtmlRun PageRunOf(const Options& options, const output::RunStart& start,
                                std::int32_t levels) {
    output::html::HtmlRun run;
    run.StartPath = start.Path;
    run.ScanTime = output::html::HtmlTimeStamp(std::chrono::system_clock::now());
    run.Separator = runtime::PathSeparator();
    if (options.DiskUsage) run.Options.emplace_back("--disk-usage");
    if (options.CountLinks) run.Options.emplace_back("--count-links");
    if (options.OneFileSystem) run.Options.emplace_back("--one-file-system");
    if (levels != tree::AllLevels) {
        run.DepthLimit = levels - 1;
        run.Options.push_back("/V" + std::to_string(run.DepthLimit));
    }
    if (options.MinSize > 0) run.Options.push_back("--min-size=" + std::to_string(options.MinSize));
    if (options.Top > 0) run.Options.push_back("--top=" + std::to_string(options.Top));
    for (const std::string& pattern : options.Excludes)
        run.Options.push_back("--exclude=" + pattern);
    return run;
}

output::html::HtmlRun PageRun(const FormInput& in) {
    return PageRunOf(in.Opts, in.Start, in.Levels);
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
    run->Own(in.Source.Stream(std::make_unique<output::PlainLayout>(
        in.Levels, in.Start, form.Rows(in, RowLayout::Plain), report::StopExportIfAsked)));
    return run;
}

// The whole tree: only the exclusions apply to it.
std::unique_ptr<walk::WalkConsumer> MakeNcdu(const OutputForm& /*form*/, const FormInput& in) {
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::make_unique<ExportStop>());
    run->Own(output::NewNcduExport(in.Start));
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
        run->Own(in.Source.Feed(
            std::make_unique<output::html::HtmlExport>(runtime::StdOut(), PageRun(in),
                                                       tree::Selection{.Sort = tree::SortKey::Size,
                                                                       .MinSize = o.MinSize,
                                                                       .Top = o.Top,
                                                                       .Levels = in.Levels})));
    else
        run->Own(in.Source.Feed(
            std::make_unique<output::html::HtmlExport>(runtime::StdOut(), PageRun(in), in.Levels)));
    return run;
}

// Metrics for a collector: the layout of totals, bounded by default (the
// row's default depth) so that the number of series stays small, with what
// the run says of itself.
std::unique_ptr<walk::WalkConsumer> MakePrometheus(const OutputForm& /*form*/,
                                                   const FormInput& in) {
    auto clock = std::make_unique<output::metrics::PrometheusClock>();
    auto writer = std::make_unique<output::metrics::PrometheusRows>(in.Start.Path, clock->Run());
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::move(clock));
    run->Own(in.Source.Feed(
        std::make_unique<output::TotalsLayout>(Listing(in), in.Start, std::move(writer))));
    return run;
}

std::unique_ptr<output::RowWriter> TextGrowth(const Options& o, const output::RunStart& /*s*/) {
    return report::NewGrowthText(o.Units, PlatformConventions().NoNumber);
}

std::unique_ptr<output::RowWriter> JsonGrowth(const Options& /*o*/, const output::RunStart& /*s*/) {
    return output::NewJsonRows();
}

std::unique_ptr<output::RowWriter> TsvGrowth(const Options& /*o*/, const output::RunStart& /*s*/) {
    return output::NewTsvRows();
}

// The page of a growth colours each directory by its change over the window.
std::unique_ptr<output::RowWriter> PageGrowth(const Options& o, const output::RunStart& s) {
    output::html::HtmlRun run = PageRunOf(o, s, ListedLevels(*o.Form, o));
    run.Options.push_back("--growth");
    run.Compare = true;
    run.Growth = true;
    run.OldStart = s.Path;
    return std::make_unique<output::html::HtmlRows>(runtime::StdOut(), std::move(run));
}

std::unique_ptr<output::RowWriter> PrometheusGrowth(const Options& /*o*/,
                                                    const output::RunStart& s) {
    return output::metrics::NewPrometheusGrowth(s.Path);
}

constexpr std::string_view Compares{};

constexpr OutputForm Forms[] = {
    {"text", MakeReport, TextRows, 0, true, true, false, false, true, false, true, Compares, -1,
     TextGrowth},
    {"windows", MakeReport, TextRows, 0, true, false, false, true, false, false, true, Compares, -1,
     TextGrowth},
    {"json", MakeLines, JsonRows, 'J', false, true, true, false, false, false, true, Compares, -1,
     JsonGrowth},
    {"tsv", MakeLines, TsvRows, 0, false, true, true, false, false, false, true, Compares, -1,
     TsvGrowth},
    {"ncdu", MakeNcdu, nullptr, 0, false, true, true, false, false, true, false, Compares, -1},
    {"html", MakeHtml, PageRows, 0, false, true, true, false, false, false, true, Compares, -1,
     PageGrowth},
    {"prometheus", MakePrometheus, nullptr, 0, false, true, true, false, false, false, true,
     "the collector keeps each run's numbers and compares them",
     output::metrics::PrometheusDefaultLevels, PrometheusGrowth},
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

std::int32_t ListedLevels(const OutputForm& form, const Options& options) {
    if (form.DefaultDepth >= 0 && !options.Bounded) return form.DefaultDepth + 1;
    return MaxDepth;
}

} // namespace kelpo32
