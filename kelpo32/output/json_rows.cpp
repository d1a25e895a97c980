// JSON Lines: each row one object on its line.
#include "kelpo32/output/fields.h"
#include "kelpo32/output/jsontext.h"
#include "kelpo32/output/row_writers.h"
#include "kelpo32/saved/scan_time.h"
#include "runtime/textout.h"

#include <cmath>
#include <string>

namespace kelpo32::output {

namespace {

class JsonRows final : public RowWriter {
  public:
    explicit JsonRows(runtime::TextOut& out) : out_(out) {}

    void Row(const DirRow& row) override {
        // A "more" row names its parent: it is no directory of that path.
        line_ = row.More > 0 && !row.Compared ? "{\"parent\":\"" : "{\"path\":\"";
        AppendJsonString(line_, row.Path, true);
        line_ += '"';
        Member(",\"depth\":", row.Depth);
        if (row.Growth) {
            Member(",\"bytes\":", row.TotalBytes);
            static constexpr const char* Spans[] = {",\"day\":", ",\"week\":", ",\"month\":"};
            for (std::size_t i = 0; i < 3; ++i)
                Maybe(Spans[i], row.Changes[i] != tree::GrowthCells::Unknown, row.Changes[i]);
            Maybe(",\"per_day\":", row.RateKnown, row.RateKnown ? std::llround(row.Rate) : 0);
            State(row.State);
        } else if (row.Compared) {
            Member(",\"bytes\":", row.TotalBytes);
            Member(",\"old_bytes\":", row.OldBytes);
            Member(",\"change\":", row.TotalBytes - row.OldBytes);
            Member(",\"files\":", row.TotalFiles);
            Member(",\"old_files\":", row.OldFiles);
            Member(",\"files_change\":", row.TotalFiles - row.OldFiles);
            State(row.State);
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
        out_.Write(line_);
    }

    // A comparison's last line: the directories it left out as unchanged.
    void Unchanged(std::int64_t count) override {
        line_.clear();
        Member("{\"unchanged\":", count);
        line_ += "}\n";
        out_.Write(line_);
    }

    // A growth's first line: the file system and its forecast.
    void Growth(const GrowthHead& h) override {
        line_ = "{\"now\":\"" + saved::UtcText(h.Now) + "\"";
        Member(",\"window_seconds\":", h.Window);
        Member(",\"span_seconds\":", h.Span);
        Member(",\"scans\":", h.Scans);
        Maybe(",\"fs_size\":", h.FsSize >= 0, h.FsSize);
        Maybe(",\"fs_free\":", h.FsFree >= 0, h.FsFree);
        Maybe(",\"free_per_day\":", h.RateKnown, h.RateKnown ? std::llround(h.FreeRate) : 0);
        line_ += h.FullAt >= 0 ? ",\"full\":\"" + saved::UtcText(h.FullAt) + "\"}\n"
                               : ",\"full\":null}\n";
        out_.Write(line_);
    }

  private:
    void Maybe(const char* name, bool known, std::int64_t value) {
        if (known)
            Member(name, value);
        else
            line_.append(name).append("null");
    }
    void State(tree::Mark state) {
        if (state != tree::Mark::Both)
            line_ += state == tree::Mark::New ? ",\"state\":\"new\"" : ",\"state\":\"gone\"";
    }
    void Member(const char* name, std::int64_t value) {
        line_ += name;
        AppendNumber(line_, value);
    }
    void Totals(const DirRow& row) {
        Member(",\"total_files\":", row.TotalFiles);
        Member(",\"total_bytes\":", row.TotalBytes);
        Member(",\"total_dirs\":", row.TotalDirs);
    }

    runtime::TextOut& out_;
    std::string line_;
};

} // namespace

std::unique_ptr<RowWriter> NewJsonRows() {
    return std::make_unique<JsonRows>(runtime::StdOut());
}

std::unique_ptr<RowWriter> NewJsonRows(runtime::TextOut& out) {
    return std::make_unique<JsonRows>(out);
}

} // namespace kelpo32::output
