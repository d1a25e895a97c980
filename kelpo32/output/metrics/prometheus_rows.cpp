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

void PrometheusRows::Row(const DirRow& row) {
    if (row.More > 0)
        writer_.Rest(row.Path, row.Depth, row.More, row.TotalBytes, row.TotalFiles);
    else
        writer_.Directory(row.Path, row.Depth, row.TotalBytes, row.TotalFiles);
}

void PrometheusRows::End() {
    runtime::StdOut().Write(writer_.Text(*run_));
}

} // namespace kelpo32::output::metrics
