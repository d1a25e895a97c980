// TSV: one line per directory the report lists, in the order of JSON Lines:
// total bytes, total files, bytes, files, path and the directory's problem
// (empty, or why it was not read whole), TAB-separated, for sort and diff.
// The bytes of the path and the problem are kept except those that would
// split a line or a field.
#include "kelpo32/output/exports.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/output/subtree.h"
#include "kelpo32/state.h"
#include "runtime/textout.h"

#include <string>

namespace kelpo32::output {

namespace {

class TsvExport final : public walk::WalkConsumer {
  public:
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        open_.Enter(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;

  private:
    SubtreeStack open_{ExportStartPath()};
    std::string line_;
};

void TsvExport::DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                        std::int64_t total) {
    SubtreeTotals totals = open_.Leave();
    if (dir.Level >= MaxDepth) return;
    line_.clear();
    AppendNumber(line_, total);
    line_ += '\t';
    AppendNumber(line_, totals.TotalFiles);
    line_ += '\t';
    AppendNumber(line_, listing.FileBytes);
    line_ += '\t';
    AppendNumber(line_, listing.FileCount);
    line_ += '\t';
    AppendTsvPath(line_, open_.Path());
    line_ += '\t';
    if (listing.Problem != walk::DirProblem::None) {
        if (listing.Partial) line_ += "partial: ";
        AppendTsvPath(line_, listing.Reason);
    }
    line_ += '\n';
    runtime::StdOut().Write(line_);
}

} // namespace

std::unique_ptr<walk::WalkConsumer> NewTsvExport() {
    return std::make_unique<TsvExport>();
}

} // namespace kelpo32::output
