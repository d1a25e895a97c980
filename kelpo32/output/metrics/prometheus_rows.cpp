// The metrics form as a run's writer of rows, and the clock that tells it
// what the run says of itself.
#include "kelpo32/output/metrics/prometheus.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <chrono>

namespace kelpo32::output::metrics {

namespace {

std::int64_t SteadyMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void PrometheusClock::Begin() {
    run_ = PrometheusRun{};
    run_.StartMillis = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    began_ = SteadyMillis();
}

void PrometheusClock::DirListed(const walk::WalkDir& /*dir*/, const walk::WalkListing& listing) {
    if (listing.CouldNotRead())
        run_.Unreadable = runtime::CheckedAdd<std::int64_t>(run_.Unreadable, 1);
}

void PrometheusClock::End() {
    run_.DurationMillis = SteadyMillis() - began_;
    run_.Completed = true;
}

PrometheusRows::PrometheusRows(std::string_view start, const PrometheusRun* run)
    : writer_(start, runtime::NamesAreBytes()), run_(run) {}

// The directories' bytes, then their files; with a "more" row, the rest's
// three families.
std::int32_t PrometheusRows::Passes() const {
    return rest_ ? static_cast<std::int32_t>(MetricCount) : 2;
}

void PrometheusRows::Pass(std::int32_t pass) {
    metric_ = static_cast<Metric>(pass);
    if (pass > 0) return;
    writer_.Run(out_, *run_);
    Write();
}

void PrometheusRows::Row(const DirRow& row) {
    bool rest = metric_ >= Metric::RestSizes;
    if ((row.More > 0) != rest) {
        rest_ = rest_ || row.More > 0;
        return;
    }
    std::int64_t value = 0;
    switch (metric_) {
    case Metric::Sizes:
    case Metric::RestSizes:
        value = row.TotalBytes;
        break;
    case Metric::Files:
    case Metric::RestFiles:
        value = row.TotalFiles;
        break;
    case Metric::RestDirs:
        value = row.More;
        break;
    }
    writer_.Sample(out_, metric_, row.Path, row.Depth, value);
    Write();
}

// Standard output buffers: a line is written as soon as it is made.
void PrometheusRows::Write() {
    runtime::StdOut().Write(out_);
    out_.clear();
}

} // namespace kelpo32::output::metrics
