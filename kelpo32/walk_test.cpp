#include "kelpo32/consumer.h"
#include "kelpo32/memory_source.h"
#include "kelpo32/walk.h"
#include "kelpo32/walk_source.h"
#include "runtime/rtl.h"

#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <new>

namespace kelpo32 {
namespace {

using testing::MemorySource;
using testing::SourceFault;
using At = SourceFault::At;

// With '/' between levels on every platform.
std::string PathOf(const WalkDir& dir) {
    std::string path = dir.Path + dir.Name;
    for (char& c : path)
        if (c == runtime::PathSeparator()) c = '/';
    return path;
}

// Writes every event into its log.
class Recorder final : public WalkConsumer {
  public:
    // `entries`: whether it asks for the entries of each listing.
    explicit Recorder(std::string& log, bool entries = true) : log_(log), entries_(entries) {}
    void DirStart(const WalkDir& d) override { log_ += "start " + PathOf(d) + "\n"; }
    void Entry(const WalkDir&, const WalkEntry& en) override {
        log_ += " " + std::string(en.Name) + (en.Kind == EntryKind::Directory ? "/" : "") + " " +
                std::to_string(en.Size) + "\n";
    }
    void DirListed(const WalkDir& d, const WalkListing& l) override {
        constexpr const char* problems[] = {"", "unreadable", "cycle", "other-fs", "unexpected"};
        log_ += "listed " + PathOf(d) + " " + std::to_string(l.FileCount) + " " +
                std::to_string(l.FileBytes) + " " + std::to_string(l.ChildCount) + " " +
                problems[static_cast<int>(l.Problem)] + " " + l.Reason + "\n";
    }
    void DirDone(const WalkDir& d, const WalkListing&, std::int64_t total) override {
        log_ += "done " + PathOf(d) + " " + std::to_string(total) + "\n";
    }
    bool NeedsEntries() const override { return entries_; }

  private:
    std::string& log_;
    bool entries_;
};

// Small parts, a small budget and few held handles, so that every path of
// the read-ahead and the descriptor cache is taken on a small tree.
WalkLimits Small(std::int64_t held = 3, std::size_t budget = 1500) {
    return WalkLimits{3, 200, budget, 100, held};
}

struct Outcome {
    std::string Log;
    std::string Error; // empty when the walk completed
};

Outcome Walk(MemorySource& src, std::int32_t threads, const WalkLimits& limits = Small(),
             WalkOptions options = {}) {
    options.Threads = threads;
    std::int64_t before = src.Count().Now;
    Outcome out;
    Recorder recorder(out.Log);
    try {
        out.Log += "total " + std::to_string(WalkTreeFrom(src, limits, "", "", options, recorder));
    } catch (const std::bad_alloc&) {
        out.Error = "out of memory";
    } catch (const runtime::RunError& e) {
        out.Error = "I/O error " + std::to_string(e.Code);
    } catch (const std::exception& e) {
        out.Error = e.what();
    }
    EXPECT_EQ(src.Count().Now, before) << "directories left open at " << threads << " threads";
    return out;
}

// A tree of 1 + 4 + 16 + 64 directories below "d", each with a few files,
// and one wide directory; returns the number of directories.
int Grow(MemorySource& src) {
    int count = 0;
    std::function<void(const std::string&, int)> grow = [&](const std::string& at, int depth) {
        ++count;
        src.Add(at + "/");
        for (int f = 0; f < (depth * 3 + count) % 5; ++f)
            src.Add(at + "/f" + std::to_string(f) + "=" + std::to_string(count * 10 + f));
        if (depth == 3) return;
        for (int c = 0; c < 4; ++c)
            grow(at + "/d" + std::to_string(c), depth + 1);
    };
    grow("d", 0);
    for (int f = 0; f < 40; ++f)
        src.Add("wide/x" + std::to_string(f) + "=1");
    src.Add("wide/sub/y=2");
    return count + 3; // the start directory, wide and wide/sub
}

// What the events must say, from the tree alone.
std::string Expected(MemorySource& src) {
    std::string log;
    std::function<std::uint64_t(const MemorySource::Node&)> walk = [&](const auto& node) {
        log += "start " + node.Path + "\n";
        std::uint64_t bytes = 0, files = 0, dirs = 0;
        for (const MemorySource::Node* c : node.Children) {
            log += " " + c->Name + (c->Dir ? "/ " : " ") + std::to_string(c->Size) + "\n";
            dirs += c->Dir ? 1 : 0;
            files += c->Dir ? 0 : 1;
            bytes += c->Size;
        }
        log += "listed " + node.Path + " " + std::to_string(files) + " " + std::to_string(bytes) +
               " " + std::to_string(dirs) + "  \n";
        std::uint64_t total = bytes;
        for (const MemorySource::Node* c : node.Children)
            total += c->Dir ? walk(*c) : 0;
        log += "done " + node.Path + " " + std::to_string(total) + "\n";
        return total;
    };
    std::uint64_t total = walk(src.At(""));
    return log + "total " + std::to_string(total);
}

TEST(WalkTest, EventsFollowTheTreeInOrderAtEveryThreadCount) {
    MemorySource src;
    int dirs = Grow(src);
    const std::string expected = Expected(src);
    for (std::int32_t threads : {1, 2, 3, 8}) {
        // Few held handles reopen levels; a budget smaller than one part makes
        // workers go on with the directory the consumer waits for.
        for (const WalkLimits& limits : {Small(1000), Small(), Small(3, 1)}) {
            std::uint64_t opens = src.Count().Opens;
            EXPECT_EQ(Walk(src, threads, limits).Log, expected)
                << threads << " threads, " << limits.MaxHeldHandles << " held";
            if (limits.MaxHeldHandles == 1000) {
                EXPECT_EQ(src.Count().Opens - opens, static_cast<std::uint64_t>(dirs));
            }
        }
    }
}

TEST(WalkTest, ConsumersOfOneWalkEachSeeEveryDirectory) {
    MemorySource src;
    Grow(src);
    std::string expected = Expected(src);
    expected.resize(expected.rfind("total "));
    // Without entries: the same log less the entry lines.
    std::string bare;
    for (std::size_t at = 0, end; at < expected.size(); at = end + 1) {
        end = expected.find('\n', at);
        if (expected[at] != ' ') bare += expected.substr(at, end - at + 1);
    }
    for (std::int32_t threads : {1, 8}) {
        std::string a, b, c;
        Recorder first(a), second(b), plain(c, false);
        ConsumerList both;
        both.Add(first);
        both.Add(plain);
        both.Add(second);
        WalkOptions options;
        options.Threads = threads;
        WalkTreeFrom(src, Small(), "", "", options, both);
        EXPECT_EQ(a, expected) << threads << " threads";
        EXPECT_EQ(b, expected) << threads << " threads";
        EXPECT_EQ(c, bare) << threads << " threads";
    }
}

TEST(WalkTest, TooFewDescriptorsReopenLevelsInsteadOfFailing) {
    MemorySource src;
    std::string deep = "a";
    // Each level's next one comes first, so every level has children left
    // to open while the walk is below it.
    for (int level = 0; level < 12; ++level, deep += "/a") {
        src.Add(deep + "/a/");
        for (int c = 0; c < 3; ++c)
            src.Add(deep + "/s" + std::to_string(c) + "/f=1");
    }
    const std::string expected = Expected(src);
    // A dozen descriptors in all, fewer than the levels with children left.
    src.Limit = 12;
    for (std::int32_t threads : {1, 8}) {
        Outcome out = Walk(src, threads, Small(256));
        EXPECT_EQ(out.Error, "");
        EXPECT_EQ(out.Log, expected) << threads << " threads";
    }
    EXPECT_LE(src.Count().Peak, 12);
    // However deep the tree, no more are held than their cap (3 here): the
    // start directory and a few for the one listing thread.
    src.Count(true);
    EXPECT_EQ(Walk(src, 1).Log, expected);
    EXPECT_LE(src.Count().Peak, 3 + 1 + 4);
}

struct FaultCase {
    const char* Name;
    SourceFault Fault;
    const char* Expect; // a line of the log, or the error with "!" in front
};

const runtime::DirResult Emfile{runtime::DirFault::Resource, 24};

const FaultCase FaultCases[] = {
    {"EMFILE on a third of the workers' opens", {At::Open, "*", Emfile, false, true, 0, 3}, ""},
    {"EMFILE on every worker's open", {At::Open, "*", Emfile, false, true}, ""},
    {"EMFILE for the consumer too", {At::Open, "d/d1/d2", Emfile}, "!I/O error 24"},
    {"ENOMEM", {At::Open, "d/d1", {runtime::DirFault::Resource, 8}}, "!I/O error 8"},
    {"EIO in the middle of a listing",
     {At::Read, "wide", {runtime::DirFault::Unexpected, EIO}, false, false, 7},
     "listed wide 7 7 0 unexpected input/output error"},
    {"no permission",
     {At::Open, "d/d2", {runtime::DirFault::Unreadable, EACCES}},
     "listed d/d2 0 0 0 unreadable permission denied"},
    {"vanished",
     {At::Open, "d/d3/d0", {runtime::DirFault::Unreadable, ENOENT}},
     "listed d/d3/d0 0 0 0 unreadable no such file or directory"},
    {"replaced between listing and open",
     {At::Replaced, "d/d1/d3"},
     "listed d/d1/d3 0 0 0 unreadable replaced during the walk"},
    {"allocation failure while listing", {At::Read, "d/d2/d1", {}, true}, "!out of memory"},
};

TEST(WalkTest, FaultsReachTheConsumerAtTheirPlaceAtEveryThreadCount) {
    for (const FaultCase& c : FaultCases) {
        SCOPED_TRACE(c.Name);
        MemorySource src;
        int dirs = Grow(src);
        const std::string expected = Expected(src);
        src.Inject(c.Fault);
        std::string one;
        // Several rounds: where a worker meets the fault depends on timing.
        for (std::int32_t threads : {1, 2, 8, 2, 8, 2, 8}) {
            std::uint64_t opens = src.Count().Opens;
            // Room for every handle: no level is reopened unless one is closed early.
            Outcome out = Walk(src, threads, Small(1000));
            if (threads == 1) one = out.Log;
            if (!c.Fault.WorkersOnly) {
                EXPECT_EQ(out.Log, one) << threads << " threads"; // one thread meets it too
            }
            std::string expect = c.Expect;
            if (expect.empty()) {
                // Handed back and opened again, never taken for unreadable,
                // and no directory opened twice for it.
                EXPECT_EQ(out.Log, expected) << threads << " threads";
                EXPECT_EQ(src.Count().Opens - opens, static_cast<std::uint64_t>(dirs));
            } else if (expect[0] == '!') {
                EXPECT_EQ(out.Error, expect.substr(1)) << threads << " threads";
            } else {
                EXPECT_NE(out.Log.find(expect + "\n"), std::string::npos) << out.Log;
            }
        }
    }
}

TEST(WalkTest, WorkerAllocationFailureIsRaisedByTheConsumerOrNotMet) {
    // Allocations fail while a worker opens a directory, or after its
    // listing, outside the reading.
    for (const SourceFault& fault : {SourceFault{At::Open, "*", {}, true, true, 0, 5},
                                     SourceFault{At::Starved, "*", {}, false, true}}) {
        MemorySource src;
        Grow(src);
        const std::string expected = Expected(src);
        src.Inject(fault);
        for (std::int32_t threads : {2, 8, 2, 8, 2, 8}) {
            Outcome out = Walk(src, threads);
            if (!out.Error.empty()) {
                EXPECT_TRUE(out.Error == "out of memory" || out.Error == "out of records")
                    << out.Error;
                EXPECT_EQ(expected.compare(0, out.Log.size(), out.Log), 0) << "not a prefix";
            } else {
                EXPECT_EQ(out.Log, expected);
            }
        }
    }
}

TEST(WalkTest, NoWakeUpSignalIsOutOfMemoryNotACrash) {
    static int made = 0;
    made = 0;
    NewWalkSignal = [] { return ++made == 2 ? nullptr : runtime::NewSignal(); };
    MemorySource src;
    Grow(src);
    Outcome out = Walk(src, 8);
    NewWalkSignal = runtime::NewSignal;
    EXPECT_EQ(out.Error, "out of memory");
}

TEST(WalkTest, IdentityProblems) {
    struct Case {
        const char* Name;
        std::function<void(MemorySource&)> Set;
        const char* Expect; // a line of the log; empty: the events of the plain tree
        bool OneFileSystem = false;
        std::int64_t Held = 3;
        std::int32_t MaxThreads = 8; // beyond it, where the fault falls depends on timing
    };
    const Case cases[] = {
        {"a mount of an ancestor is not entered",
         [](MemorySource& s) { s.At("d/d1/d1").Id = s.At("d/d1").Id; },
         "listed d/d1/d1 0 0 0 cycle cycle"},
        {"another device with one file system", [](MemorySource& s) { s.At("d/d2").Id.Volume = 2; },
         "listed d/d2 0 0 0 other-fs other file system", true},
        {"directories that cannot be identified are walked, nested ones too",
         [](MemorySource& s) {
             s.At("d/d1").Unidentified = true;
             s.At("d/d1/d2").Unidentified = true;
         },
         "listed d/d1/d2/d3 2 761 0  "},
        {"listing inodes of another kind are no replacement",
         [](MemorySource& s) { s.ForeignInodes = true; }, ""},
        // Given up after its first children, d/d1 is reopened, which must notice.
        {"a reopened level must be the directory that was listed",
         [](MemorySource& s) {
             s.Inject({At::Moved, "d/d1"});
         },
         "listed d/d1/d1 0 0 0 unreadable replaced during the walk", false, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WalkOptions options;
        options.OneFileSystem = c.OneFileSystem;
        std::string one;
        for (std::int32_t threads : {1, 2, 8}) {
            if (threads > c.MaxThreads) break;
            MemorySource src;
            Grow(src);
            const std::string plain = Expected(src);
            c.Set(src);
            Outcome out = Walk(src, threads, Small(c.Held), options);
            if (threads == 1) one = out.Log;
            EXPECT_EQ(out.Log, *c.Expect ? one : plain) << threads << " threads";
            EXPECT_NE(out.Log.find(std::string(c.Expect) + "\n"), std::string::npos) << out.Log;
        }
    }
}

TEST(WalkTest, DiskUsageCountsBlocksAndEachLinkedFileWhereFirstMet) {
    MemorySource src;
    // Many small parts in `a` keep the consumer busy while workers list `b`.
    for (int f = 0; f < 200; ++f)
        src.Add("a/f" + std::to_string(f) + "=1");
    for (const char* entry : {"a/first=100", "b/again", "b/empty=0", "b/c/more"})
        src.Add(entry);
    src.Link("b/again", "a/first");
    src.Link("b/c/more", "a/first");
    WalkOptions options;
    options.DiskUsage = true;
    for (std::int32_t threads : {1, 2, 8}) {
        std::string log = Walk(src, threads, Small(), options).Log;
        EXPECT_TRUE(log.ends_with("\ntotal " + std::to_string(201 * 4096))) << log;
        EXPECT_NE(log.find("listed a 201 823296 0"), std::string::npos) << log;
        EXPECT_NE(log.find("listed b 2 0 1"), std::string::npos) << log;
    }
}

} // namespace
} // namespace kelpo32
