#include "kelpo32/walk/pace.h"

#include <gtest/gtest.h>

namespace kelpo32::walk {
namespace {

constexpr std::int64_t Ms = 1'000'000;

TEST(ThreadPaceTest, WaitsAddThreadsUpToTheCeilingAndQuickRunsIdleThemToTheStart) {
    struct Case {
        std::int32_t Start, Cap, Ceiling;
    };
    // Four threads per processor, never above the cap, never below one.
    for (Case c :
         {Case{2, 64, 8}, Case{1, 64, 4}, Case{4, 6, 6}, Case{0, 0, 1}, Case{32, 64, 64}}) {
        SCOPED_TRACE(testing::Message() << "start " << c.Start << ", cap " << c.Cap);
        ThreadPace pace(c.Start, c.Cap);
        const std::int32_t start = c.Start < 1 ? 1 : c.Start;
        EXPECT_EQ(pace.Wanted(), start);
        EXPECT_EQ(pace.Ceiling(), c.Ceiling);
        // A listing of 5 ms of which 0.1 on the processor waited on the disk.
        for (std::int32_t n = start + 1; n <= c.Ceiling; ++n)
            EXPECT_EQ(pace.Listed(5 * Ms, Ms / 10), n);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(pace.Listed(5 * Ms, Ms / 10), c.Ceiling);
        // Quick listings: one thread fewer after each run of them, down to the start.
        for (std::int32_t n = c.Ceiling; n > start; --n) {
            for (int i = 1; i < ThreadPace::QuickRun; ++i)
                ASSERT_EQ(pace.Listed(Ms / 100, Ms / 100), n);
            EXPECT_EQ(pace.Listed(Ms / 100, Ms / 100), n - 1);
        }
        for (int i = 0; i < 3 * ThreadPace::QuickRun; ++i)
            EXPECT_EQ(pace.Listed(Ms / 100, -1), start); // quick by its wall time alone
    }
}

TEST(ThreadPaceTest, WaitingForAProcessorOrAnUnknownWaitAddsNoThread) {
    ThreadPace pace(2, 64);
    pace.Listed(5 * Ms, Ms / 10);
    pace.Listed(5 * Ms, Ms / 10);
    ASSERT_EQ(pace.Wanted(), 4);
    // Four threads on two processors: each runs half the time. 3 ms of wall
    // time for 1 ms of processor time is that share, not the disk.
    EXPECT_EQ(pace.Listed(3 * Ms, Ms), 4);
    // Slow, but the processor time is unknown: neither a wait nor quick.
    for (int i = 0; i < 2 * ThreadPace::QuickRun; ++i)
        EXPECT_EQ(pace.Listed(5 * Ms, -1), 4);
    // Off the processor less than the least wait: quick, however long.
    EXPECT_EQ(pace.Listed(ThreadPace::MinWaitNanos - 1, 0), 4);
    // A wait in the middle of a quick run starts the run again.
    for (int i = 3; i < ThreadPace::QuickRun; ++i)
        pace.Listed(0, 0);
    pace.Listed(50 * Ms, Ms); // a wait: the fifth thread
    for (int i = 1; i < ThreadPace::QuickRun; ++i)
        EXPECT_EQ(pace.Listed(0, 0), 5);
    EXPECT_EQ(pace.Listed(0, 0), 4);
}

// The fake clock: advanced by the test; counts the processor clock's reads.
std::int64_t FakeWall = 0;
std::int64_t FakeCpu = 0;
int CpuReads = 0;

TEST(ListingTimerTest, ReadsTheProcessorClockOnlyAroundListingsSoonAfterASlowOne) {
    ListingTimer timer({[] { return FakeWall; }, [] { return ++CpuReads, FakeCpu; }});
    std::int64_t wall = 0;
    std::int64_t cpu = 0;
    auto list = [&](std::int64_t w, std::int64_t c) {
        timer.Begin();
        FakeWall += w;
        FakeCpu += c;
        timer.End(wall, cpu);
    };
    list(Ms / 10, Ms / 10); // quick: judged by the wall clock alone
    EXPECT_EQ(wall, Ms / 10);
    EXPECT_EQ(cpu, -1);
    list(3 * Ms, Ms); // slow, its start not read
    EXPECT_EQ(wall, 3 * Ms);
    EXPECT_EQ(cpu, -1);
    EXPECT_EQ(CpuReads, 0);
    list(4 * Ms, Ms / 2); // after a slow one: measured
    EXPECT_EQ(wall, 4 * Ms);
    EXPECT_EQ(cpu, Ms / 2);
    EXPECT_EQ(CpuReads, 2);
    // Slow listings between quick ones (the first part of each of many
    // small directories) are all measured.
    for (int i = 0; i < 3; ++i) {
        list(Ms / 10, Ms / 10);
        EXPECT_EQ(cpu, -1); // read at its start only
        list(2 * Ms, Ms / 4);
        EXPECT_EQ(cpu, Ms / 4);
    }
    EXPECT_EQ(CpuReads, 2 + 3 * 3);
    // Quick listings only: the processor clock is soon left alone.
    for (int i = 0; i < ListingTimer::AfterSlow; ++i)
        list(Ms / 10, Ms / 10);
    EXPECT_EQ(CpuReads, 2 + 3 * 3 + ListingTimer::AfterSlow);
    list(Ms / 10, Ms / 10);
    EXPECT_EQ(CpuReads, 2 + 3 * 3 + ListingTimer::AfterSlow);
}

} // namespace
} // namespace kelpo32::walk
