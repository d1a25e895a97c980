// The growth as text: one line per row under the file system's line and a
// heading, paged like the report.
#include "kelpo32/output/growth_fields.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/report.h"
#include "kelpo32/report/row_text.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kelpo32::report {

namespace {

class GrowthText final : public output::RowWriter {
  public:
    GrowthText(output::SizeUnits units, std::string_view unknown)
        : units_(units), unknown_(unknown) {}

    void Growth(const output::GrowthHead& h) override {
        Write(output::ForecastText(h, units_));
        Write(output::WindowText(h));
    }

    void Begin() override {
        Write("             now        last day       last week      last month         per day"
              "       directory");
    }

    void Row(const output::DirRow& row) override {
        line_.clear();
        Field(output::FormatSize(row.TotalBytes, units_, false), 16);
        for (std::int64_t change : row.Changes)
            Field(change == tree::GrowthCells::Unknown ? std::string(unknown_)
                                                       : output::FormatSize(change, units_, true),
                  16);
        Field(row.RateKnown ? output::FormatSize(std::llround(row.Rate), units_, true)
                            : std::string(unknown_),
              16);
        WriteMarkedName(line_, row, name_, native_);
    }

  private:
    static void Write(const std::string& line) {
        MakeRoom(static_cast<std::int64_t>(line.size()));
        runtime::StdOut().Write(line);
        runtime::StdOut().WriteLn();
        NextLine();
    }
    // Right-aligned in `width` columns (an en dash is one column of three bytes).
    void Field(const std::string& text, std::size_t width) {
        std::size_t shown = text == unknown_ ? 1 : text.size();
        if (shown < width) line_.append(width - shown, ' ');
        line_ += text;
    }

    output::SizeUnits units_;
    std::string unknown_;
    std::string line_;
    std::string name_;
    std::string native_;
};

} // namespace

std::unique_ptr<output::RowWriter> NewGrowthText(output::SizeUnits units,
                                                 std::string_view unknown) {
    return std::make_unique<GrowthText>(units, unknown);
}

} // namespace kelpo32::report
