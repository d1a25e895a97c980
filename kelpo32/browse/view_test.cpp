#include "kelpo32/browse/edits.h"
#include "kelpo32/browse/keys.h"
#include "kelpo32/browse/linked.h"
#include "kelpo32/browse/saved_file_system.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/testing/fake_screen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace kelpo32::browse {
namespace {

using crt32_pipe::KeyKind;
using testing::FakeScreen;

// A directory in memory: a listing per directory on screen, deletions that
// succeed or fail as the test says (a directory only with the identity it
// has now), and rescans that find what is left.
class MemoryFileSystem final : public FileSystem {
  public:
    std::map<std::string, std::vector<runtime::DirEntry>> Listings; // by path below the start
    std::map<std::string, runtime::DirIdentity> Now; // directories' identities now, by name
    std::string FailOn;                              // a deletion of this name fails
    std::string LockedWhy;
    bool OutOfDescriptors = false; // every Enter is refused
    std::vector<std::string> Removed;
    std::int64_t LeftBytes = 0; // what a rescan after a failed deletion finds
    // While a deletion runs: the time it takes, the keys typed meanwhile;
    // false stops it.
    std::function<bool(const runtime::RemoveControl&)> During;

    std::string Locked() const override { return LockedWhy; }
    bool List(std::vector<runtime::DirEntry>& entries, std::string& why) override {
        auto it = Listings.find(Here());
        if (it == Listings.end()) {
            why = "permission denied";
            return false;
        }
        entries = it->second;
        return true;
    }
    bool Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& /*identity*/,
               std::string& why) override {
        if (OutOfDescriptors) {
            why = "too many open files";
            return false;
        }
        if (entry == nullptr) why = "not on disk now";
        path_.push_back(entry != nullptr ? entry->Name : std::string("?"));
        return true;
    }
    void Leave() override { path_.pop_back(); }
    Removal Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& identity,
                   bool directory, const runtime::RemoveControl& control) override {
        Removal done;
        if (During && !During(control)) {
            done.Report.Cancelled = true;
            return done;
        }
        bool other = directory && Now.contains(entry.Name) && !(Now[entry.Name] == identity);
        if (entry.Name == FailOn || other || (directory && identity.File == 0)) {
            done.Report.Failures = 1;
            done.Failure = entry.Name +
                           (other ? ": changed since it was scanned" : "/stuck: permission denied");
            return done;
        }
        Removed.push_back(entry.Name);
        std::erase_if(Listings[Here()],
                      [&](const runtime::DirEntry& e) { return e.Name == entry.Name; });
        return done;
    }
    bool Rescan(const runtime::DirEntry* entry, const runtime::DirIdentity& /*identity*/,
                Rescanned& into, std::string& /*why*/) override {
        tree::DirIndex root = into.Tree.Add(entry != nullptr ? entry->Name : "");
        into.Root = root;
        into.Tree.At(root).TotalBytes = LeftBytes;
        into.Tree.At(root).OwnBytes = LeftBytes;
        into.Tree.At(root).OwnFiles = 1;
        into.Tree.At(root).SetTotalFiles(1);
        into.Tree.Browse()[root].OtherTotalBytes = LeftBytes;
        if (entry != nullptr && Now.contains(entry->Name)) into.Identity = Now[entry->Name];
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
    e.Device = 1;
    e.Inode = 7000 + size;
    return e;
}

runtime::DirEntry Dir(std::string name, std::uint64_t inode) {
    runtime::DirEntry e;
    e.Name = std::move(name);
    e.Type = runtime::EntryType::Directory;
    e.Device = 1;
    e.Inode = inode;
    return e;
}

// The start holds alpha (10 files, 1,000 bytes), beta (2 files, 5,000
// bytes, holding gamma of 1 file, 4,000 bytes), and the files f1 (300
// bytes) and f2 (20 bytes, taking two blocks on disk).
struct Fixture {
    tree::DirTree Tree;
    tree::DirIndex Root, Alpha, Beta, Gamma;
    MemoryFileSystem Files;

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
        runtime::DirEntry f2 = File("f2", 20);
        f2.DiskBytes = 8192;
        Files.Listings[""] = {Dir("alpha", 101), Dir("beta", 102), File("f1", 300), f2};
        Files.Listings["/beta"] = {Dir("gamma", 103), File("b1", 1000)};
        Files.Listings["/alpha"] = {};
    }
    void Set(tree::DirIndex d, std::int64_t own, std::int64_t total, std::int32_t ownFiles,
             std::int64_t files) {
        Tree.At(d).OwnBytes = own;
        Tree.At(d).TotalBytes = total;
        Tree.At(d).OwnFiles = ownFiles;
        Tree.At(d).SetTotalFiles(files);
        // The other size kind: whole blocks of 4 KiB.
        Tree.Browse()[d].OtherTotalBytes = total * 4;
        Tree.Browse()[d].Identity = {1, static_cast<std::uint64_t>(100 + d)};
        if (d != Root) Files.Now[std::string(Tree.Name(d))] = Tree.Browse()[d].Identity;
    }
};

std::string Screen(const FakeScreen& screen) {
    std::string all;
    for (const std::string& line : screen.Lines())
        all += line + "\n";
    return all;
}

// Journeys change the fixture so.
enum class Twist : std::uint8_t {
    None,
    OneKind,      // the tree knows one size kind (a JSON Lines scan)
    StartNotHeld, // the file system cannot change anything
    AlphaUnread,  // the scan could not read alpha; it was swapped since
    BetaSwapped,  // beta's listing is another directory than the scan's
    NewFile,      // a file of 5 MB made since the scan
    OutOfHandles, // no directory can be opened
};

struct Journey {
    const char* Name;
    std::u32string Keys;         // characters, "~" a pause; the arrows and others below
    std::vector<KeyKind> Before; // keys before the characters
    std::vector<std::string> Shows;
    std::vector<std::string> Hides;
    const char* Selected = nullptr; // the item under the cursor at the end
    std::vector<std::string> Removes = {};
    Twist Change = Twist::None;
    const char* Top = nullptr; // the first item at the end
    std::string Locked = {};
};

constexpr std::int64_t ScanStart = 1'000'000'000;

class JourneyTest : public ::testing::TestWithParam<Journey> {};

TEST_P(JourneyTest, KeysGiveTheScreen) {
    const Journey& j = GetParam();
    Fixture f;
    switch (j.Change) {
    case Twist::None:
        break;
    case Twist::OneKind:
        f.Tree.SetOtherKindUnknown();
        break;
    case Twist::StartNotHeld:
        f.Files.LockedWhy = "start not held";
        break;
    case Twist::AlphaUnread:
        // The later listing names another inode than the directory the
        // browser reads itself now.
        f.Tree.Browse()[f.Alpha].Identity = {};
        f.Tree.SetTrouble(f.Alpha, walk::DirProblem::Unreadable, "permission denied", false);
        f.Files.Listings[""][0].Inode = 555;
        f.Files.Now["alpha"] = {1, 999};
        break;
    case Twist::BetaSwapped:
        f.Files.Listings[""][1].Inode = 556;
        break;
    case Twist::NewFile: {
        runtime::DirEntry late = File("late", 5000000);
        late.Changed = ScanStart + 1;
        f.Files.Listings[""].push_back(late);
        break;
    }
    case Twist::OutOfHandles:
        f.Files.OutOfDescriptors = true;
        break;
    }
    FakeScreen screen(100, 12);
    ViewSetup setup{"kelpo32 9.9", "/start", false, false, j.Locked};
    setup.ScanStart = ScanStart;
    View view(screen, f.Tree, f.Root, f.Files, setup);
    for (KeyKind k : j.Before)
        screen.PushKey(k);
    for (char32_t c : j.Keys)
        if (c == U'~')
            screen.PushPause();
        else
            screen.PushKey(KeyKind::Char, c);
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
    EXPECT_EQ(f.Files.Removed, j.Removes) << shown;
    // Whatever happened, the footer ends with the size kind and the help.
    const std::string footer = screen.Lines().back();
    EXPECT_TRUE(footer.ends_with("Apparent size  ? help") || footer.ends_with("Disk usage  ? help"))
        << footer;
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
    {"ByName", U"n", {}, {"Sort: name"}, {"reversed"}, "beta", {}, {}, "alpha"},
    {"ByNameReversed", U"nn", {}, {"Sort: name (reversed)"}, {}, "beta", {}, {}, "f2"},
    {"ByFiles", U"c", {}, {"Sort: files"}, {}, "beta", {}, {}, "alpha"},
    // Size is the order at the start: s again reverses it.
    {"BySizeReversed", U"s", {}, {"Sort: size (reversed)"}, {}, "beta", {}, {}, "f2"},
    // The files follow the size kind too: on disk f2 takes more than alpha.
    {"OtherKindOrdersFilesToo", U"as", {}, {"Disk usage"}, {}, "beta", {}, {}, "alpha"},
    {"Open", U"", {KeyKind::Enter}, {"/start/beta", "gamma/", "b1"}, {"alpha/"}, "gamma"},
    {"OpenThenUp", U"", {KeyKind::Enter, KeyKind::Left}, {"alpha/"}, {"/start/beta"}, "beta"},
    // Going up selects the directory just left, wherever it is.
    {"UpSelectsTheDirectoryLeft",
     U"",
     {KeyKind::Down, KeyKind::Enter, KeyKind::Left},
     {},
     {},
     "alpha"},
    {"FileIsNotOpened", U"", {KeyKind::End, KeyKind::Right}, {"f1"}, {"/start/"}, "f2"},
    {"UnlistedDirectory", U"", {KeyKind::Down, KeyKind::Enter}, {"/start/alpha"}, {}, nullptr},
    {"OutOfDescriptorsRefusesTheStep",
     U"",
     {KeyKind::Enter},
     {"Cannot open beta: too many open files", "alpha/"},
     {"/start/beta"},
     "beta",
     {},
     Twist::OutOfHandles},
    {"Exact", U"h", {}, {"5,000", "Here: 6,320 in 14 files"}, {}, "beta"},
    {"OtherKind", U"a", {}, {"Disk usage", "20K"}, {"Apparent size"}, "beta"},
    {"OtherKindNotInTheScan",
     U"a",
     {},
     {"Disk usage unknown", "Apparent size"},
     {"Disk usage  ?"},
     "beta",
     {},
     Twist::OneKind},
    {"Info",
     U"i",
     {},
     {"Path:  /start/beta", "Files:  2 (1 directly in it)", "Directories below:  1"},
     {},
     "beta"},
    {"InfoOtherKindUnknown", U"i", {}, {"Disk usage:  unknown"}, {}, "beta", {}, Twist::OneKind},
    {"Help", U"?", {}, {"Keys", "the entry above", "Down: more"}, {}, "beta"},
    {"HelpClosed", U"?~x", {}, {}, {"Keys"}, "beta"},
    // Only the question of a deletion takes y.
    {"HelpThenYDeletesNothing", U"?~y", {}, {}, {"Deleted"}, "beta"},
    {"DeleteRefused", U"d~n", {}, {"Kept beta", "beta/"}, {"Delete /start"}, "beta"},
    {"DeleteAsks",
     U"d",
     {},
     {"Delete /start/beta ?", "It holds 2 files, 4.9K", "y: delete"},
     {},
     "beta"},
    {"DeleteDirectory", U"d~y", {}, {"Deleted beta"}, {"beta/"}, "alpha", {"beta"}},
    {"DeleteFile", U"d~y", {KeyKind::End}, {"Deleted f2"}, {"0.3%"}, "f1", {"f2"}},
    {"DeleteKey", U"~y", {KeyKind::Delete}, {"Deleted beta"}, {}, "alpha", {"beta"}},
    // Keys typed before the question was drawn answer nothing.
    {"TypedAheadIsThrownAway", U"dydy", {}, {"Delete /start/beta ?"}, {}, "beta"},
    {"TypedAheadPastTheQuestion", U"d~ydy", {}, {"Deleted beta"}, {}, "alpha", {"beta"}},
    {"ChangeWithoutOlder", U"C", {}, {"No older scan"}, {}, "beta"},
    {"GrowthWithoutHistory", U"Gw", {}, {"No history to show the growth of"}, {"/d"}, "beta"},
    {"ReadOnly",
     U"d",
     {},
     {"Deletion is off: read-only", "[read-only]"},
     {"Delete /start"},
     "beta",
     {},
     Twist::None,
     nullptr,
     "read-only"},
    {"StartNotHeld",
     U"dr",
     {},
     {"Rescan is off: start not held", "[start not held]"},
     {"Delete /start"},
     "beta",
     {},
     Twist::StartNotHeld},
    // What the scan could not read is read by the browser itself, shown,
    // and deleted by that reading's identity only.
    {"UnreadDirectoryIsReadAndAskedAgain",
     U"d",
     {KeyKind::Down},
     {"The scan did not read it (not read: permission denied)", "Read now: it holds 1 file"},
     {},
     "alpha",
     {},
     Twist::AlphaUnread},
    {"UnreadDirectoryGoesByTheBrowsersReading",
     U"d~y",
     {KeyKind::Down},
     {"Deleted alpha"},
     {},
     nullptr,
     {"alpha"},
     Twist::AlphaUnread},
    {"SwappedDirectoryIsRefused",
     U"d",
     {},
     {"Not deleted: beta is not the directory that was scanned"},
     {"Delete /start"},
     "beta",
     {},
     Twist::BetaSwapped},
    // A file made since the scan is in no total, before and after it goes.
    {"NewFileIsApart",
     U"",
     {},
     {"(4.8M)", "* late", "Here: 6.2K in 14 files"},
     {},
     "late",
     {},
     Twist::NewFile},
    {"NewFileGoesWithoutTheTotals",
     U"d~y",
     {},
     {"Deleted late", "Here: 6.2K in 14 files"},
     {},
     "beta",
     {"late"},
     Twist::NewFile},
};

INSTANTIATE_TEST_SUITE_P(Journeys, JourneyTest, ::testing::ValuesIn(Journeys),
                         [](const auto& param) { return std::string(param.param.Name); });

// Queues `keys` as typed: "~" is a pause, after which keys come once the
// screen showed what the ones before did.
void Type(FakeScreen& screen, std::u32string_view keys) {
    for (char32_t c : keys)
        if (c == U'~')
            screen.PushPause();
        else
            screen.PushKey(KeyKind::Char, c);
}

// The numbers on screen follow a deletion without a rescan: the files and
// bytes of the directory shown and of the start; the message stays through
// a change of the screen's size.
TEST(ViewTest, DeletionCorrectsEveryTotal) {
    Fixture f;
    FakeScreen screen(100, 12);
    View view(screen, f.Tree, f.Root, f.Files, {"k", "/s", false, false, {}});
    screen.PushKey(KeyKind::Enter); // into beta
    Type(screen, U"hd~y");          // gamma goes: the totals show at once
    screen.SetSize(90, 12, true);
    view.Run();
    EXPECT_EQ(f.Files.Removed, std::vector<std::string>{"gamma"});
    EXPECT_EQ(f.Tree.At(f.Beta).TotalBytes, 1000);
    EXPECT_EQ(f.Tree.At(f.Root).TotalBytes, 2320);
    EXPECT_EQ(f.Tree.At(f.Root).TotalFiles(), 13);
    EXPECT_EQ(f.Tree.Browse()[f.Root].OtherTotalBytes, 6320 * 4 - 4000 * 4);
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("Here: 1,000 in 1 file  All: 2,320 in 13 files"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("Deleted gamma"), std::string::npos) << shown;
}

// A file of several links counts where the walk met it first: another link
// shows its bytes apart, a link's deletion leaves the totals while another
// link in the tree is left, and the last one takes the file out; with every
// link counted, each deletion takes its own bytes.
TEST(ViewTest, LinksCountWhereTheWalkCountedThem) {
    for (bool countLinks : {false, true}) {
        SCOPED_TRACE(countLinks);
        Fixture f;
        runtime::DirEntry a = File("a", 100000, 2);
        runtime::DirEntry b = a;
        b.Name = "b";
        runtime::DirEntry solo = File("solo", 50000, 2); // its other link is outside
        f.Files.Listings[""].insert(f.Files.Listings[""].end(), {a, b, solo});
        std::int64_t added = countLinks ? 250000 : 150000;
        for (tree::DirIndex d : {f.Root}) {
            f.Tree.At(d).OwnBytes += added;
            f.Tree.At(d).TotalBytes += added;
            f.Tree.At(d).OwnFiles += countLinks ? 3 : 2;
            f.Tree.At(d).SetTotalFiles(f.Tree.At(d).TotalFiles() + (countLinks ? 3 : 2));
        }
        LinkedFiles links(f.Tree, false);
        links.Met(1, a.Inode, 100000, 102400, f.Root);
        links.Met(1, a.Inode, 100000, 102400, f.Root);
        links.Met(1, solo.Inode, 50000, 53248, f.Root);
        FakeScreen screen(100, 14);
        ViewSetup setup{"k", "/s", false, false, {}, countLinks};
        setup.Links = countLinks ? nullptr : &links;
        View view(screen, f.Tree, f.Root, f.Files, setup);
        view.Run();
        std::string shown = Screen(screen);
        // The rows agree with "Here".
        EXPECT_EQ(shown.find("(98K)") != std::string::npos, !countLinks) << shown;
        auto total = [&] { return f.Tree.At(f.Root).TotalBytes; };
        auto remove = [&](std::size_t at) {
            screen.PushKey(KeyKind::Home);
            for (std::size_t k = 0; k < at; ++k)
                screen.PushKey(KeyKind::Down);
            Type(screen, U"d~y");
            view.Run();
        };
        remove(2); // solo: its last link in the tree
        EXPECT_EQ(total(), 6320 + added - 50000);
        remove(1); // b, not the counted link
        EXPECT_EQ(total(), 6320 + added - 50000 - (countLinks ? 100000 : 0));
        remove(0); // a, the last link of the two
        EXPECT_EQ(total(), 6320);
        EXPECT_EQ(f.Files.Removed, (std::vector<std::string>{"solo", "b", "a"}));
    }
}

// A deletion that fails names what could not go, and what is left is
// counted again: its numbers and the totals above it are what the rescan
// found.
TEST(ViewTest, FailedDeletionSaysWhyAndRecounts) {
    Fixture f;
    f.Files.FailOn = "beta";
    f.Files.LeftBytes = 700;
    FakeScreen screen(100, 12);
    View view(screen, f.Tree, f.Root, f.Files, {"k", "/s", false, false, {}});
    Type(screen, U"d~y");
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("Could not delete beta/stuck: permission denied"), std::string::npos)
        << shown;
    EXPECT_EQ(f.Tree.At(f.Root).TotalBytes, 6320 - 5000 + 700);
    EXPECT_EQ(f.Tree.At(f.Root).TotalFiles(), 14 - 2 + 1);
    ASSERT_FALSE(view.Items().empty());
    EXPECT_EQ(view.Items()[view.Cursor()].Name, "beta"); // the one that stays
}

// A deletion that takes longer than a moment shows its progress in a box;
// keys typed meanwhile are not replayed after it; Esc stops it, what is
// left is counted again, and the browser goes on.
TEST(ViewTest, LongDeletionShowsProgressAndStopsAtEsc) {
    for (bool esc : {false, true}) {
        SCOPED_TRACE(esc);
        Fixture f;
        f.Files.LeftBytes = 700;
        FakeScreen screen(100, 14);
        std::string during;
        f.Files.During = [&](const runtime::RemoveControl& control) {
            runtime::RemoveReport r;
            r.Files = 3;
            r.Bytes = 3000;
            control.Progress(r);
            during = Screen(screen);
            // Typed while it runs, after the box was drawn.
            if (!esc) Type(screen, U"dy");
            if (!esc) return true;
            screen.PushKey(KeyKind::Escape);
            return control.Progress(r);
        };
        ViewSetup setup{"k", "/s", false, false, {}};
        setup.Moment = std::chrono::milliseconds(0);
        View view(screen, f.Tree, f.Root, f.Files, setup);
        Type(screen, U"d~y");
        view.Run();
        EXPECT_NE(during.find("Deleting /s"), std::string::npos) << during;
        EXPECT_NE(during.find("3 files, 0 directories, 3.0K removed so far"), std::string::npos)
            << during;
        std::string shown = Screen(screen);
        if (esc) {
            EXPECT_TRUE(f.Files.Removed.empty());
            EXPECT_NE(shown.find("Stopped"), std::string::npos) << shown;
            EXPECT_EQ(f.Tree.At(f.Root).TotalBytes, 6320 - 5000 + 700);
        } else {
            EXPECT_EQ(f.Files.Removed, std::vector<std::string>{"beta"});
            EXPECT_EQ(screen.KeysLeft(), 0U);
        }
        f.Files.During = nullptr;
        Type(screen, U"n");
        view.Run();
        EXPECT_NE(Screen(screen).find("Sort: name"), std::string::npos);
    }
}

// A rescan of the directory shown takes the place of its numbers, and the
// totals above it follow; one of the start directory replaces the tree.
TEST(ViewTest, RescanCorrectsTheTotalsAbove) {
    Fixture f;
    f.Files.LeftBytes = 700;
    FakeScreen screen(100, 12);
    View view(screen, f.Tree, f.Root, f.Files, {"k", "/s", false, false, {}});
    screen.PushKey(KeyKind::Enter); // into beta
    screen.PushChars(U"rhx");
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("Here: 700 in 1 file  All: 2,020 in 13 files"), std::string::npos)
        << shown;
    screen.PushKey(KeyKind::Left);
    screen.PushChars(U"rx");
    view.Run();
    shown = Screen(screen);
    EXPECT_NE(shown.find("All: 700 in 1 file"), std::string::npos) << shown;
}

// The help is the table of keys, every one of them, and fits a small
// screen: each row inside the box, the rest reached by scrolling.
TEST(ViewTest, HelpListsEveryKeyAndFitsASmallScreen) {
    Fixture f;
    FakeScreen screen(40, 10);
    View view(screen, f.Tree, f.Root, f.Files, {"k", "/s", false, false, {}});
    screen.PushChars(U"?");
    std::string seen;
    for (int k = 0; k < 60; ++k) {
        view.Run();
        for (const std::string& line : screen.Lines()) {
            // A row of the box ends with its right edge.
            if (line.find("\xE2\x94\x82") != std::string::npos) {
                EXPECT_TRUE(line.ends_with("\xE2\x94\x82")) << line;
            }
            seen += line + "\n";
        }
        screen.PushKey(KeyKind::Down);
    }
    for (const KeyRow& row : KeyTable()) {
        EXPECT_NE(seen.find(KeysOf(row)), std::string::npos) << KeysOf(row);
        EXPECT_NE(seen.find(row.Help.substr(0, 12)), std::string::npos) << row.Help;
    }
    EXPECT_NE(seen.find("made since the scan"), std::string::npos);
}

// At 80 columns and less the footer shortens its other words first: the
// size kind and the help stay whole.
TEST(ViewTest, FooterKeepsTheKindAndTheHelp) {
    Fixture f;
    f.Tree.At(f.Root).TotalBytes = 1234567890123;
    f.Tree.At(f.Root).SetTotalFiles(12345678);
    for (int width : {80, 60, 40}) {
        FakeScreen screen(width, 24);
        View view(screen, f.Tree, f.Root, f.Files, {"k", "/s", false, false, {}});
        screen.PushChars(U"h");
        view.Run();
        EXPECT_TRUE(screen.Lines().back().ends_with("Apparent size  ? help"))
            << width << ": " << screen.Lines().back();
    }
}

// Scrolling keeps the cursor's row on screen, and a smaller screen after a
// resize is drawn whole at its new size with the cursor still on it.
TEST(ViewTest, CursorStaysOnScreenThroughScrollAndResize) {
    Fixture f;
    for (int i = 0; i < 200; ++i)
        f.Files.Listings[""].push_back(
            File("file" + std::to_string(1000 + i), static_cast<std::uint64_t>(10 + i)));
    FakeScreen screen(80, 12);
    View view(screen, f.Tree, f.Root, f.Files, {"k", "/s", false, false, {}});
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

// Without Unicode the bar is ASCII; a hostile name is shown, never sent; a
// long name is cut with an ellipsis, a directory's keeping its "/".
TEST(ViewTest, AsciiBarsSafeNamesAndCutNames) {
    Fixture f;
    f.Files.Listings[""].push_back(File("evil\x1b[2J\x07name", 9000));
    f.Files.Listings[""].push_back(File(std::string(150, 'x'), 9));
    f.Tree.Append(f.Root, f.Beta, f.Tree.Add(std::string(150, 'd')));
    FakeScreen screen(80, 12);
    screen.SetUnicode(false);
    View view(screen, f.Tree, f.Root, f.Files, {"k", "/s", false, false, {}});
    view.Run();
    std::string shown = Screen(screen);
    EXPECT_NE(shown.find("[#####"), std::string::npos) << shown;
    EXPECT_NE(shown.find("evil?[2J?name"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    for (const std::string& line : screen.Lines()) {
        if (line.find("ddddd") != std::string::npos) {
            EXPECT_TRUE(line.ends_with("dd.../")) << line;
        }
        if (line.find("xxxxx") != std::string::npos) {
            EXPECT_TRUE(line.ends_with("xx...")) << line;
        }
        EXPECT_LE(line.size(), 80U) << line;
    }
}

// A comparison: the change column, new and gone directories, gone ones
// greyed with their old numbers, and the order by the size of the change,
// grown or shrunk, by default; C again reverses it. A rescan keeps the
// older scan's numbers of the directory rescanned.
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
    tree::DirTree older;
    tree::DirIndex olderRoot = older.Add("");
    tree::DirIndex olderAlpha = older.Add("alpha");
    older.At(olderAlpha).TotalBytes = 3000;
    older.Append(olderRoot, tree::NoDir, olderAlpha);
    FakeScreen screen(100, 12);
    ViewSetup setup{"k", "/s", false, true, {}};
    setup.Older = &older;
    setup.OlderRoot = olderRoot;
    View view(screen, f.Tree, f.Root, f.Files, setup);
    screen.PushChars(U"h");
    view.Run();
    std::vector<std::string> order;
    for (const Item& item : view.Items())
        order.push_back(item.Name);
    EXPECT_EQ(order, (std::vector<std::string>{"beta", "alpha", "delta", "f1", "f2"}));
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
    screen.PushChars(U"C");
    view.Run();
    EXPECT_EQ(view.Items().back().Name, "beta");
    f.Files.LeftBytes = 700;
    screen.PushChars(U"C");
    screen.PushKey(KeyKind::Down);
    screen.PushKey(KeyKind::Enter);
    screen.PushChars(U"r");
    screen.PushKey(KeyKind::Left);
    view.Run();
    shown = Screen(screen);
    EXPECT_NE(shown.find("-2,300"), std::string::npos) << shown;
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
    View view(screen, f.Tree, f.Root, f.Files, setup);
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

// A saved scan on screen: an ncdu export read for the browser lists the
// files of each directory it holds, with both sizes and what they are;
// JSON Lines holds directories only, and the footer says so.
TEST(ViewTest, ASavedScanListsTheFilesItHolds) {
    auto load = [](const std::string& text, saved::SavedScan& scan) {
        std::FILE* f = std::fopen("view_test.tmp", "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        std::string error;
        ASSERT_TRUE(saved::LoadSavedScan("view_test.tmp", false, false, scan, error, true))
            << error;
        std::remove("view_test.tmp");
    };
    saved::SavedScan scan;
    load(R"([1,2,{},[{"name":"r"},{"name":"top","asize":5},
        [{"name":"leaf"},{"name":"big","asize":3000,"dsize":4096},
         {"name":"link","asize":100,"dsize":512,"ino":4,"nlink":2},
         {"name":"sym","asize":9,"notreg":true}]]])",
         scan);
    SavedFileSystem place(scan.Tree);
    FakeScreen screen(80, 12);
    View view(screen, scan.Tree, scan.Root, place, {"k", "r", false, false, "saved scan"});
    screen.PushKey(KeyKind::Enter); // into leaf, the largest
    screen.PushChars(U"a");         // and its disk usage
    view.Run();
    ASSERT_EQ(view.Items().size(), 3U) << Screen(screen);
    const Item& big = view.Items()[0];
    EXPECT_EQ(big.Name, "big");
    EXPECT_EQ(big.Bytes, 4096);
    EXPECT_EQ(view.Items()[1].Name, "link");
    EXPECT_EQ(view.Items()[1].Why, Flag::HardLink);
    EXPECT_EQ(view.Items()[2].Name, "sym");
    EXPECT_EQ(view.Items()[2].Why, Flag::Other);
    EXPECT_EQ(Screen(screen).find("directories only"), std::string::npos);

    load(R"({"path":"r","depth":0,"files":2,"bytes":7,"dirs":0,"total_files":2,)"
         R"("total_bytes":7,"total_dirs":0})",
         scan);
    SavedFileSystem lines(scan.Tree);
    FakeScreen second(100, 12);
    ViewSetup setup{"k", "r", false, false, "saved scan"};
    setup.DirectoriesOnly = scan.Tree.FilesIfAny() == nullptr;
    View none(second, scan.Tree, scan.Root, lines, setup);
    none.Run();
    EXPECT_TRUE(none.Items().empty());
    EXPECT_NE(Screen(second).find("[saved scan] directories only"), std::string::npos)
        << Screen(second);
}

} // namespace
} // namespace kelpo32::browse
