// JSON Lines and TSV in the layout of totals: the rows it lists, in its
// order, once the walk is done.
#include "kelpo32/output/exports.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/output/jsontext.h"
#include "kelpo32/tree/totals.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

namespace kelpo32::output {

namespace {

struct RowWriter {
    bool Json;
    std::string Line;

    void Member(const char* name, std::int64_t value) {
        Line += name;
        AppendNumber(Line, value);
    }

    void Path(const std::string& path) {
        Line = "{\"path\":\"";
        AppendJsonString(Line, path, true);
        Line += '"';
    }

    void Write(const tree::TotalsDir& d, const std::string& path, std::int32_t depth) {
        if (Json) {
            Path(path);
            Member(",\"depth\":", depth);
            Member(",\"files\":", d.FileCount);
            Member(",\"bytes\":", d.FileBytes);
            Member(",\"dirs\":", d.ChildCount);
            Member(",\"total_files\":", d.Total.Files);
            Member(",\"total_bytes\":", d.Total.Bytes);
            Member(",\"total_dirs\":", d.Total.Dirs);
            if (d.Reason) {
                Line += ",\"error\":\"";
                AppendJsonString(Line, *d.Reason, true);
                Line += '"';
                if (d.Partial) Line += ",\"partial\":true";
            }
            Line += "}\n";
        } else {
            Line.clear();
            AppendNumber(Line, d.Total.Bytes);
            Line += '\t';
            AppendNumber(Line, d.Total.Files);
            Line += '\t';
            AppendNumber(Line, d.FileBytes);
            Line += '\t';
            AppendNumber(Line, d.FileCount);
            Line += '\t';
            AppendTsvPath(Line, path);
            // The directory's problem, as the plain TSV export writes it.
            Line += '\t';
            if (d.Reason) {
                if (d.Partial) Line += "partial: ";
                AppendTsvPath(Line, *d.Reason);
            }
            Line += '\n';
        }
        runtime::StdOut().Write(Line);
        std::int32_t below = runtime::CheckedAdd<std::int32_t>(depth, 1);
        for (const tree::TotalsDir& c : d.Children) {
            std::string inner = path;
            if (!inner.empty() && inner.back() != runtime::PathSeparator())
                inner += runtime::PathSeparator();
            runtime::AppendUtf8Name(inner, c.Name, c.Native);
            Write(c, inner, below);
        }
        if (d.MoreCount == 0 || !Json) return;
        Path(path);
        Member(",\"depth\":", below);
        Member(",\"more\":", d.MoreCount);
        Member(",\"total_files\":", d.More.Files);
        Member(",\"total_bytes\":", d.More.Bytes);
        Member(",\"total_dirs\":", d.More.Dirs);
        Line += "}\n";
        runtime::StdOut().Write(Line);
    }
};

} // namespace

void WriteTotalsRows(const tree::TotalsTree& tree, bool json) {
    const tree::TotalsDir* root = tree.Root();
    if (root == nullptr) return;
    RowWriter{json, {}}.Write(*root, ExportStartPath(), 0);
}

} // namespace kelpo32::output
