// JSON Lines: one object per directory the report lists, written when its
// subtree is done (children before their parent, the start directory last).
#include "kelpo32/exports.h"
#include "kelpo32/jsontext.h"
#include "kelpo32/state.h"
#include "kelpo32/subtree.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <charconv>
#include <string>

namespace kelpo32 {

namespace {

std::string Line;

void Member(const char* name, std::int64_t value) {
    Line += name;
    AppendNumber(Line, value);
}

void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) {
    SubtreeTotals totals = SubtreeLeave();
    // Like the report's lines: only the levels it lists; totals count all.
    if (dir.Level >= MaxDepth) return;
    Line = "{\"path\":\"";
    AppendJsonString(Line, SubtreePath(), true);
    Line += '"';
    Member(",\"depth\":", dir.Level);
    Member(",\"files\":", listing.FileCount);
    Member(",\"bytes\":", listing.FileBytes);
    Member(",\"dirs\":", listing.ChildCount);
    Member(",\"total_files\":", totals.TotalFiles);
    Member(",\"total_bytes\":", total);
    Member(",\"total_dirs\":", totals.TotalDirs);
    // Listed but not read or not entered: why, in a few words.
    if (listing.Problem != DirProblem::None) {
        Line += ",\"error\":\"";
        AppendJsonString(Line, listing.Reason, true);
        Line += '"';
        // The counts are those read before the listing failed.
        if (listing.Partial) Line += ",\"partial\":true";
    }
    Line += "}\n";
    runtime::StdOut().Write(Line);
}

const Export Json{.Begin = SubtreeStart, .Events = {.DirListed = SubtreeEnter, .DirDone = DirDone}};

} // namespace

const Export& JsonLinesExport() {
    return Json;
}

std::string ExportStartPath() {
    if (StartDir.empty()) return ".";
    std::string path;
    runtime::AppendUtf8Name(path, StartDir, StartNative);
    return path;
}

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, res.ptr);
}

} // namespace kelpo32
