// The exposition of the layout of totals: the directories it lists, each
// with its path as the exports write it, once the walk is done.
#include "kelpo32/output/fields.h"
#include "kelpo32/output/prometheus.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/tree/totals.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <chrono>

namespace kelpo32::output {

namespace {

void AddRows(PrometheusWriter& writer, const tree::TotalsDir& d, const std::string& path,
             std::int32_t depth) {
    writer.Directory(path, depth, d.Total.Bytes, d.Total.Files);
    std::int32_t below = runtime::CheckedAdd<std::int32_t>(depth, 1);
    std::string inner;
    for (const tree::TotalsDir& c : d.Children) {
        inner = path;
        if (!inner.empty() && inner.back() != runtime::PathSeparator())
            inner += runtime::PathSeparator();
        runtime::AppendUtf8Name(inner, c.Name, c.Native);
        AddRows(writer, c, inner, below);
    }
    if (d.MoreCount > 0) writer.Rest(path, below, d.MoreCount, d.More.Bytes, d.More.Files);
}

std::int64_t MillisSince(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 from)
        .count();
}

class PrometheusExport final : public walk::WalkConsumer {
  public:
    explicit PrometheusExport(const tree::TotalsSelection& selection) : tree_(selection) {}

    void Begin() override {
        run_.StartMillis = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        began_ = std::chrono::steady_clock::now();
        tree_.Begin();
    }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        if (report::CouldNotRead(listing))
            run_.Unreadable = runtime::CheckedAdd<std::int64_t>(run_.Unreadable, 1);
        tree_.DirListed(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        tree_.DirDone(dir, listing, total);
    }
    void End() override {
        run_.DurationMillis = MillisSince(began_);
        run_.Completed = true;
        const tree::TotalsDir* root = tree_.Root();
        if (root == nullptr) return;
        std::string start = ExportStartPath();
        PrometheusWriter writer(start, runtime::NamesAreBytes());
        AddRows(writer, *root, start, 0);
        runtime::StdOut().Write(writer.Text(run_));
    }
    bool HoldsOutput() const override { return true; }

  private:
    tree::TotalsTree tree_;
    PrometheusRun run_;
    std::chrono::steady_clock::time_point began_;
};

} // namespace

std::unique_ptr<walk::WalkConsumer> NewPrometheusExport(const tree::TotalsSelection& selection) {
    return std::make_unique<PrometheusExport>(selection);
}

} // namespace kelpo32::output
