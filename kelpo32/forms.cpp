// The table of output forms and the makers that compose each form's
// consumer from the options: the plain form, the layout of totals, the
// comparison with a saved scan, the largest files after the report.
#include "kelpo32/forms.h"

#include "CmdLin/CmdLin.h"

#include "kelpo32/output/exports.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/output/html/html_export.h"
#include "kelpo32/output/largest.h"
#include "kelpo32/output/prometheus.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/report.h"
#include "kelpo32/state.h"
#include "kelpo32/tree/compare.h"
#include "kelpo32/tree/totals.h"
#include "runtime/dirsearch.h"
#include "runtime/textout.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace kelpo32 {

namespace {

// The layout of totals as a run's output: the tree of what it lists, written
// once the walk is done, as text or as rows of an export.
class TotalsOutput final : public walk::WalkConsumer {
  public:
    TotalsOutput(const Options& options, TotalsForm form)
        : tree_(tree::TotalsSelection{options.Sort, options.MinSize, options.Top, MaxDepth}),
          units_(options.Units), form_(form) {}

    void Begin() override { tree_.Begin(); }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        tree_.DirListed(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        tree_.DirDone(dir, listing, total);
    }
    void End() override {
        if (form_ == TotalsForm::Text)
            report::PrintTotals(tree_, units_);
        else
            output::WriteTotalsRows(tree_, form_ == TotalsForm::Json);
    }
    bool HoldsOutput() const override { return true; }

  private:
    tree::TotalsTree tree_;
    SizeUnits units_;
    TotalsForm form_;
};

// An export looks for Esc, Ctrl+C or SIGINT at every directory: it has no
// counted lines to do it.
class ExportStop final : public walk::WalkConsumer {
  public:
    void DirListed(const walk::WalkDir& /*dir*/, const walk::WalkListing& /*listing*/) override {
        report::StopExportIfAsked();
    }
};

// What the page's header says of a run with these options.
output::html::HtmlRun PageRun(const Options& options) {
    output::html::HtmlRun run;
    run.StartPath = output::ExportStartPath();
    run.ScanTime = output::html::HtmlTimeStamp(std::chrono::system_clock::now());
    run.Separator = runtime::PathSeparator();
    if (options.DiskUsage) run.Options.emplace_back("--disk-usage");
    if (options.OneFileSystem) run.Options.emplace_back("--one-file-system");
    if (MaxDepth != NoDepthLimit) {
        run.DepthLimit = MaxDepth - 1;
        run.Options.push_back("/V" + std::to_string(run.DepthLimit));
    }
    if (options.MinSize > 0) run.Options.push_back("--min-size=" + std::to_string(options.MinSize));
    if (options.Top > 0) run.Options.push_back("--top=" + std::to_string(options.Top));
    for (const std::string& pattern : options.Excludes)
        run.Options.push_back("--exclude=" + pattern);
    return run;
}

// The form's own consumer, or the comparison or the layout of totals in its
// place when the options ask for them.
std::unique_ptr<walk::WalkConsumer> Output(const FormInput& in, TotalsForm form,
                                           std::unique_ptr<walk::WalkConsumer> plain) {
    if (in.Old != nullptr) return std::make_unique<tree::Comparison>(*in.Old, in.Opts, form);
    if (in.Opts.Totals) return std::make_unique<TotalsOutput>(in.Opts, form);
    return plain;
}

std::unique_ptr<walk::WalkConsumer> MakeReport(const FormInput& in) {
    const Options& o = in.Opts;
    if (o.LargestFilesAlone)
        return std::make_unique<output::LargestFiles>(o.LargestFiles, o.DiskUsage, o.Units, true);
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(Output(in, TotalsForm::Text, std::make_unique<report::ReportLines>()));
    if (o.LargestFiles > 0 && in.Old == nullptr)
        run->Own(std::make_unique<output::LargestFiles>(o.LargestFiles, o.DiskUsage, o.Units));
    return run;
}

// JSON Lines and TSV: the plain export looks for a stop at every directory.
std::unique_ptr<walk::WalkConsumer> LineExport(const FormInput& in, TotalsForm form,
                                               std::unique_ptr<walk::WalkConsumer> plain) {
    if (in.Old != nullptr || in.Opts.Totals) return Output(in, form, nullptr);
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::make_unique<ExportStop>());
    run->Own(std::move(plain));
    return run;
}

std::unique_ptr<walk::WalkConsumer> MakeJson(const FormInput& in) {
    return LineExport(in, TotalsForm::Json, output::NewJsonLinesExport());
}

std::unique_ptr<walk::WalkConsumer> MakeTsv(const FormInput& in) {
    return LineExport(in, TotalsForm::Tsv, output::NewTsvExport());
}

// The whole tree: only the exclusions apply to it.
std::unique_ptr<walk::WalkConsumer> MakeNcdu(const FormInput& /*in*/) {
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::make_unique<ExportStop>());
    run->Own(output::NewNcduExport());
    return run;
}

std::unique_ptr<walk::WalkConsumer> MakeHtml(const FormInput& in) {
    // Compared with an older scan: the page colours each directory by its change.
    if (in.Old != nullptr) {
        auto compare = std::make_unique<tree::Comparison>(*in.Old, in.Opts, TotalsForm::Html);
        output::html::HtmlRun run = PageRun(in.Opts);
        run.Options.push_back("--compare=" + in.Opts.Compare);
        compare->DescribePage(std::move(run));
        return compare;
    }
    auto run = std::make_unique<walk::ConsumerList>();
    run->Own(std::make_unique<ExportStop>());
    auto page =
        std::make_unique<output::html::HtmlExport>(runtime::StdOut(), PageRun(in.Opts), MaxDepth);
    // The page follows a minimum size or a top-N; without them it keeps its
    // own cap of the largest directories.
    std::unique_ptr<tree::TotalsTree> selection;
    if (in.Opts.MinSize > 0 || in.Opts.Top > 0) {
        selection = std::make_unique<tree::TotalsTree>(
            tree::TotalsSelection{SortKey::Size, in.Opts.MinSize, in.Opts.Top, MaxDepth});
        page->ShowSelection(selection.get());
    }
    run->Own(std::move(page));
    if (selection) run->Own(std::move(selection));
    return run;
}

// Metrics for a collector: the layout of totals, bounded by default so that
// the number of series stays small.
std::unique_ptr<walk::WalkConsumer> MakePrometheus(const FormInput& in) {
    const Options& o = in.Opts;
    bool bounded = CmdLin::HasSwitch('V') || o.DepthLimit >= 0 || o.MinSize > 0 || o.Top > 0 ||
                   !o.Excludes.empty();
    std::int32_t depth = bounded ? MaxDepth : output::PrometheusDefaultLevels + 1;
    return output::NewPrometheusExport(tree::TotalsSelection{o.Sort, o.MinSize, o.Top, depth});
}

constexpr OutputForm Forms[] = {
    {"text", MakeReport, 0, true, FormBytes::Text, false, true},
    {"windows", MakeReport, 0, true, FormBytes::Console, false, true},
    {"json", MakeJson, 'J', false, FormBytes::Utf8, false, true},
    {"tsv", MakeTsv, 0, false, FormBytes::Utf8, false, true},
    {"ncdu", MakeNcdu, 0, false, FormBytes::Utf8, true, false},
    {"html", MakeHtml, 0, false, FormBytes::Utf8, false, true},
    {"prometheus", MakePrometheus, 0, false, FormBytes::Utf8, false, true},
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
