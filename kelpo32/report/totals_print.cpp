// The layout of totals as text: the records of a TotalsTree drawn through the
// report's own lines, parents before their children.
#include "kelpo32/report/report.h"
#include "kelpo32/state.h"
#include "kelpo32/tree/totals.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <string>

namespace kelpo32::report {

namespace {

struct Printer {
    SizeUnits Units;

    // `path` is what stands in front of the directory's name.
    void Print(const tree::TotalsDir& d, const std::string& path, std::int32_t level,
               std::int32_t id, std::int32_t siblings, std::int64_t parentBytes) {
        std::int32_t lines = runtime::CheckedAdd<std::int32_t>(
            runtime::CheckedRange<std::int32_t>(d.Children.size()), d.MoreCount > 0 ? 1 : 0);
        runtime::StdOut().NoteName(d.Name, d.Native);
        PrintDirLine(
            {.Path = path,
             .Name = d.Name,
             .Level = level,
             .SiblingCount = siblings,
             .Id = id,
             .ChildCount = lines,
             .FileCount = d.Total.Files,
             .FileBytes = d.Total.Bytes,
             .Totals = true,
             .ShareTenths = level == 0 ? 1000 : tree::ShareTenths(d.Total.Bytes, parentBytes),
             .Units = Units});
        std::int32_t below = runtime::CheckedAdd<std::int32_t>(level, 1);
        // The depth limit hides the subdirectories: one notice says so.
        if (below >= MaxDepth && d.ChildCount > 0 && !TreeOnly) PrintDepthNotice(below);
        if (lines == 0) return;
        std::string inner = path + d.Name;
        if (!inner.empty() && inner.back() != runtime::PathSeparator())
            inner += runtime::PathSeparator();
        std::int32_t n = 0;
        for (const tree::TotalsDir& c : d.Children)
            Print(c, inner, below, ++n, lines, d.Total.Bytes);
        if (d.MoreCount == 0) return;
        std::string label = "... and " + std::to_string(d.MoreCount) + " more";
        PrintDirLine({.Path = inner,
                      .Level = below,
                      .SiblingCount = lines,
                      .Id = lines,
                      .FileCount = d.More.Files,
                      .FileBytes = d.More.Bytes,
                      .Totals = true,
                      .ShareTenths = tree::ShareTenths(d.More.Bytes, d.Total.Bytes),
                      .Units = Units,
                      .Label = label});
    }
};

} // namespace

void PrintTotals(const tree::TotalsTree& tree, SizeUnits units) {
    const tree::TotalsDir* root = tree.Root();
    if (root == nullptr) return;
    Printer{units}.Print(*root, tree.StartPath(), 0, 0, 0, root->Total.Bytes);
}

} // namespace kelpo32::report
