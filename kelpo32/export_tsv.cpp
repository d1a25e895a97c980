// TSV: one line per directory the report lists, in the order of JSON Lines:
// total bytes, total files, bytes, files and path, TAB-separated, for sort and
// diff. The path's bytes are kept except those that would split a line or a
// field.
#include "kelpo32/export_fields.h"
#include "kelpo32/exports.h"
#include "kelpo32/state.h"
#include "kelpo32/subtree.h"
#include "runtime/textout.h"

#include <string>

namespace kelpo32 {

namespace {

void AppendPath(std::string& out, std::string_view path) {
    static constexpr char Hex[] = "0123456789abcdef";
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += Hex[c >> 4];
                out += Hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
}

class TsvExport final : public WalkConsumer {
  public:
    void DirListed(const WalkDir& dir, const WalkListing& listing) override {
        open_.Enter(dir, listing);
    }
    void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) override;

  private:
    SubtreeStack open_{ExportStartPath()};
    std::string line_;
};

void TsvExport::DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) {
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
    AppendPath(line_, open_.Path());
    line_ += '\n';
    runtime::StdOut().Write(line_);
}

} // namespace

std::unique_ptr<WalkConsumer> MakeTsvExport(const Options& /*options*/) {
    return std::make_unique<TsvExport>();
}

} // namespace kelpo32
