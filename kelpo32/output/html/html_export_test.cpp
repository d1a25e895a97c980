#include "kelpo32/output/html/html_export.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/testing/test_support.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <tuple>

namespace kelpo32::output::html {
namespace {

// A random tree, its directories in walk order, with few distinct sizes so
// that ties between subtrees are common.
struct ModelDir {
    std::int32_t Parent;
    std::int32_t Depth;
    std::int64_t Files;
    std::int64_t Bytes;
    std::int64_t TotalFiles = 0;
    std::int64_t TotalBytes = 0;
};

std::vector<ModelDir> RandomTree(std::mt19937& rng) {
    std::vector<ModelDir> dirs;
    std::int32_t size = std::uniform_int_distribution<std::int32_t>(1, 300)(rng);
    auto grow = [&](auto& self, std::int32_t parent, std::int32_t depth) -> void {
        static constexpr std::int64_t Sizes[] = {0, 0, 1, 7, 7, 100, 4096};
        std::int64_t bytes = Sizes[std::uniform_int_distribution<std::size_t>(0, 6)(rng)];
        auto index = static_cast<std::int32_t>(dirs.size());
        dirs.push_back({parent, depth, bytes > 0 ? 1 + bytes % 5 : 0, bytes});
        while (static_cast<std::int32_t>(dirs.size()) < size &&
               std::uniform_int_distribution<int>(0, 2)(rng) > 0)
            self(self, index, depth + 1);
    };
    while (static_cast<std::int32_t>(dirs.size()) < size)
        grow(grow, dirs.empty() ? -1 : 0, dirs.empty() ? 0 : 1);
    for (std::size_t i = dirs.size(); i-- > 0;) {
        dirs[i].TotalFiles += dirs[i].Files;
        dirs[i].TotalBytes += dirs[i].Bytes;
        if (dirs[i].Parent >= 0) {
            dirs[static_cast<std::size_t>(dirs[i].Parent)].TotalFiles += dirs[i].TotalFiles;
            dirs[static_cast<std::size_t>(dirs[i].Parent)].TotalBytes += dirs[i].TotalBytes;
        }
    }
    return dirs;
}

// Feeds the walk's events for the subtree at `index`; returns the index
// after it.
std::size_t Walk(walk::WalkConsumer& page, const std::vector<ModelDir>& dirs, std::size_t index) {
    const ModelDir& d = dirs[index];
    const std::string path = "p";
    const std::string name = "d" + std::to_string(index);
    const std::string native;
    walk::WalkDir dir{path, name, native, d.Depth, 1, 1};
    walk::WalkListing listing;
    listing.FileCount = static_cast<std::int32_t>(d.Files);
    listing.FileBytes = d.Bytes;
    page.DirListed(dir, listing);
    std::size_t next = index + 1;
    while (next < dirs.size() && dirs[next].Parent == static_cast<std::int32_t>(index))
        next = Walk(page, dirs, next);
    page.DirDone(dir, listing, d.TotalBytes);
    return next;
}

// The page as a run feeds it from the walk: a builder makes its tree.
struct WalkedPage {
    explicit WalkedPage(std::unique_ptr<HtmlExport> made) : Page(*made), Built(std::move(made)) {}
    HtmlExport& Page;
    tree::BuiltTree Built;
};

// The model as a saved scan's tree.
saved::SavedScan ScanOf(const std::vector<ModelDir>& dirs) {
    saved::SavedScan scan;
    scan.Start = "p";
    std::vector<tree::DirIndex> last(dirs.size(), tree::NoDir);
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        tree::DirIndex d = scan.Tree.Add(i == 0 ? "" : "d" + std::to_string(i));
        tree::DirRecord& r = scan.Tree.At(d);
        r.OwnFiles = static_cast<std::int32_t>(dirs[i].Files);
        r.OwnBytes = dirs[i].Bytes;
        r.TotalBytes = dirs[i].TotalBytes;
        r.SetTotalFiles(dirs[i].TotalFiles);
        for (auto up = dirs[i].Parent; up >= 0; up = dirs[static_cast<std::size_t>(up)].Parent)
            ++scan.Tree.At(up).TotalDirs;
        if (dirs[i].Parent < 0) continue;
        auto parent = static_cast<std::size_t>(dirs[i].Parent);
        ++scan.Tree.At(dirs[i].Parent).Subdirs;
        last[parent] = scan.Tree.Append(dirs[i].Parent, last[parent], d);
    }
    scan.Root = 0;
    return scan;
}

TEST(HtmlExport, KeepsTheLargestWithTheirAncestorsAndFoldsTheRest) {
    testing::CaptureStdOut();
    std::mt19937 rng(26);
    for (int round = 0; round < 300; ++round) {
        std::vector<ModelDir> dirs = RandomTree(rng);
        const std::size_t cap = std::array<std::size_t, 4>{1, 3, 8, 1000}[round % 4];
        const std::int32_t maxDepth = std::array<std::int32_t, 3>{2, 4, tree::AllLevels}[round % 3];

        // The model: the cap largest above the depth limit, ties to the one
        // met first; every other directory folded into its nearest shown
        // ancestor.
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < dirs.size(); ++i)
            if (dirs[i].Depth < maxDepth) order.push_back(i);
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return dirs[a].TotalBytes > dirs[b].TotalBytes;
        });
        order.resize(std::min(order.size(), cap));
        std::vector<std::int32_t> at(dirs.size(), -1);
        std::sort(order.begin(), order.end());
        for (std::size_t k = 0; k < order.size(); ++k)
            at[order[k]] = static_cast<std::int32_t>(k);
        std::vector<std::int64_t> folded(order.size());
        std::int64_t deep = 0;
        for (std::size_t i = 0; i < dirs.size(); ++i) {
            if (at[i] >= 0) continue;
            deep += dirs[i].Depth >= maxDepth;
            std::int32_t up = dirs[i].Parent;
            while (at[static_cast<std::size_t>(up)] < 0)
                up = dirs[static_cast<std::size_t>(up)].Parent;
            ++folded[static_cast<std::size_t>(at[static_cast<std::size_t>(up)])];
        }

        WalkedPage walked(
            std::make_unique<HtmlExport>(runtime::StdOut(), HtmlRun{}, maxDepth, cap));
        HtmlExport& page = walked.Page;
        walked.Built.Begin();
        Walk(walked.Built, dirs, 0);
        testing::Captured().clear();
        walked.Built.End();
        runtime::StdOut().Flush();
        const std::vector<HtmlDir>& got = page.Dirs();
        ASSERT_EQ(got.size(), order.size()) << round;
        for (std::size_t k = 0; k < order.size(); ++k) {
            const ModelDir& want = dirs[order[k]];
            const HtmlDir& d = got[k];
            std::int32_t parent = want.Parent < 0 ? -1 : at[static_cast<std::size_t>(want.Parent)];
            EXPECT_EQ(d.Name, k == 0 ? "" : "d" + std::to_string(order[k])) << round;
            EXPECT_EQ(std::tuple(d.Parent, d.Depth, d.Files, d.Bytes, d.TotalFiles, d.TotalBytes,
                                 d.Folded),
                      std::tuple(parent, want.Depth, want.Files, want.Bytes, want.TotalFiles,
                                 want.TotalBytes, folded[k]))
                << round << " " << k;
        }
        const HtmlRun& run = page.RunInfo();
        EXPECT_EQ(run.TotalDirs, static_cast<std::int64_t>(dirs.size()) - 1);
        EXPECT_EQ(run.FoldedDeep, deep) << round;
        EXPECT_EQ(run.FoldedSmall + run.FoldedDeep,
                  static_cast<std::int64_t>(dirs.size() - order.size()))
            << round;
        EXPECT_TRUE(testing::Captured().starts_with("<!DOCTYPE html>"));

        // From a saved scan the page reads the scan's tree in place: the same.
        saved::SavedScan scan = ScanOf(dirs);
        auto made = std::make_unique<HtmlExport>(runtime::StdOut(), HtmlRun{}, maxDepth, cap);
        HtmlExport& whole = *made;
        saved::WholeTree fed(scan, std::move(made));
        saved::ReplaySavedScan(scan, "p", fed);
        auto fields = [](const std::vector<HtmlDir>& shown) {
            std::vector<std::tuple<std::int32_t, std::string, std::int64_t, std::int64_t>> f;
            for (const HtmlDir& d : shown)
                f.emplace_back(d.Parent, d.Name, d.TotalBytes, d.Folded);
            return f;
        };
        EXPECT_EQ(fields(whole.Dirs()), fields(got)) << round;
        EXPECT_EQ(std::tuple(whole.RunInfo().TotalDirs, whole.RunInfo().FoldedDeep,
                             whole.RunInfo().FoldedSmall),
                  std::tuple(run.TotalDirs, run.FoldedDeep, run.FoldedSmall))
            << round;
    }
}

TEST(HtmlExport, ShowsWhatAMinimumSizeListsWithTheRestFoldedIntoParents) {
    testing::CaptureStdOut();
    std::mt19937 rng(25);
    for (int round = 0; round < 100; ++round) {
        std::vector<ModelDir> dirs = RandomTree(rng);
        const std::int64_t minSize = std::array<std::int64_t, 3>{1, 100, 4096}[round % 3];
        WalkedPage walked(std::make_unique<HtmlExport>(
            runtime::StdOut(), HtmlRun{},
            tree::Selection{.Sort = tree::SortKey::Size, .MinSize = minSize}));
        HtmlExport& page = walked.Page;
        walked.Built.Begin();
        Walk(walked.Built, dirs, 0);
        walked.Built.End();
        runtime::StdOut().Flush();
        testing::Captured().clear();
        // Shown: the start and every directory of at least the minimum size
        // (its ancestors are at least as large); each shown directory's
        // numbers are its subtree's, and every other directory is folded
        // into exactly one shown one.
        std::int64_t want = 1;
        for (std::size_t i = 1; i < dirs.size(); ++i)
            want += dirs[i].TotalBytes >= minSize;
        const std::vector<HtmlDir>& got = page.Dirs();
        ASSERT_EQ(static_cast<std::int64_t>(got.size()), want) << round;
        std::int64_t folded = 0;
        for (std::size_t k = 0; k < got.size(); ++k) {
            const HtmlDir& d = got[k];
            folded += d.Folded;
            if (k > 0) {
                EXPECT_GE(d.TotalBytes, minSize) << round;
                EXPECT_LT(d.Parent, static_cast<std::int32_t>(k)) << round;
                const ModelDir& m = dirs[std::stoul(d.Name.substr(1))];
                EXPECT_EQ(std::tuple(d.Files, d.Bytes, d.TotalFiles, d.TotalBytes),
                          std::tuple(m.Files, m.Bytes, m.TotalFiles, m.TotalBytes))
                    << round;
            }
        }
        EXPECT_EQ(got[0].TotalBytes, dirs[0].TotalBytes);
        EXPECT_EQ(folded + want, static_cast<std::int64_t>(dirs.size())) << round;
        EXPECT_EQ(page.RunInfo().FoldedSmall, folded) << round;
    }
}

TEST(HtmlExport, NamesUnreadDirectoriesByTheirPaths) {
    testing::CaptureStdOut();
    HtmlRun run;
    run.StartPath = "/";
    WalkedPage walked(std::make_unique<HtmlExport>(runtime::StdOut(), run, tree::AllLevels));
    HtmlExport& page = walked.Page;
    walk::WalkConsumer& events = walked.Built;
    const std::string none;
    const std::string a = "a";
    const std::string b = "b";
    const std::string m = "m";
    walk::WalkDir start{none, none, none, 0, 0, 1};
    walk::WalkDir dirA{none, a, none, 1, 1, 2};
    walk::WalkDir dirB{none, b, none, 2, 1, 1};
    walk::WalkDir dirM{none, m, none, 1, 2, 2};
    walk::WalkListing fine;
    walk::WalkListing refused;
    refused.Problem = walk::DirProblem::Unreadable;
    refused.Reason = "permission denied";
    walk::WalkListing elsewhere;
    elsewhere.Problem = walk::DirProblem::OtherFileSystem;
    elsewhere.Reason = "other file system";
    events.Begin();
    events.DirListed(start, fine);
    events.DirListed(dirA, fine);
    events.DirListed(dirB, refused);
    events.DirDone(dirB, refused, 0);
    events.DirDone(dirA, fine, 0);
    events.DirListed(dirM, elsewhere);
    events.DirDone(dirM, elsewhere, 0);
    events.DirDone(start, fine, 0);
    events.End();
    const HtmlRun& got = page.RunInfo();
    EXPECT_EQ(got.Unread, 1);
    EXPECT_EQ(got.UnreadNamed,
              (std::vector<std::pair<std::string, std::string>>{{"/a/b", "permission denied"}}));
    ASSERT_EQ(page.Dirs().size(), 4U);
    EXPECT_EQ(page.Dirs()[3].Problem, "other file system");
}

TEST(HtmlPage, NamesAndNumbersAreDataTheScriptCannotMistake) {
    testing::CaptureStdOut();
    HtmlRun run;
    run.StartPath = "start";
    run.ScanTime =
        HtmlTimeStamp(std::chrono::sys_days(std::chrono::year(2026) / 12 / 9) +
                      std::chrono::hours(5) + std::chrono::minutes(3) + std::chrono::seconds(9));
    run.UnreadNamed = {{"start/</script>", "permission denied"}};
    std::vector<HtmlDir> dirs(4);
    dirs[0].Name = "start";
    dirs[0].TotalBytes = (std::int64_t{1} << 53) + 1; // a double cannot hold it
    dirs[1].Parent = 0;
    dirs[1].Name = "</script><script>alert(1)</script><!--";
    dirs[1].TotalBytes = (std::int64_t{1} << 53) - 1;
    dirs[2].Parent = 0;
    dirs[2].Name = "q\"\\&\xff\n";
    dirs[2].Problem = "cycle";
    // "<!--" alone, with no "</" after it, changes how the script element ends.
    dirs[3].Parent = 0;
    dirs[3].Name = "x<!--y\xc2\x9b";
    WriteHtmlPage(runtime::StdOut(), run, dirs);
    runtime::StdOut().Flush();
    const std::string& page = testing::Captured();

    const std::string open = "<script type=\"application/json\" id=\"kelpo-data\">";
    std::size_t from = page.find(open);
    ASSERT_NE(from, std::string::npos);
    from += open.size();
    std::size_t to = page.find('<', from);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(page.substr(to, 9), "</script>");
    const std::string data = page.substr(from, to - from);
    EXPECT_TRUE(
        data.starts_with("{\"start\":\"start\",\"sep\":\"/\",\"time\":\"2026-12-09T05:03:09Z\""))
        << data;
    EXPECT_TRUE(data.ends_with("]]}")) << data;
    for (const char* part : {"[\"start/\\u003c/script>\",\"permission denied\"]",
                             "[-1,\"start\",0,0,0,\"9007199254740993\",0]",
                             "[0,\"\\u003c/script>\\u003cscript>alert(1)\\u003c/"
                             "script>\\u003c!--\",0,0,0,9007199254740991,0]",
                             "[0,\"q\\\"\\\\&\\udcff\\u000a\",0,0,0,0,0,\"cycle\"]",
                             "[0,\"x\\u003c!--y\\u009b\",0,0,0,0,0]"})
        EXPECT_NE(data.find(part), std::string::npos) << part << "\n" << data;
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n"));
    EXPECT_TRUE(page.ends_with("</html>\n"));
}

} // namespace
} // namespace kelpo32::output::html
