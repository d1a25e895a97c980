// JSON Lines: one object per directory the report lists, written when its
// subtree is done (children before their parent, the start directory last).
#include "kelpo32/output/exports.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/output/jsontext.h"
#include "kelpo32/output/subtree.h"
#include "kelpo32/state.h"
#include "runtime/textout.h"

#include <string>

namespace kelpo32::output {

namespace {

class JsonLinesExport final : public walk::WalkConsumer {
  public:
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        open_.Enter(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;

  private:
    void Member(const char* name, std::int64_t value) {
        line_ += name;
        AppendNumber(line_, value);
    }

    SubtreeStack open_{ExportStartPath()};
    std::string line_;
};

void JsonLinesExport::DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                              std::int64_t total) {
    SubtreeTotals totals = open_.Leave();
    // Like the report's lines: only the levels it lists; totals count all.
    if (dir.Level >= MaxDepth) return;
    line_ = "{\"path\":\"";
    AppendJsonString(line_, open_.Path(), true);
    line_ += '"';
    Member(",\"depth\":", dir.Level);
    Member(",\"files\":", listing.FileCount);
    Member(",\"bytes\":", listing.FileBytes);
    Member(",\"dirs\":", listing.ChildCount);
    Member(",\"total_files\":", totals.TotalFiles);
    Member(",\"total_bytes\":", total);
    Member(",\"total_dirs\":", totals.TotalDirs);
    // Listed but not read or not entered: why, in a few words.
    if (listing.Problem != walk::DirProblem::None) {
        line_ += ",\"error\":\"";
        AppendJsonString(line_, listing.Reason, true);
        line_ += '"';
        // The counts are those read before the listing failed.
        if (listing.Partial) line_ += ",\"partial\":true";
    }
    line_ += "}\n";
    runtime::StdOut().Write(line_);
}

} // namespace

std::unique_ptr<walk::WalkConsumer> NewJsonLinesExport() {
    return std::make_unique<JsonLinesExport>();
}

} // namespace kelpo32::output
