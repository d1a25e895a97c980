// The layout of totals as text: its rows drawn through the report's own
// lines, parents before their children.
#include "kelpo32/report/report.h"
#include "kelpo32/report/row_text.h"
#include "kelpo32/state.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <string>
#include <vector>

namespace kelpo32::report {

namespace {

class TotalsText final : public output::RowWriter {
  public:
    TotalsText(SizeUnits units, std::int32_t levels, std::string start)
        : units_(units), levels_(levels), start_(std::move(start)) {}

    void Row(const output::DirRow& row) override {
        auto depth = static_cast<std::size_t>(row.Depth);
        // In front of a name: the start directory's path at the top, else its
        // parent's path, name and a separator, in the report's text.
        if (depth == 0) {
            front_ = start_;
            ends_.assign(1, front_.size());
            name_.clear();
            native_.clear();
        } else if (row.More == 0) {
            runtime::NameFromUtf8(row.Name, name_, native_);
        }
        front_.resize(ends_[depth]);
        const std::string& front = front_;
        if (row.More > 0) {
            std::string label = "... and " + std::to_string(row.More) + " more";
            PrintDirLine({.Path = front,
                          .Level = row.Depth,
                          .SiblingCount = row.Siblings,
                          .Id = row.Id,
                          .FileCount = row.TotalFiles,
                          .FileBytes = row.TotalBytes,
                          .Totals = true,
                          .ShareTenths = row.ShareTenths,
                          .Units = units_,
                          .Label = label});
            return;
        }
        runtime::StdOut().NoteName(name_, native_);
        PrintDirLine({.Path = front,
                      .Name = name_,
                      .Level = row.Depth,
                      .SiblingCount = row.Siblings,
                      .Id = row.Id,
                      .ChildCount = row.Children,
                      .FileCount = row.TotalFiles,
                      .FileBytes = row.TotalBytes,
                      .Totals = true,
                      .ShareTenths = row.ShareTenths,
                      .Units = units_});
        std::int32_t below = runtime::CheckedAdd<std::int32_t>(row.Depth, 1);
        // The depth limit hides the subdirectories: one notice says so.
        if (below >= levels_ && row.Subdirs > 0 && !TreeOnly) PrintDepthNotice(below);
        if (row.Children == 0) return;
        front_ += name_;
        if (!front_.empty() && front_.back() != runtime::PathSeparator())
            front_ += runtime::PathSeparator();
        ends_.resize(depth + 2);
        ends_[depth + 1] = front_.size();
    }

  private:
    SizeUnits units_;
    std::int32_t levels_;
    std::string start_;
    // What stands in front of a name at each level: the innermost one's
    // text, and where each level's ends (one string: a chain a million deep
    // would hold the square of its depth in copies).
    std::string front_;
    std::vector<std::size_t> ends_;
    std::string name_;
    std::string native_;
};

} // namespace

std::unique_ptr<output::RowWriter> NewTotalsText(SizeUnits units, std::int32_t levels,
                                                 std::string start) {
    return std::make_unique<TotalsText>(units, levels, std::move(start));
}

} // namespace kelpo32::report
