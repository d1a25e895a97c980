// The comparison as text: one line per row under a heading, paged like the
// report.
#include "kelpo32/output/sizes.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/report.h"
#include "kelpo32/report/row_text.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <string>

namespace kelpo32::report {

namespace {

class CompareText final : public output::RowWriter {
  public:
    explicit CompareText(output::SizeUnits units) : units_(units) {}

    void Begin() override {
        runtime::StdOut().Write("             now          change     files       directory");
        runtime::StdOut().WriteLn();
        NextLine();
    }

    void Row(const output::DirRow& row) override {
        line_.clear();
        Field(output::FormatSize(row.TotalBytes, units_, false), 16);
        Field(output::FormatSize(row.TotalBytes - row.OldBytes, units_, true), 16);
        Field(output::FormatSize(row.TotalFiles - row.OldFiles, output::SizeUnits::Exact, true),
              10);
        WriteMarkedName(line_, row, name_, native_);
        NextLine();
    }

    void Unchanged(std::int64_t count) override {
        auto& out = runtime::StdOut();
        line_ = GroupThousands(count);
        line_ += count == 1 ? " unchanged directory not listed (--all lists it)"
                            : " unchanged directories not listed (--all lists them)";
        MakeRoom(static_cast<std::int64_t>(line_.size()));
        out.Write(line_);
        out.WriteLn();
        NextLine();
    }

  private:
    void Field(const std::string& text, std::size_t width) {
        if (text.size() < width) line_.append(width - text.size(), ' ');
        line_ += text;
    }

    output::SizeUnits units_;
    std::string line_;
    std::string name_;
    std::string native_;
};

} // namespace

void WriteMarkedName(std::string& line, const output::DirRow& row, std::string& name,
                     std::string& native) {
    auto& out = runtime::StdOut();
    line += row.State == tree::Mark::Gone  ? "  gone "
            : row.State == tree::Mark::New ? "  new  "
                                           : "       ";
    // The indent stops at the bound of the over-deep paths: a chain a
    // million deep would otherwise cost the square of its depth.
    line.append(2 * std::min(static_cast<std::size_t>(row.Depth), ShownPathLimit / 2), ' ');
    // The report's text of the name (on Windows its OEM bytes), shown on
    // a console from its native form.
    runtime::NameFromUtf8(row.Depth == 0 ? row.Path : row.Name, name, native);
    std::string_view mark = ProblemMark(row);
    MakeRoom(static_cast<std::int64_t>(line.size() + name.size() + mark.size()));
    out.Write(line);
    out.NoteName(name, native);
    out.WriteName(name);
    out.Write(mark);
    out.WriteLn();
    NextLine();
}

std::unique_ptr<output::RowWriter> NewCompareText(output::SizeUnits units) {
    return std::make_unique<CompareText>(units);
}

} // namespace kelpo32::report
