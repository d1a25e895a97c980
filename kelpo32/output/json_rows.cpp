// JSON Lines: each row one object on its line.
#include "kelpo32/output/fields.h"
#include "kelpo32/output/jsontext.h"
#include "kelpo32/output/row_writers.h"
#include "runtime/textout.h"

#include <string>

namespace kelpo32::output {

namespace {

class JsonRows final : public RowWriter {
  public:
    void Row(const DirRow& row) override {
        // A "more" row names its parent: it is no directory of that path.
        line_ = row.More > 0 && !row.Compared ? "{\"parent\":\"" : "{\"path\":\"";
        AppendJsonString(line_, row.Path, true);
        line_ += '"';
        Member(",\"depth\":", row.Depth);
        if (row.Compared) {
            Member(",\"bytes\":", row.TotalBytes);
            Member(",\"old_bytes\":", row.OldBytes);
            Member(",\"change\":", row.TotalBytes - row.OldBytes);
            Member(",\"files\":", row.TotalFiles);
            Member(",\"old_files\":", row.OldFiles);
            Member(",\"files_change\":", row.TotalFiles - row.OldFiles);
            if (row.State != tree::Mark::Both)
                line_ +=
                    row.State == tree::Mark::New ? ",\"state\":\"new\"" : ",\"state\":\"gone\"";
        } else if (row.More > 0) {
            Member(",\"more\":", row.More);
            Totals(row);
        } else {
            Member(",\"files\":", row.Files);
            Member(",\"bytes\":", row.Bytes);
            Member(",\"dirs\":", row.Subdirs);
            Totals(row);
            // Listed but not read or not entered: why, in a few words.
            if (row.Problem != walk::DirProblem::None) {
                line_ += ",\"error\":\"";
                AppendJsonString(line_, row.Reason, true);
                line_ += '"';
                // The counts are those read before the listing failed.
                if (row.Partial) line_ += ",\"partial\":true";
            }
        }
        line_ += "}\n";
        runtime::StdOut().Write(line_);
    }

    // A comparison's last line: the directories it left out as unchanged.
    void Unchanged(std::int64_t count) override {
        line_.clear();
        Member("{\"unchanged\":", count);
        line_ += "}\n";
        runtime::StdOut().Write(line_);
    }

  private:
    void Member(const char* name, std::int64_t value) {
        line_ += name;
        AppendNumber(line_, value);
    }
    void Totals(const DirRow& row) {
        Member(",\"total_files\":", row.TotalFiles);
        Member(",\"total_bytes\":", row.TotalBytes);
        Member(",\"total_dirs\":", row.TotalDirs);
    }

    std::string line_;
};

} // namespace

std::unique_ptr<RowWriter> NewJsonRows() {
    return std::make_unique<JsonRows>();
}

} // namespace kelpo32::output
