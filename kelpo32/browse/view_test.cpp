#include "kelpo32/browse/edits.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/testing/fake_screen.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace kelpo32::browse {
namespace {

using crt32_pipe::KeyKind;
using testing::FakeScreen;

// A directory in memory: a listing per directory on screen, deletions that
// succeed or fail as the test says, and rescans that find what is left.
class MemoryPlace final : public Place {
  public:
    std::map<std::string, std::vector<runtime::DirEntry>> Listings; // by path below the start
    std::string FailOn;                                             // a deletion of this name fails
    bool Locked = false;                                            // a saved scan's
    std::vector<std::string> Removed;
    std::int64_t LeftBytes = 0; // what a rescan after a failed deletion finds

    bool List(std::vector<runtime::DirEntry>& entries, std::string& why) override {
        auto it = Listings.find(Here());
        if (it == Listings.end()) {
            why = "permission denied";
            return false;
        }
        entries = it->second;
        return true;
    }
    void Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& /*identity*/,
               std::string& why) override {
        if (entry == nullptr) why = "not on disk now";
        path_.push_back(entry != nullptr ? entry->Name : std::string("?"));
    }
    void Leave() override { path_.pop_back(); }
    bool Changeable() const override { return !Locked; }
    Removal Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& /*identity*/,
                   bool /*directory*/) override {
        Removal done;
        if (entry.Name == FailOn) {
            done.Report.Failures = 1;
            done.Failure = entry.Name + "/stuck: permission denied";
            return done;
        }
        Removed.push_back(entry.Name);
        std::erase_if(Listings[Here()],
                      [&](const runtime::DirEntry& e) { return e.Name == entry.Name; });
        return done;
    }
    bool Rescan(const runtime::DirEntry* entry, tree::DirTree& into, tree::DirIndex& root,
                std::string& /*why*/) override {
        root = into.Add(entry != nullptr ? entry->Name : "");
        into.At(root).TotalBytes = LeftBytes;
        into.At(root).OwnBytes = LeftBytes;
        into.At(root).OwnFiles = 1;
        into.At(root).SetTotalFiles(1);
        into.Browse()[root].OtherTotalBytes = LeftBytes;
        return true;
    }

  private:
    std::string Here() const {
        std::string p;
        for (const std::string& n : path_)
            p += "/" + n;
        return p;
    }
    std::vector<std::string> path_;
};

runtime::DirEntry File(std::string name, std::uint64_t size, std::uint32_t links = 1) {
    runtime::DirEntry e;
    e.Name = std::move(name);
    e.Size = size;
    e.DiskBytes = (size + 4095) / 4096 * 4096;
    e.Links = links;
    return e;
}

runtime::DirEntry Dir(std::string name) {
    runtime::DirEntry e;
    e.Name = std::move(name);
    e.Type = runtime::EntryType::Directory;
    return e;
}

// The start holds alpha (10 files, 1,000 bytes), beta (2 files, 5,000
// bytes, holding gamma of 1 file, 4,000 bytes), and the files f1 (300
// bytes) and f2 (20 bytes).
struct Fixture {
    tree::DirTree Tree;
    tree::DirIndex Root, Alpha, Beta, Gamma;
    MemoryPlace Place;

    Fixture() {
        Root = Tree.Add("");
        Alpha = Tree.Add("alpha");
        Beta = Tree.Add("beta");
        Gamma = Tree.Add("gamma");
        Set(Alpha, 1000, 1000, 10, 10);
        Set(Gamma, 4000, 4000, 1, 1);
        Set(Beta, 1000, 5000, 1, 2);
        Set(Root, 320, 6320, 2, 14);
        Tree.At(Beta).TotalDirs = 1;
        Tree.At(Root).TotalDirs = 3;
        Tree.Append(Root, Tree.Append(Root, tree::NoDir, Alpha), Beta);
        Tree.Append(Beta, tree::NoDir, Gamma);
        Place.Listings[""] = {Dir("alpha"), Dir("beta"), File("f1", 300), File("f2", 20)};
        Place.Listings["/beta"] = {Dir("gamma"), File("b1", 1000)};
        Place.Listings["/alpha"] = {};
    }
    void Set(tree::DirIndex d, std::int64_t own, std::int64_t total, std::int32_t ownFiles,
             std::int64_t files) {
        Tree.At(d).OwnBytes = own;
        Tree.At(d).TotalBytes = total;
        Tree.At(d).OwnFiles = ownFiles;
        Tree.At(d).SetTotalFiles(files);
        // The other size kind: whole blocks of 4 KiB.
        Tree.Browse()[d].OtherTotalBytes = total * 4;
    }
};

std::string Screen(const FakeScreen& screen) {
    std::string all;
    for (const std::string& line : screen.Lines())
        all += line + "\n";
    return all;
}

struct Journey {
    const char* Name;
    std::u32string Keys;         // characters; the arrows and others below
    std::vector<KeyKind> Before; // keys before the characters
    std::vector<std::string> Shows;
    std::vector<std::string> Hides;
    const char* Selected = nullptr; // the item under the cursor at the end
    std::string Locked = {};
    const char* Top = nullptr; // the first item at the end
    bool OneKind = false;      // the tree knows one size kind (a JSON Lines scan)
};

class JourneyTest : public ::testing::TestWithParam<Journey> {};

TEST_P(JourneyTest, KeysGiveTheScreen) {
    const Journey& j = GetParam();
    Fixture f;
    if (j.OneKind) f.Tree.SetOtherKindUnknown();
    FakeScreen screen(80, 12);
    ViewSetup setup{"kelpo32 9.9", "/start", false, false, j.Locked};
    View view(screen, f.Tree, f.Root, f.Place, setup);
    for (KeyKind k : j.Before)
        screen.PushKey(k);
    screen.PushChars(j.Keys);
    view.Run();
    std::string shown = Screen(screen);
    // Paths below the start are joined by the platform's separator.
    auto native = [](std::string text) {
        std::size_t at = text.find("/start/");
        if (at != std::string::npos) text[at + 6] = runtime::PathSeparator();
        return text;
    };
    for (const std::string& s : j.Shows)
        EXPECT_NE(shown.find(native(s)), std::string::npos) << s << " not in\n" << shown;
    for (const std::string& s : j.Hides)
        EXPECT_EQ(shown.find(native(s)), std::string::npos) << s << " in\n" << shown;
    if (j.Selected != nullptr) {
        ASSERT_LT(view.Cursor(), view.Items().size());
        EXPECT_EQ(view.Items()[view.Cursor()].Name, j.Selected) << shown;
    }
    if (j.Top != nullptr) {
        ASSERT_FALSE(view.Items().empty());
        EXPECT_EQ(view.Items().front().Name, j.Top) << shown;
    }
}

const Journey Journeys[] = {
    {"First",
     U"",
     {},
     {"kelpo32 9.9  /start", "beta/", "alpha/", "f1", "Sort: size", "Here: 6.2K in 14 files"},
     {},
     "beta"},
    {"Down", U"", {KeyKind::Down}, {}, {}, "alpha"},
    {"EndHome", U"", {KeyKind::End}, {}, {}, "f2"},
    // A new order keeps the cursor on its entry.
    {"ByName", U"n", {}, {"Sort: name"}, {"reversed"}, "beta", {}, "alpha"},
    {"ByNameReversed", U"nn", {}, {"Sort: name (reversed)"}, {}, "beta", {}, "f2"},
    {"ByFiles", U"c", {}, {"Sort: files"}, {}, "beta", {}, "alpha"},
    // Size is the order at the start: s again reverses it.
    {"BySizeReversed", U"s", {}, {"Sort: size (reversed)"}, {}, "beta", {}, "f2"},
    {"Open", U"", {KeyKind::Enter}, {"/start/beta", "gamma/", "b1"}, {"alpha/"}, "gamma"},
    {"OpenThenUp", U"", {KeyKind::Enter, KeyKind::Left}, {"alpha/"}, {"/start/beta"}, "beta"},
    {"FileIsNotOpened", U"", {KeyKind::End, KeyKind::Right}, {"f1"}, {"/start/"}, "f2"},
    {"UnlistedDirectory", U"", {KeyKind::Down, KeyKind::Enter}, {"/start/alpha"}, {}, nullptr},
    {"Exact", U"h", {}, {"5,000", "Here: 6,320 in 14 files"}, {}, "beta"},
    {"OtherKind", U"a", {}, {"Disk usage", "20K"}, {"Apparent size"}, "beta"},
    {"OtherKindNotInTheScan",
     U"a",
     {},
     {"The other size kind is not in this scan", "Apparent size"},
     {"Disk usage"},
     "beta",
     {},
     nullptr,
     true},
    {"Info",
     U"i",
     {},
     {"Path:  /start/beta", "Files:  2 (1 directly in it)", "Directories below:  1"},
     {},
     "beta"},
    {"Help", U"?", {}, {"Keys", "delete the entry"}, {}, "beta"},
    {"HelpClosed", U"?x", {}, {}, {"Keys"}, "beta"},
    {"DeleteRefused", U"dn", {}, {"Kept", "beta/"}, {"Delete /start"}, "beta"},
    {"DeleteAsks",
     U"d",
     {},
     {"Delete /start/beta ?", "It holds 2 files, 4.9K", "y: delete"},
     {},
     "beta"},
    {"DeleteDirectory", U"dy", {}, {"Deleted beta"}, {"beta/"}, "alpha"},
    {"DeleteFile", U"dy", {KeyKind::End}, {"Deleted f2"}, {"0.3%"}, "f1"},
    {"ChangeWithoutOlder", U"C", {}, {"No older scan"}, {}, "beta"},
    {"GrowthWithoutHistory", U"Gw", {}, {"No history to show the growth of"}, {"/d"}, "beta"},
    {"ReadOnly", U"d", {}, {"Deletion is off: read-only"}, {"Delete /start"}, "beta", "read-only"},
    {"RescanLocked", U"r", {}, {"Rescan is off"}, {}, "beta", "saved scan"},
};

INSTANTIATE_TEST_SUITE_P(Journeys, JourneyTest, ::testing::ValuesIn(Journeys),
                         [](const auto& param) { return std::string(param.param.Name); });

// The numbers on screen follow a deletion without a rescan: the files and
// bytes of the directory shown and of the start.
TEST(ViewTest, DeletionCorrectsEveryTotal) {
    Fixture f;
    FakeScreen screen(100, 12);
    View view(screen, f.Tree, f.Root, f.Place, {"k", "/s", false, false, {}});
    screen.PushKey(KeyKind::Enter); // into beta
    screen.PushChars(U"hdy");       // gamma goes: the totals show at once
    view.Run();
    EXPECT_EQ(f.Place.Removed, std::vector<std::string>{"gamma"});
    EXPECT_EQ(f.Tree.At(f.Beta).TotalBytes, 1000);
    EXPECT_EQ(f.Tree.At(f.Root).TotalBytes, 2320);
    EXPECT_EQ(f.Tree.At(f.Root).TotalFiles(), 13);
    EXPECT_EQ(f.Tree.Browse()[f.Root].OtherTotalBytes, 6320 * 4 - 4000 * 4);
    EXPECT_NE(Screen(screen).find("Here: 1,000 in 1 files  All: 2,320 in 13 files"),
              std::string::npos)
        << Screen(screen);
}

// One link of a file of several frees nothing and may have been counted
// elsewhere: the totals stay; with every link counted, they drop.
TEST(ViewTest, DeletedLinkOfSeveralCountsAsTheWalkCounted) {
    for (bool countLinks : {false, true}) {
        Fixture f;
        f.Place.Listings[""].push_back(File("linked", 100000, 2));
        f.Tree.At(f.Root).OwnBytes += 100000;
        f.Tree.At(f.Root).TotalBytes += 100000;
        FakeScreen screen(100, 12);
        ViewSetup setup{"k", "/s", false, false, {}, countLinks};
        View view(screen, f.Tree, f.Root, f.Place, setup);
        screen.PushChars(U"dy"); // the largest: the linked file
        view.Run();
        EXPECT_EQ(f.Place.Removed, std::vector<std::string>{"linked"});
        EXPECT_EQ(f.Tree.At(f.Root).TotalBytes, countLinks ? 6320 : 106320) << countLinks;
    }
}

// A deletion that fails names what could not go, and what is left is
// counted again: its numbers and the totals above it are what the rescan
// found.
TEST(ViewTest, FailedDeletionSaysWhyAndRecounts) {
    Fixture f;
    f.Place.FailOn = "beta";
    f.Place.LeftBytes = 700;
    FakeScreen screen(100, 12);
    View view(screen, f.Tree, f.Root, f.Place, {"k", "/s", false, false, {}});
    screen.PushChars(U"dy");
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("Could not delete beta/stuck: permission denied"), std::string::npos)
        << shown;
    EXPECT_EQ(f.Tree.At(f.Root).TotalBytes, 6320 - 5000 + 700);
    EXPECT_EQ(f.Tree.At(f.Root).TotalFiles(), 14 - 2 + 1);
    ASSERT_FALSE(view.Items().empty());
    EXPECT_EQ(view.Items()[view.Cursor()].Name, "alpha"); // beta, now 700 bytes, is second
}

// A rescan of the directory shown takes the place of its numbers, and the
// totals above it follow; one of the start directory replaces the tree.
TEST(ViewTest, RescanCorrectsTheTotalsAbove) {
    Fixture f;
    f.Place.LeftBytes = 700;
    FakeScreen screen(100, 12);
    View view(screen, f.Tree, f.Root, f.Place, {"k", "/s", false, false, {}});
    screen.PushKey(KeyKind::Enter); // into beta
    screen.PushChars(U"rhx");
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("Here: 700 in 1 files  All: 2,020 in 13 files"), std::string::npos)
        << shown;
    screen.PushKey(KeyKind::Left);
    screen.PushChars(U"rx");
    view.Run();
    shown = Screen(screen);
    EXPECT_NE(shown.find("All: 700 in 1 files"), std::string::npos) << shown;
}

// Scrolling keeps the cursor's row on screen, and a smaller screen after a
// resize is drawn whole at its new size with the cursor still on it.
TEST(ViewTest, CursorStaysOnScreenThroughScrollAndResize) {
    Fixture f;
    for (int i = 0; i < 200; ++i)
        f.Place.Listings[""].push_back(
            File("file" + std::to_string(1000 + i), static_cast<std::uint64_t>(10 + i)));
    FakeScreen screen(80, 12);
    View view(screen, f.Tree, f.Root, f.Place, {"k", "/s", false, false, {}});
    screen.PushKey(KeyKind::PageDown);
    screen.PushKey(KeyKind::PageDown);
    screen.PushKey(KeyKind::Down);
    view.Run();
    std::string at = view.Items()[view.Cursor()].Name;
    auto selectedRow = [&](const FakeScreen& s) {
        for (int y = 0; y < s.Size().Y; ++y)
            if (s.LookAt(y, 2) == crt32_pipe::Attr::Selected)
                return s.Lines()[static_cast<std::size_t>(y)];
        return std::string();
    };
    EXPECT_NE(selectedRow(screen).find(at), std::string::npos) << Screen(screen);
    screen.SetSize(60, 6, true);
    screen.PushKey(KeyKind::Down);
    view.Run();
    EXPECT_EQ(screen.Lines().size(), 6U);
    std::string now = view.Items()[view.Cursor()].Name;
    EXPECT_NE(selectedRow(screen).find(now), std::string::npos) << Screen(screen);
    EXPECT_NE(screen.Lines()[5].find("Here:"), std::string::npos);
}

// Without Unicode the bar is ASCII; a hostile name is shown, never sent.
TEST(ViewTest, AsciiBarsAndSafeNames) {
    Fixture f;
    f.Place.Listings[""].push_back(File("evil\x1b[2J\x07name", 9000));
    FakeScreen screen(80, 12);
    screen.SetUnicode(false);
    View view(screen, f.Tree, f.Root, f.Place, {"k", "/s", false, false, {}});
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("[#####"), std::string::npos) << shown;
    EXPECT_NE(shown.find("evil?[2J?name"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
}

// A comparison: the change column, new and gone directories, gone ones
// greyed with their old numbers, and the change order by default.
TEST(ViewTest, ComparedTreeShowsChanges) {
    Fixture f;
    tree::Column<tree::CompareCells>& old = f.Tree.Compared();
    old[f.Root] = {5000, 10, tree::Mark::Both};
    old[f.Alpha] = {3000, 10, tree::Mark::Both}; // shrank by 2,000
    old[f.Beta] = {0, 0, tree::Mark::New};
    old[f.Gamma] = {0, 0, tree::Mark::New};
    tree::DirIndex gone = f.Tree.Add("delta");
    old[gone] = {777, 3, tree::Mark::Gone};
    f.Tree.Append(f.Root, f.Beta, gone);
    FakeScreen screen(100, 12);
    View view(screen, f.Tree, f.Root, f.Place, {"k", "/s", false, true, {}});
    screen.PushChars(U"h");
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("Sort: change"), std::string::npos) << shown;
    EXPECT_NE(shown.find("-2,000"), std::string::npos) << shown;
    EXPECT_NE(shown.find("new"), std::string::npos) << shown;
    EXPECT_NE(shown.find("gone"), std::string::npos) << shown;
    EXPECT_NE(shown.find("777"), std::string::npos) << shown;
    for (int y = 0; y < 12; ++y) {
        if (screen.Lines()[static_cast<std::size_t>(y)].find("delta") != std::string::npos &&
            y != 1) {
            EXPECT_EQ(screen.LookAt(y, 2), crt32_pipe::Attr::Dim);
        }
    }
}

// Over a history: each directory's rate and chart beside it, G orders by
// growth, w switches the window, the footer tells the forecast, and the
// rates follow the view into a subdirectory.
TEST(ViewTest, GrowthOverAHistory) {
    // Two days apart: alpha grows by 2,000 a day, beta shrinks, gamma in it too.
    std::deque<saved::SavedScan> scans;
    for (std::int64_t grow : {0, 4000}) {
        Fixture g;
        saved::SavedScan& s = scans.emplace_back();
        s.Tree = std::move(g.Tree);
        s.Root = g.Root;
        s.Tree.At(g.Alpha).TotalBytes = 1000 + grow;
        s.Tree.At(g.Beta).TotalBytes = 9000 - grow;
        s.Tree.At(g.Gamma).TotalBytes = 8000 - grow;
        s.Header = {true, 0, "/start", 100000, 50000 - grow};
    }
    const std::vector<history::KeptScan> kept = {{1000000, &scans[0]},
                                                 {1000000 + 2 * 86400, &scans[1]}};
    std::vector<std::int64_t> windows;
    GrowthView growth(
        [&](std::int64_t window, history::Growth& out) {
            windows.push_back(window);
            history::ComputeGrowth(kept, window, out);
            return true;
        },
        7 * 86400);
    Fixture f;
    FakeScreen screen(120, 12);
    ViewSetup setup{"k", "/s", false, false, {}};
    setup.Growth = &growth;
    View view(screen, f.Tree, f.Root, f.Place, setup);
    screen.PushChars(U"Gw");
    screen.PushKey(KeyKind::Enter);
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("Window: 30 days  full in 23 days"), std::string::npos) << shown;
    EXPECT_NE(shown.find("-2.0K/d"), std::string::npos) << shown; // gamma, in beta
    EXPECT_NE(shown.find("\u2588\u2581"), std::string::npos) << shown;
    EXPECT_EQ(windows, (std::vector<std::int64_t>{7 * 86400, 30 * 86400}));
    // Growth first: alpha, then beta; the cursor went to beta and into it.
    EXPECT_EQ(view.Items().front().Name, "gamma");
}

// After random deletions of directories and files in random trees, every
// total is the sum of what is left: own numbers and the subdirectories'.
TEST(EditsTest, TotalsStayTheSumOfWhatIsLeft) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        tree::DirTree t;
        std::vector<tree::DirIndex> dirs{t.Add("")};
        std::vector<tree::DirIndex> last{tree::NoDir};
        int n = 2 + static_cast<int>(rng() % 60);
        std::vector<tree::DirIndex> parent{tree::NoDir};
        for (int i = 1; i < n; ++i) {
            auto p = static_cast<std::size_t>(rng() % dirs.size());
            tree::DirIndex d = t.Add("d" + std::to_string(i));
            t.At(d).OwnBytes = rng() % 1000;
            t.At(d).OwnFiles = static_cast<std::int32_t>(rng() % 9);
            t.Browse()[d].OtherOwnBytes = rng() % 5000;
            last[p] = t.Append(dirs[p], last[p], d);
            dirs.push_back(d);
            last.push_back(tree::NoDir);
            parent.push_back(dirs[p]);
        }
        // Totals from the bottom up (children come after their parents).
        for (auto k = dirs.size(); k-- > 0;) {
            tree::DirIndex d = dirs[k];
            t.At(d).TotalBytes += t.At(d).OwnBytes;
            t.At(d).SetTotalFiles(t.At(d).TotalFiles() + t.At(d).OwnFiles);
            t.Browse()[d].OtherTotalBytes += t.Browse()[d].OtherOwnBytes;
            if (parent[k] == tree::NoDir) continue;
            tree::DirRecord& p = t.At(parent[k]);
            p.TotalBytes += t.At(d).TotalBytes;
            p.SetTotalFiles(p.TotalFiles() + t.At(d).TotalFiles());
            p.TotalDirs += t.At(d).TotalDirs + 1;
            t.Browse()[parent[k]].OtherTotalBytes += t.Browse()[d].OtherTotalBytes;
        }
        t.Parents(dirs[0]);
        for (int step = 0; step < 20; ++step) {
            std::vector<tree::DirIndex> live;
            for (tree::DirIndex d : dirs)
                if (t.IsLive(d) && (d == dirs[0] || t.Parents(dirs[0])[d] != tree::NoDir))
                    live.push_back(d);
            tree::DirIndex d = live[rng() % live.size()];
            if (d != dirs[0] && rng() % 2 == 0) {
                DropDir(t, d);
            } else if (t.At(d).OwnFiles > 0) {
                std::int64_t bytes = t.At(d).OwnBytes / t.At(d).OwnFiles;
                std::int64_t other = t.Browse()[d].OtherOwnBytes / t.At(d).OwnFiles;
                DropFile(t, d, bytes, other, 1);
            }
        }
        // Every directory still linked: its totals are its own numbers and
        // its subdirectories' totals.
        std::vector<tree::DirIndex> todo{dirs[0]};
        while (!todo.empty()) {
            tree::DirIndex d = todo.back();
            todo.pop_back();
            std::int64_t bytes = t.At(d).OwnBytes;
            std::int64_t files = t.At(d).OwnFiles;
            std::int64_t other = t.Browse()[d].OtherOwnBytes;
            std::int32_t below = 0;
            for (tree::DirIndex c = t.At(d).First; c != tree::NoDir; c = t.At(c).Next) {
                bytes += t.At(c).TotalBytes;
                files += t.At(c).TotalFiles();
                other += t.Browse()[c].OtherTotalBytes;
                below += t.At(c).TotalDirs + 1;
                todo.push_back(c);
            }
            ASSERT_EQ(t.At(d).TotalBytes, bytes) << "round " << round;
            ASSERT_EQ(t.At(d).TotalFiles(), files) << "round " << round;
            ASSERT_EQ(t.At(d).TotalDirs, below) << "round " << round;
            ASSERT_EQ(t.Browse()[d].OtherTotalBytes, other) << "round " << round;
        }
    }
}

} // namespace
} // namespace kelpo32::browse
