#include "kelpo32/history/growth.h"
#include "kelpo32/history/keep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace kelpo32::history {
namespace {

constexpr std::int64_t H = 3600;
constexpr std::int64_t D = 86400;
// 2026-01-01T00:00:00Z
constexpr std::int64_t T0 = 1767225600;

TEST(HistoryTest, NamesSpansAndRulesReadBackAsWritten) {
    std::int64_t t = 0;
    EXPECT_EQ(KeptName(T0 + 14 * H + 46 * 60 + 38), "kelpo32-scan-20260101T144638Z.jsonl.gz");
    EXPECT_TRUE(ParseKeptName(KeptName(T0 + 5, 3), t));
    EXPECT_EQ(t, T0 + 5);
    for (const char* name :
         {"kelpo32-scan-20260101T144638Z.jsonl",
          "kelpo32-scan-20261301T000000Z"
          ".jsonl.gz",
          "kelpo32-scan-20260101T144638Z-1.jsonl.gz", "notes.txt",
          "kelpo32-scan-20260101T144638Z-02.jsonl.gz", "kelpo32-scan-20260231T000000Z.jsonl.gz"})
        EXPECT_FALSE(ParseKeptName(name, t)) << name;
    EXPECT_TRUE(OurTemporary("kelpo32-scan-20260101T144638Z.jsonl.gz.ab12cd34.tmp"));
    EXPECT_FALSE(OurTemporary("other.jsonl.gz.ab12cd34.tmp"));

    for (const char* bad : {"", "d", "7", "0d", "-1d", "7x", "1.5d", "99999999y"})
        EXPECT_FALSE(ParseSpan(bad, t)) << bad;
    KeepRule rule;
    for (const char* text : {"1h:2d,1d:60d,1w", "all", "1d", "1d:5w", "12h:3d,1w:8w"}) {
        ASSERT_TRUE(ParseKeep(text, rule)) << text;
        EXPECT_EQ(KeepText(rule), text);
    }
    EXPECT_EQ(KeepText(DefaultKeep()), "1h:2d,1d:60d,1w");
    for (const char* bad : {"", "1h:", ":2d", "1h:2d,", "1w,1d", "1h;2d", "1h:2d:3d"})
        EXPECT_FALSE(ParseKeep(bad, rule)) << bad;
}

// The rotation: the times of the scans in the directory (hours after T0)
// and which of them it keeps at the newest.
TEST(HistoryTest, RotationKeepsOnePerIntervalOfEachTierAndTheNewest) {
    struct Row {
        const char* Rule;
        std::vector<double> Hours; // oldest first; the newest is now
        std::vector<bool> Kept;
    };
    const Row rows[] = {
        // Three runs within an hour: the first of the hour and the newest.
        {"1h:2d,1d:60d,1w", {0, 0.2, 0.5}, {true, false, true}},
        // Hourly for two days, then the first of each day.
        {"1h:2d,1d:60d,1w",
         {0, 1, 24, 25, 60, 61, 62},
         {true, false, true, true, true, true, true}},
        // Past the last tier with an end: forgotten.
        {"1h:1d", {0, 23, 30, 47, 48}, {false, false, true, true, true}},
        // Weekly for ever after the daily tier.
        {"1d:7d,1w",
         {0, 24, 7 * 24, 8 * 24, 21 * 24, 22 * 24},
         {true, false, true, false, true, true}},
        {"all", {0, 0.1, 0.2}, {true, true, true}},
        // A scan dated after the newest (a clock set back) is kept.
        {"1h:1d", {0, 50, 40}, {false, true, true}},
    };
    for (const Row& row : rows) {
        KeepRule rule;
        ASSERT_TRUE(ParseKeep(row.Rule, rule));
        std::vector<std::int64_t> times;
        for (double h : row.Hours)
            times.push_back(T0 + static_cast<std::int64_t>(h * H));
        EXPECT_EQ(Rotate(times, times.back(), rule), row.Kept) << row.Rule;
    }
}

// A history of scans made from a model: per directory its bytes at each
// time (-1: not there). The root holds them all, its own bytes 0.

saved::SavedScan ScanOf(const std::vector<std::string>& names,
                        const std::vector<std::int64_t>& bytes, std::int64_t free) {
    saved::SavedScan s;
    s.Start = "r";
    s.Root = s.Tree.Add("");
    tree::DirIndex last = tree::NoDir;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (bytes[i] < 0) continue;
        tree::DirIndex d = s.Tree.Add(names[i]);
        s.Tree.At(d).OwnBytes = bytes[i];
        s.Tree.At(d).TotalBytes = bytes[i];
        last = s.Tree.Append(s.Root, last, d);
        total += bytes[i];
        ++s.Tree.At(s.Root).Subdirs;
    }
    s.Tree.At(s.Root).TotalBytes = total;
    s.Header = {true, 0, "/r", 1000000, free};
    return s;
}

double ModelSlope(const std::vector<std::int64_t>& t, const std::vector<std::int64_t>& b) {
    std::vector<double> x;
    std::vector<double> y;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (b[i] >= 0) {
            x.push_back(static_cast<double>(t[i] - t.back()) / D);
            y.push_back(static_cast<double>(b[i]));
        }
    double n = static_cast<double>(x.size());
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        mx += x[i] / n;
        my += y[i] / n;
    }
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    return sxy / sxx;
}

// Synthetic histories, hourly, daily and sparse: a directory that grows
// linearly, one that steps, one that vanishes, one that appears; the rates,
// the changes over each span and the forecast equal the model's.
TEST(HistoryTest, GrowthOfSyntheticHistoriesEqualsTheModel) {
    const std::vector<std::string> names = {"linear", "step", "vanishes", "appears"};
    auto model = [](std::int64_t t) {
        const double days = static_cast<double>(t - T0) / D;
        return std::vector<std::int64_t>{1000000 + (t - T0) / H * 1000, // +24,000 a day
                                         days < 20 ? 300 : 900,         // a step on day 20
                                         days < 25 ? 700 : -1,          // gone on day 25
                                         days < 10 ? -1 : 50};          // new on day 10
    };
    // Free space falls 2,400 a day from 1,080,000: full 450 days after T0.
    auto free = [](std::int64_t t) { return 1080000 - (t - T0) / H * 100; };
    const std::vector<std::vector<std::int64_t>> plans = {
        [] { // daily for 40 days
            std::vector<std::int64_t> t;
            for (int d = 0; d <= 40; ++d)
                t.push_back(T0 + d * D);
            return t;
        }(),
        [] { // hourly for the last two days, daily before
            std::vector<std::int64_t> t;
            for (int d = 0; d < 38; ++d)
                t.push_back(T0 + d * D);
            for (int h = 0; h <= 48; ++h)
                t.push_back(T0 + 38 * D + h * H);
            return t;
        }(),
        // sparse: weekly
        {T0, T0 + 7 * D, T0 + 14 * D, T0 + 21 * D, T0 + 28 * D, T0 + 35 * D},
    };
    for (std::int64_t window : {7 * D, 30 * D, 36 * H}) {
        for (const auto& times : plans) {
            std::deque<saved::SavedScan> loaded;
            std::vector<KeptScan> scans;
            for (std::int64_t t : times) {
                loaded.push_back(ScanOf(names, model(t), free(t)));
                scans.push_back({t, &loaded.back()});
            }
            Growth g;
            ComputeGrowth(scans, window, g);
            const std::int64_t now = times.back();
            const std::size_t first = WindowStart(times, window);
            std::vector<std::int64_t> in(times.begin() + static_cast<std::ptrdiff_t>(first),
                                         times.end());
            SCOPED_TRACE("window " + std::to_string(window / H) + "h, " +
                         std::to_string(times.size()) + " scans");
            ASSERT_EQ(g.Times, in);
            // Each directory by name, with its model's numbers.
            std::map<std::string, tree::DirIndex> found;
            for (tree::DirIndex c = g.Tree.At(g.Root).First; c != tree::NoDir;
                 c = g.Tree.At(c).Next)
                found[std::string(g.Tree.Name(c))] = c;
            for (std::size_t i = 0; i < names.size(); ++i) {
                SCOPED_TRACE(names[i]);
                std::vector<std::int64_t> series;
                bool seen = false;
                for (std::int64_t t : in) {
                    std::int64_t b = model(t)[i];
                    // Not in a scan whose parent lists every directory: none.
                    series.push_back(b < 0 ? 0 : b);
                    seen = seen || b >= 0;
                }
                if (!seen) {
                    EXPECT_EQ(found.count(names[i]), 0U);
                    continue;
                }
                ASSERT_EQ(found.count(names[i]), 1U);
                const tree::DirIndex d = found[names[i]];
                const tree::GrowthCells& cell = (*g.Tree.GrowthIfAny())[d];
                ASSERT_TRUE(cell.RateKnown);
                EXPECT_NEAR(cell.Rate, ModelSlope(in, series), 1e-6);
                if (i == 0) {
                    EXPECT_NEAR(cell.Rate, 24000, 1e-6);
                }
                const std::int64_t nowBytes = std::max<std::int64_t>(0, model(now)[i]);
                for (std::size_t s = 0; s < 3; ++s) {
                    std::int64_t j = ChangeScan(times, ChangeSpans[s]);
                    if (j < 0) {
                        EXPECT_EQ(cell.Changes[s], tree::GrowthCells::Unknown);
                        continue;
                    }
                    std::int64_t then = model(times[static_cast<std::size_t>(j)])[i];
                    EXPECT_EQ(cell.Changes[s], nowBytes - std::max<std::int64_t>(0, then)) << s;
                }
                const tree::Mark mark = (*g.Tree.ComparedIfAny())[d].State;
                const bool gone = model(now)[i] < 0;
                const bool isNew = !gone && model(in.front())[i] < 0;
                EXPECT_EQ(mark, gone    ? tree::Mark::Gone
                                : isNew ? tree::Mark::New
                                        : tree::Mark::Both);
            }
            // The forecast: free space falls 2,400 a day, so it ends on day 450.
            ASSERT_TRUE(g.Head.RateKnown);
            EXPECT_NEAR(g.Head.FreeRate, -2400, 1e-6);
            EXPECT_NEAR(static_cast<double>(g.Head.FullAt), static_cast<double>(T0 + 450 * D), 1);
        }
    }
}

TEST(HistoryTest, ASparseWindowTakesTheNearestOlderScanAndOneScanHasNoRate) {
    const std::vector<std::int64_t> times = {T0, T0 + 30 * D};
    EXPECT_EQ(WindowStart(times, 7 * D), 0U);
    EXPECT_EQ(ChangeScan(times, D), -1);     // a month old: no day's change
    EXPECT_EQ(ChangeScan(times, 7 * D), -1); // nor a week's
    EXPECT_EQ(ChangeScan(times, 30 * D), 0); // but a month's
    saved::SavedScan only = ScanOf({"a"}, {5}, 10);
    std::vector<KeptScan> scans = {{T0, &only}};
    Growth g;
    ComputeGrowth(scans, 7 * D, g);
    EXPECT_FALSE((*g.Tree.GrowthIfAny())[g.Root].RateKnown);
    EXPECT_FALSE(g.Head.RateKnown);
    EXPECT_EQ(g.Head.FullAt, -1);
}

} // namespace
} // namespace kelpo32::history
