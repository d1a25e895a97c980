#include "kelpo32/output/metrics/prometheus_growth.h"

#include "kelpo32/output/fields.h"
#include "kelpo32/output/metrics/prometheus.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <cmath>
#include <string>

namespace kelpo32::output::metrics {

namespace {

class PrometheusGrowth final : public RowWriter {
  public:
    explicit PrometheusGrowth(std::string_view start) : byteNames_(runtime::NamesAreBytes()) {
        start_ = "start=";
        AppendLabelValue(start_, start, byteNames_);
    }

    void Growth(const GrowthHead& h) override {
        // The file system: what is known of it.
        auto gauge = [&](const char* name, const char* help, std::int64_t value) {
            fs_.append("# HELP ").append(name).append(" ").append(help).append("\n");
            fs_.append("# TYPE ").append(name).append(" gauge\n");
            fs_.append(name).append("{").append(start_).append("} ");
            AppendNumber(fs_, value);
            fs_ += '\n';
        };
        if (h.FsSize >= 0)
            gauge("kelpo32_filesystem_size_bytes", "The size of the start directory's file system.",
                  h.FsSize);
        if (h.FsFree >= 0)
            gauge("kelpo32_filesystem_free_bytes", "Its free space at the newest scan.", h.FsFree);
        if (h.RateKnown)
            gauge("kelpo32_filesystem_free_bytes_per_day",
                  "How fast its free space changed over the window.", std::llround(h.FreeRate));
        if (h.FullAt >= 0)
            gauge("kelpo32_filesystem_full_time_seconds",
                  "When it is full at that rate, seconds since the Unix epoch.", h.FullAt);
    }

    void Row(const DirRow& row) override {
        if (row.More > 0) return;
        Sample(sizes_, "kelpo32_directory_size_bytes", row, row.TotalBytes);
        if (row.RateKnown)
            Sample(rates_, "kelpo32_directory_growth_bytes_per_day", row, std::llround(row.Rate));
    }

    void End() override {
        std::string text = fs_;
        text += "# HELP kelpo32_directory_size_bytes Bytes in the directory and below it.\n"
                "# TYPE kelpo32_directory_size_bytes gauge\n";
        text += sizes_;
        text += "# HELP kelpo32_directory_growth_bytes_per_day How fast the directory grew over "
                "the window.\n"
                "# TYPE kelpo32_directory_growth_bytes_per_day gauge\n";
        text += rates_;
        runtime::StdOut().Write(text);
    }

  private:
    void Sample(std::string& lines, std::string_view metric, const DirRow& row,
                std::int64_t value) const {
        lines.append(metric).append("{").append(start_).append(",path=");
        AppendLabelValue(lines, row.Path, byteNames_);
        lines += ",depth=\"";
        AppendNumber(lines, row.Depth);
        lines += "\"} ";
        AppendNumber(lines, value);
        lines += '\n';
    }

    bool byteNames_;
    std::string start_;
    std::string fs_;
    std::string sizes_;
    std::string rates_;
};

} // namespace

std::unique_ptr<RowWriter> NewPrometheusGrowth(std::string_view start) {
    return std::make_unique<PrometheusGrowth>(start);
}

} // namespace kelpo32::output::metrics
