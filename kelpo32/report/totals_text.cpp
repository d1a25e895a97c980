// The layout of totals as text: its rows drawn through the report's own
// lines, parents before their children.
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/report/report.h"
#include "kelpo32/report/row_text.h"
#include "kelpo32/state.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kelpo32::report {

namespace {

// The width of a field that holds `widest` columns and a blank before them.
std::int32_t FieldFor(std::size_t widest) {
    return static_cast<std::int32_t>(std::min<std::size_t>(widest + 1, 64));
}

class TotalsText final : public output::RowWriter {
  public:
    TotalsText(output::SizeUnits units, std::string start)
        : units_(units), start_(std::move(start)) {}

    bool Measures() const override { return true; }

    void Measure(const output::DirRow& row) override {
        countWidth_ = std::max(countWidth_, Thousands(row.TotalFiles).Text().size());
        sizeWidth_ = std::max(sizeWidth_, output::FormatSize(row.TotalBytes, units_).size());
    }

    void Row(const output::DirRow& row) override {
        auto depth = static_cast<std::size_t>(row.Depth);
        // In front of a name: the start directory's path at the top, else its
        // parent's path, name and a separator, in the report's text.
        if (depth == 0) {
            front_ = start_;
            ends_.assign(1, runtime::CheckedRange<std::uint32_t>(front_.size()));
            name_.clear();
            native_.clear();
        } else if (row.More == 0) {
            runtime::NameFromUtf8(row.Name, name_, native_);
        }
        front_.resize(ends_[depth]);
        // The "... and M more" line of a directory's other subdirectories
        // has a label in place of a name, and nothing below it.
        const bool more = row.More > 0;
        std::string label = more ? "... and " + std::to_string(row.More) + " more" : std::string();
        if (!more) runtime::StdOut().NoteName(name_, native_);
        PrintDirLine({.Path = front_,
                      .Name = more ? std::string_view() : std::string_view(name_),
                      .Level = row.Depth,
                      .SiblingCount = row.Siblings,
                      .Id = row.Id,
                      .ChildCount = more ? 0 : row.Children,
                      .FileCount = row.TotalFiles,
                      .FileBytes = row.TotalBytes,
                      .Totals = true,
                      .ShareTenths = row.ShareTenths,
                      .Units = units_,
                      .Label = label,
                      .CountWidth = FieldFor(countWidth_),
                      .SizeWidth = FieldFor(sizeWidth_),
                      .Mark = more ? std::string_view() : ProblemMark(row)});
        // No depth notice below a line cut off by the depth limit: every line
        // of this layout carries its whole subtree already.
        if (more || row.Children == 0) return;
        front_ += name_;
        if (!front_.empty() && front_.back() != runtime::PathSeparator())
            front_ += runtime::PathSeparator();
        ends_.resize(depth + 2);
        ends_[depth + 1] = runtime::CheckedRange<std::uint32_t>(front_.size());
    }

  private:
    output::SizeUnits units_;
    std::string start_;
    std::size_t countWidth_ = 0; // the widest count of files, and of size, of all rows
    std::size_t sizeWidth_ = 0;
    // What stands in front of a name at each level: the innermost one's
    // text, and where each level's ends (one string: a chain a million deep
    // would hold the square of its depth in copies; 4 bytes a level).
    std::string front_;
    std::vector<std::uint32_t> ends_;
    std::string name_;
    std::string native_;
};

} // namespace

std::string_view ProblemMark(const output::DirRow& row) {
    // Not entered on purpose (another file system, a link) is no fault.
    if (row.Problem == walk::DirProblem::None || row.Problem == walk::DirProblem::OtherFileSystem ||
        row.Problem == walk::DirProblem::Link)
        return {};
    return row.Partial ? " [partial]" : " [unread]";
}

std::unique_ptr<output::RowWriter> NewTotalsText(output::SizeUnits units, std::string start) {
    return std::make_unique<TotalsText>(units, std::move(start));
}

} // namespace kelpo32::report
