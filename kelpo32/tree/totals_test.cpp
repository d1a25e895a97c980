// The tree of directories and the layout of totals against a model computed
// from the tree itself: random trees in memory, walked and written in every
// form for every combination of sort key, minimum size, top-N and depth
// limit.
#include "kelpo32/conventions.h"
#include "kelpo32/output/html/html_export.h"
#include "kelpo32/output/layouts.h"
#include "kelpo32/output/row_writers.h"
#include "kelpo32/report/largest.h"
#include "kelpo32/report/row_text.h"
#include "kelpo32/state.h"
#include "kelpo32/testing/memory_source.h"
#include "kelpo32/testing/recorded_walk.h"
#include "kelpo32/testing/test_support.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/walk/source.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace kelpo32::tree {
namespace {

using testing::MemorySource;
using Node = testing::MemorySource::Node;

// Few names and sizes, so that equal sizes, counts and names meet.
void Grow(testing::MemorySource& src, std::mt19937& rng, const std::string& at, int depth) {
    const char* names[] = {"a", "b", "B", "ab", "c"};
    const std::uint64_t sizes[] = {0, 1, 7, 100, 1000};
    int files = static_cast<int>(rng() % 4);
    for (int f = 0; f < files; ++f)
        src.Add(at + "f" + std::to_string(f) + "=" + std::to_string(sizes[rng() % 5]));
    if (depth == 4) return;
    std::vector<std::string> pick(std::begin(names), std::end(names));
    std::shuffle(pick.begin(), pick.end(), rng);
    pick.resize(rng() % (depth == 0 ? 6 : 4));
    for (const std::string& n : pick) {
        src.Add(at + n + "/");
        Grow(src, rng, at + n + "/", depth + 1);
    }
}

struct Sums {
    std::int64_t Files = 0, Bytes = 0, Dirs = 0;
};

Sums SumOf(const Node& n) {
    Sums s;
    for (const Node* c : n.Children) {
        if (!c->Dir) {
            ++s.Files;
            s.Bytes += static_cast<std::int64_t>(c->Size);
            continue;
        }
        Sums b = SumOf(*c);
        s.Files += b.Files;
        s.Bytes += b.Bytes;
        s.Dirs += b.Dirs + 1;
    }
    return s;
}

std::int64_t Tenths(std::int64_t part, std::int64_t whole) {
    return whole == 0 ? 0 : (part * 2000 + whole) / (2 * whole);
}

// A row the layout must list: a directory (More 0) or the "... and M more"
// of its parent. The layout writes no depth notices.
struct ModelRow {
    int Level = 0;
    std::string Name;
    std::string Path; // as the exports write it; a "more" row's is its parent's
    Sums Own;         // its files and bytes, Dirs its subdirectories
    Sums Total;
    std::int64_t Share = 0;
    std::int64_t More = 0;
    std::int64_t Folded = 0; // directories below it without a row
};

Sums OwnOf(const Node& n) {
    Sums s;
    for (const Node* c : n.Children) {
        if (c->Dir) {
            ++s.Dirs;
        } else {
            ++s.Files;
            s.Bytes += static_cast<std::int64_t>(c->Size);
        }
    }
    return s;
}

// The rows of the layout of totals, in its order.
void Model(const Node& n, const std::string& name, const std::string& path, int level,
           std::int64_t parentBytes, const Selection& sel, std::vector<ModelRow>& rows,
           std::int64_t& listed) {
    Sums s = SumOf(n);
    std::size_t mine = rows.size();
    rows.push_back(
        {level, name, path, OwnOf(n), s, level == 0 ? 1000 : Tenths(s.Bytes, parentBytes)});
    rows.back().Folded = s.Dirs;
    ++listed;
    struct Child {
        const Node* N;
        Sums S;
        int Id;
    };
    std::vector<Child> kids;
    int id = 0;
    for (const Node* c : n.Children)
        if (c->Dir) kids.push_back({c, SumOf(*c), ++id});
    if (level + 1 >= sel.Levels) return;
    std::erase_if(kids, [&](const Child& k) { return k.S.Bytes < sel.MinSize; });
    std::stable_sort(kids.begin(), kids.end(), [](const Child& a, const Child& b) {
        return a.S.Bytes != b.S.Bytes ? a.S.Bytes > b.S.Bytes : a.N->Name < b.N->Name;
    });
    std::vector<Child> more;
    if (sel.Top > 0 && kids.size() > static_cast<std::size_t>(sel.Top)) {
        more.assign(kids.begin() + sel.Top, kids.end());
        kids.resize(static_cast<std::size_t>(sel.Top));
    }
    auto key = [&](const Child& k) -> std::tuple<std::int64_t, std::string, int> {
        switch (sel.Sort) {
        case tree::SortKey::Size:
            return {-k.S.Bytes, k.N->Name, 0};
        case tree::SortKey::Files:
            return {-k.S.Files, k.N->Name, 0};
        case tree::SortKey::Name:
            return {0, k.N->Name, 0};
        default:
            return {0, "", k.Id};
        }
    };
    std::sort(kids.begin(), kids.end(),
              [&](const Child& a, const Child& b) { return key(a) < key(b); });
    std::string inner = path;
    if (inner.back() != runtime::PathSeparator()) inner += runtime::PathSeparator();
    for (const Child& k : kids) {
        rows[mine].Folded -= k.S.Dirs + 1;
        Model(*k.N, k.N->Name, inner + k.N->Name, level + 1, s.Bytes, sel, rows, listed);
    }
    if (more.empty()) return;
    Sums m;
    for (const Child& k : more) {
        m.Files += k.S.Files;
        m.Bytes += k.S.Bytes;
        m.Dirs += k.S.Dirs + 1;
    }
    rows.push_back({level + 1,
                    "",
                    path,
                    {},
                    m,
                    Tenths(m.Bytes, s.Bytes),
                    static_cast<std::int64_t>(more.size())});
}

// The report's rows: "level name files bytes share".
std::vector<std::string> TextOf(const std::vector<ModelRow>& rows) {
    std::vector<std::string> text;
    for (const ModelRow& r : rows) {
        std::ostringstream row;
        if (r.More > 0)
            row << r.Level << " ... and " << r.More << " more " << r.Total.Files << " "
                << r.Total.Bytes << " " << r.Share;
        else
            row << r.Level << " " << r.Name << " " << r.Total.Files << " " << r.Total.Bytes << " "
                << r.Share;
        text.push_back(row.str());
    }
    return text;
}

// JSON Lines and TSV as the exports write the rows (both escape a backslash).
std::string LinesOf(const std::vector<ModelRow>& rows, bool json) {
    std::ostringstream out;
    for (ModelRow r : rows) {
        if (r.More > 0 && !json) continue;
        for (std::size_t at = r.Path.find('\\'); at != std::string::npos;
             at = r.Path.find('\\', at + 2))
            r.Path.insert(at, 1, '\\');
        const Sums& t = r.Total;
        if (!json)
            out << t.Bytes << "\t" << t.Files << "\t" << r.Own.Bytes << "\t" << r.Own.Files << "\t"
                << r.Path << "\t\n";
        else if (r.More > 0)
            out << "{\"parent\":\"" << r.Path << "\",\"depth\":" << r.Level
                << ",\"more\":" << r.More << ",\"total_files\":" << t.Files
                << ",\"total_bytes\":" << t.Bytes << ",\"total_dirs\":" << t.Dirs << "}\n";
        else
            out << "{\"path\":\"" << r.Path << "\",\"depth\":" << r.Level
                << ",\"files\":" << r.Own.Files << ",\"bytes\":" << r.Own.Bytes
                << ",\"dirs\":" << r.Own.Dirs << ",\"total_files\":" << t.Files
                << ",\"total_bytes\":" << t.Bytes << ",\"total_dirs\":" << t.Dirs << "}\n";
    }
    return out.str();
}

// The printed report read back into rows: the level from the width of the
// glyphs in front, the name up to its dashes, the numbers after the marker.
std::vector<std::string> Printed(const std::string& text) {
    std::vector<std::string> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line == "Kelpo32") continue;
        std::size_t marker = line.find('>');
        if (marker == std::string::npos) {
            rows.push_back(std::to_string(std::count(line.begin(), line.end(), '|') + 1) + " ...");
            continue;
        }
        std::size_t branch = line.find('\x97');
        int level = branch == std::string::npos ? 0 : static_cast<int>(branch + 3) / 4;
        std::size_t from = branch == std::string::npos ? 0 : branch + 1;
        std::string name = line.substr(from, marker - from);
        while (!name.empty() && (name.back() == '-' || name.back() == ' '))
            name.pop_back();
        std::istringstream numbers(line.substr(marker + 1));
        std::string files, bytes, share;
        numbers >> files >> bytes >> share;
        std::erase(files, ',');
        std::erase(bytes, ',');
        std::erase(share, '.');
        share.pop_back(); // "%"
        rows.push_back(std::to_string(level) + " " + name + " " + files + " " + bytes + " " +
                       std::to_string(std::stoi(share)));
    }
    return rows;
}

// A walk of `src` into `consumer`, on one thread or several.
void WalkInto(testing::MemorySource& src, walk::WalkConsumer& consumer, int threads) {
    walk::WalkOptions options;
    options.Threads = threads;
    walk::WalkTreeFrom(src, walk::WalkLimits{}, "", "", options, consumer);
}

std::string Captured(walk::WalkConsumer& layout, const testing::RecordedWalk& walk) {
    testing::PrepareReport(120);
    walk.Replay(layout);
    runtime::StdOut().Flush();
    return testing::Captured();
}

// Every form's rows of the layout of totals against the model: the text's
// lines, JSON Lines, TSV and the page's directories.
TEST(TotalsTest, EveryFormListsWhatTheModelListsForEveryCombination) {
    std::mt19937 rng(25);
    const std::string start = ".";
    for (int round = 0; round < 12; ++round) {
        testing::MemorySource src;
        src.Add("f=3");
        Grow(src, rng, "", 0);
        Sums whole = SumOf(src.At(""));
        const int threads = 1 + round % 3;
        testing::RecordedWalk events;
        WalkInto(src, events, threads);
        for (tree::SortKey sort :
             {tree::SortKey::None, tree::SortKey::Size, tree::SortKey::Files, tree::SortKey::Name})
            for (std::int64_t minSize : {0, 101})
                for (std::int32_t top : {0, 1, 2})
                    for (std::int32_t maxDepth : {NoDepthLimit, 3}) {
                        Selection sel{
                            .Sort = sort, .MinSize = minSize, .Top = top, .Levels = maxDepth};
                        std::ostringstream where;
                        where << "round " << round << " sort " << static_cast<int>(sort) << " min "
                              << minSize << " top " << top << " depth " << maxDepth;
                        SCOPED_TRACE(where.str());
                        std::vector<ModelRow> rows;
                        std::int64_t listed = 0;
                        Model(src.At(""), PlatformConventions().DotForCurrentDir ? "." : "ROOT",
                              start, 0, 0, sel, rows, listed);

                        TreeBuilder tree(sel);
                        WalkInto(src, tree, threads);
                        ASSERT_NE(tree.Root(), NoDir);
                        const DirRecord& root = tree.Tree().At(tree.Root());
                        // Every total is the whole tree's, whatever is listed.
                        EXPECT_EQ(root.TotalFiles(), whole.Files);
                        EXPECT_EQ(root.TotalBytes, whole.Bytes);
                        EXPECT_EQ(root.TotalDirs, whole.Dirs);
                        // One record per listed directory, no more.
                        EXPECT_EQ(tree.Records(), listed);

                        const output::RunStart at{"", "", start};
                        auto totals = [&](std::unique_ptr<output::RowWriter> writer) {
                            tree::BuiltTree built(
                                std::make_unique<output::TotalsLayout>(sel, at, std::move(writer)));
                            return Captured(built, events);
                        };
                        EXPECT_EQ(
                            Printed(totals(report::NewTotalsText(output::SizeUnits::Exact, ""))),
                            TextOf(rows));
                        EXPECT_EQ(totals(output::NewJsonRows()), LinesOf(rows, true));
                        EXPECT_EQ(totals(output::NewTsvRows()), LinesOf(rows, false));

                        output::html::HtmlRun run;
                        run.StartPath = start;
                        auto made =
                            std::make_unique<output::html::HtmlExport>(runtime::StdOut(), run, sel);
                        output::html::HtmlExport& page = *made;
                        tree::BuiltTree built(std::move(made));
                        Captured(built, events);
                        std::vector<std::int32_t> atLevel;
                        std::size_t k = 0;
                        const std::vector<output::html::HtmlDir>& dirs = page.Dirs();
                        for (const ModelRow& r : rows) {
                            if (r.More > 0) continue;
                            ASSERT_LT(k, dirs.size());
                            const output::html::HtmlDir& d = dirs[k];
                            atLevel.resize(static_cast<std::size_t>(r.Level) + 1);
                            atLevel.back() = static_cast<std::int32_t>(k++);
                            std::int32_t parent =
                                r.Level == 0 ? -1 : atLevel[static_cast<std::size_t>(r.Level) - 1];
                            EXPECT_EQ(std::tuple(d.Parent, d.Name, d.Files, d.Bytes, d.TotalFiles,
                                                 d.TotalBytes, d.Folded),
                                      std::tuple(parent, r.Level == 0 ? start : r.Name, r.Own.Files,
                                                 r.Own.Bytes, r.Total.Files, r.Total.Bytes,
                                                 r.Folded))
                                << r.Path;
                        }
                        EXPECT_EQ(k, dirs.size());
                    }
    }
}

// The files of the tree, largest first and equal sizes in path order, as the
// walk names them.
void Files(const Node& n, std::vector<report::LargestFiles::File>& out) {
    for (const Node* c : n.Children) {
        if (c->Dir) {
            Files(*c, out);
            continue;
        }
        std::string path = c->Path;
        std::replace(path.begin(), path.end(), '/', runtime::PathSeparator());
        out.push_back({c->Size, path});
    }
}

TEST(TotalsTest, LargestFilesAreTheModelsAtEveryThreadCount) {
    testing::PrepareReport(120); // the list is written at the end
    std::mt19937 rng(31);
    for (int round = 0; round < 8; ++round) {
        testing::MemorySource src;
        src.Add("f=7");
        Grow(src, rng, "", 0);
        std::vector<report::LargestFiles::File> all;
        Files(src.At(""), all);
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
            return a.Bytes != b.Bytes ? a.Bytes > b.Bytes : a.Path < b.Path;
        });
        for (std::int32_t count : {1, 3, 10})
            for (std::int32_t threads : {1, 3}) {
                report::LargestFiles largest(count, false);
                walk::WalkOptions options;
                options.Threads = threads;
                // Parts of three entries: the floor rises while listings go on.
                walk::WalkTreeFrom(src, walk::WalkLimits{3, 200, 1500, 100, 3}, "", "", options,
                                   largest);
                std::vector<report::LargestFiles::File> want(
                    all.begin(), all.begin() + std::min<std::ptrdiff_t>(count, std::ssize(all)));
                std::vector<report::LargestFiles::File> got = largest.Sorted();
                ASSERT_EQ(got.size(), want.size()) << round << " " << count << " " << threads;
                for (std::size_t i = 0; i < want.size(); ++i) {
                    EXPECT_EQ(got[i].Bytes, want[i].Bytes) << round << " " << count << " " << i;
                    EXPECT_EQ(got[i].Path, want[i].Path) << round << " " << count << " " << i;
                }
            }
    }
}

TEST(TotalsTest, ShareIsRoundedAndNeverOverflows) {
    EXPECT_EQ(ShareTenths(0, 0), 0);
    EXPECT_EQ(ShareTenths(1, 3), 333);
    EXPECT_EQ(ShareTenths(2, 3), 667);
    EXPECT_EQ(ShareTenths(INT64_MAX, INT64_MAX), 1000);
    EXPECT_EQ(ShareTenths(INT64_MAX / 2, INT64_MAX), 500);
}

} // namespace
} // namespace kelpo32::tree
