// TSV: one line per directory the report lists, in the order of JSON Lines:
// total bytes, total files, bytes, files and path, TAB-separated, for sort and
// diff. The path's bytes are kept except those that would split a line or a
// field.
#include "kelpo32/exports.h"
#include "kelpo32/state.h"
#include "kelpo32/subtree.h"
#include "runtime/textout.h"

#include <string>

namespace kelpo32 {

namespace {

std::string Line;

} // namespace

void AppendTsvPath(std::string& out, std::string_view path) {
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

namespace {

void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) {
    SubtreeTotals totals = SubtreeLeave();
    if (dir.Level >= MaxDepth) return;
    Line.clear();
    AppendNumber(Line, total);
    Line += '\t';
    AppendNumber(Line, totals.TotalFiles);
    Line += '\t';
    AppendNumber(Line, listing.FileBytes);
    Line += '\t';
    AppendNumber(Line, listing.FileCount);
    Line += '\t';
    AppendTsvPath(Line, SubtreePath());
    Line += '\n';
    runtime::StdOut().Write(Line);
}

const Export Tsv{.Begin = SubtreeStart, .Events = {.DirListed = SubtreeEnter, .DirDone = DirDone}};

} // namespace

const Export& TsvExport() {
    return Tsv;
}

} // namespace kelpo32
