// The text exposition format that metric collectors read (a node exporter's
// textfile collector, a Prometheus server scraping a file): per directory
// gauges of its subtree's bytes and files, and per run when the scan began,
// how long it took, how many directories could not be read and whether it
// went through the whole tree. The writer takes rows, one listing per family
// of samples; the table of forms feeds it those of the layout of totals.
#pragma once

#include "kelpo32/output/dir_row.h"
#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kelpo32::output::metrics {

// What the exposition says of the run as a whole.
struct PrometheusRun {
    std::int64_t StartMillis = 0;    // when the scan began, milliseconds since the Unix epoch
    std::int64_t DurationMillis = 0; // how long the scan took
    std::int64_t Unreadable = 0;     // directories that could not be read, or only in part
    bool Completed = false;          // the scan went through the whole tree
};

// The families of samples of the directories, in the order they are written.
enum class Metric : std::uint8_t { Sizes, Files, RestSizes, RestFiles, RestDirs };
inline constexpr std::size_t MetricCount = 5;

// Writes the exposition's lines into a buffer the caller empties: the run's
// gauges, then every metric's lines as one group, as the format asks. The
// caller hands each family's samples together, in the order of Metric; a
// family's help and type go before its first sample, and a family without
// a sample is left out.
class PrometheusWriter {
  public:
    // `start`: the start directory's path as the exports write it (UTF-8 on
    // Windows); `byteNames`: paths are the file system's bytes, which may be
    // no UTF-8 and may hold control characters (runtime::NamesAreBytes).
    PrometheusWriter(std::string_view start, bool byteNames);

    // The run's gauges, which go first.
    void Run(std::string& out, const PrometheusRun& run) const;
    // One sample of a listed directory (its subtree's bytes or files, itself
    // included) or of the subdirectories of `path` that --top leaves out,
    // together (their bytes, files or how many; `depth` is theirs): its
    // path as the exports write it and its level below the start directory.
    void Sample(std::string& out, Metric metric, std::string_view path, std::int32_t depth,
                std::int64_t value);

  private:
    bool byteNames_;
    std::string start_; // the start label, escaped: start="..."
    bool begun_[MetricCount] = {};
};

// Appends a path as a label value between quotes: the backslash, the double
// quote and the line feed escaped as the format asks. Where names are bytes,
// the value first keeps the path unique and valid UTF-8 for any name: a
// backslash is "\\", each byte that is no part of well-formed UTF-8 and each
// byte of a control character (C0, DEL, C1) is "\xhh" (both written with
// the format's escaping of their backslashes).
void AppendLabelValue(std::string& out, std::string_view path, bool byteNames);

// What the run says of itself, from the walk's events: when the scan began,
// how long it took, how many directories could not be read, whether it went
// through the whole tree. Goes before the layout in a run's list, so that
// its End has happened when the rows are written.
class PrometheusClock final : public walk::WalkConsumer {
  public:
    void Begin() override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;
    void End() override;
    const PrometheusRun* Run() const { return &run_; }

  private:
    PrometheusRun run_;
    std::int64_t began_ = 0; // steady clock, milliseconds
};

// The writer of rows of the metrics form: the run's gauges, then each
// family's samples in a listing of its own (a directory's bytes, then its
// files; a "more" row's as the rest of its parent), written to standard
// output as they come: nothing is held but the line being made.
class PrometheusRows final : public RowWriter {
  public:
    // `start`: the start directory's path as the exports write it; `run`:
    // what the run says of itself, read before the first row.
    PrometheusRows(std::string_view start, const PrometheusRun* run);
    std::int32_t Passes() const override;
    void Pass(std::int32_t pass) override;
    void Row(const DirRow& row) override;

  private:
    void Write();

    PrometheusWriter writer_;
    const PrometheusRun* run_;
    Metric metric_ = Metric::Sizes;
    bool rest_ = false; // a "more" row was listed: the rest's families follow
    std::string out_;
};

// The levels below the start directory listed when nothing else bounds the
// number of series (no /V, --max-depth, --min-size, --top or --exclude).
inline constexpr std::int32_t PrometheusDefaultLevels = 3;

} // namespace kelpo32::output::metrics
