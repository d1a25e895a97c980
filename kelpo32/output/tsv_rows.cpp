// TSV: each row one line of TAB-separated fields, for sort and diff. The
// bytes of the path and the problem are kept except those that would split
// a line or a field.
#include "kelpo32/output/fields.h"
#include "kelpo32/output/row_writers.h"
#include "runtime/textout.h"

#include <cmath>
#include <string>

namespace kelpo32::output {

namespace {

class TsvRows final : public RowWriter {
  public:
    void Row(const DirRow& row) override {
        if (row.More > 0) return;
        line_.clear();
        if (row.Growth) {
            // Bytes now, the changes of a day, a week, a month and the rate
            // per day (empty where not known), the mark and the path.
            Field(row.TotalBytes);
            for (std::int64_t n : row.Changes) {
                if (n != tree::GrowthCells::Unknown) AppendNumber(line_, n);
                line_ += '\t';
            }
            if (row.RateKnown) AppendNumber(line_, std::llround(row.Rate));
            line_ += '\t';
            line_ += row.State == tree::Mark::New    ? "new"
                     : row.State == tree::Mark::Gone ? "gone"
                                                     : "";
            line_ += '\t';
            AppendTsvPath(line_, row.Path);
        } else if (row.Compared) {
            for (std::int64_t n : {row.TotalBytes, row.OldBytes, row.TotalBytes - row.OldBytes,
                                   row.TotalFiles, row.OldFiles, row.TotalFiles - row.OldFiles})
                Field(n);
            line_ += row.State == tree::Mark::New    ? "new"
                     : row.State == tree::Mark::Gone ? "gone"
                                                     : "";
            line_ += '\t';
            AppendTsvPath(line_, row.Path);
        } else {
            for (std::int64_t n : {row.TotalBytes, row.TotalFiles, row.Bytes, row.Files})
                Field(n);
            AppendTsvPath(line_, row.Path);
            line_ += '\t';
            if (row.Problem != walk::DirProblem::None) {
                if (row.Partial) line_ += "partial: ";
                AppendTsvPath(line_, row.Reason);
            }
        }
        line_ += '\n';
        runtime::StdOut().Write(line_);
    }

  private:
    void Field(std::int64_t n) {
        AppendNumber(line_, n);
        line_ += '\t';
    }

    std::string line_;
};

} // namespace

std::unique_ptr<RowWriter> NewTsvRows() {
    return std::make_unique<TsvRows>();
}

} // namespace kelpo32::output
