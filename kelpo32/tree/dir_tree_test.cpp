#include "kelpo32/tree/dir_tree.h"
#include "kelpo32/tree/merge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelpo32::tree {
namespace {

// The tree's records stay at 48 bytes: a million directories with their
// names fit in 64 MiB; and the browser's edits keep every total right.
TEST(DirTreeTest, AMillionDirectoriesFitIn64MiBAndEditsKeepTheTotals) {
    DirTree tree;
    constexpr DirIndex Count = 1000000;
    DirIndex root = tree.Add("");
    DirIndex last = NoDir;
    for (DirIndex i = 1; i < Count; ++i) {
        DirIndex d = tree.Add("directory-" + std::to_string(i % 100000));
        ASSERT_NE(d, NoDir);
        tree.At(d).TotalBytes = 1;
        tree.At(d).SetTotalFiles(2);
        last = tree.Append(root, last, d);
    }
    EXPECT_LE(tree.Bytes(), std::size_t{64} << 20);

    // A small tree: r holds a (holding b) and c.
    DirTree small;
    DirIndex r = small.Add("");
    DirIndex a = small.Add("a");
    DirIndex b = small.Add("b");
    DirIndex c = small.Add("c");
    small.Append(a, NoDir, b);
    small.Append(r, small.Append(r, NoDir, a), c);
    small.At(b).TotalBytes = 5;
    small.At(a).TotalBytes = 7;
    small.At(c).TotalBytes = 11;
    small.At(r).TotalBytes = 18;
    small.At(a).TotalDirs = 1;
    small.At(r).TotalDirs = 3;
    small.At(r).Subdirs = 2;
    small.Parents(r);
    // The other size kind: each subtree's bytes times 10.
    for (DirIndex i : {r, a, b, c})
        small.Browse()[i].OtherTotalBytes = small.At(i).TotalBytes * 10;
    // a is rescanned: it now holds 20 bytes and no subdirectory.
    DirTree rescan;
    DirIndex fresh = rescan.Add("");
    rescan.At(fresh).TotalBytes = 20;
    rescan.Browse()[fresh].OtherTotalBytes = 200;
    small.Replace(a, rescan, fresh);
    EXPECT_EQ(small.At(r).TotalBytes, 31);
    EXPECT_EQ(small.At(r).TotalDirs, 2);
    EXPECT_EQ(small.Browse()[r].OtherTotalBytes, 310);
    small.Remove(c);
    EXPECT_EQ(small.Browse()[r].OtherTotalBytes, 200);
    EXPECT_TRUE(small.OtherKindKnown());
    EXPECT_EQ(small.At(r).TotalBytes, 20);
    EXPECT_EQ(small.At(r).TotalDirs, 1);
    EXPECT_EQ(small.At(r).Subdirs, 1);
    std::vector<DirIndex> remap;
    small.Compact(remap);
    ASSERT_EQ(small.Size(), 2);
    EXPECT_EQ(small.Name(small.At(0).First), "a");
    EXPECT_EQ(small.At(small.At(0).First).TotalBytes, 20);
    EXPECT_EQ(small.At(small.At(0).First).Next, NoDir);
    // A rescan without the other kind leaves it unknown, not wrong.
    small.Parents(0);
    small.Replace(small.At(0).First, rescan, fresh);
    EXPECT_TRUE(small.OtherKindKnown());
    DirTree plain;
    plain.Add("");
    small.Replace(small.At(0).First, plain, 0);
    EXPECT_FALSE(small.OtherKindKnown());
}

// The names of a chain with each one's mark in a compared tree.
std::vector<std::string> Chain(const DirTree& tree, DirIndex parent) {
    std::vector<std::string> names;
    for (DirIndex c = tree.At(parent).First; c != NoDir; c = tree.At(c).Next) {
        std::string name =
            tree.IsMore(c) ? "+" + std::to_string(tree.At(c).Subdirs) : std::string(tree.Name(c));
        if (const Column<CompareCells>* cells = tree.ComparedIfAny())
            name += "NGB"[static_cast<int>((*cells)[c].State)];
        names.push_back(name);
    }
    return names;
}

// The comparison is a tree of its own: a "more" record stays one, the
// browser's cells come along, and neither scan it compares changes, not even
// where a directory is left out as not known to be new: one the older scan
// may have folded into its "more" record is neither new nor changed, and a
// gone subtree leaves the "more" records it held behind.
TEST(MergeTest, TheComparedTreeIsItsOwnAndBothScansStayAsTheyWere) {
    // Now: r holds a (holding x), n and "2 more"; the older scan r holds
    // a (its listing had 2 subdirectories, y alone kept), g (holding z and
    // "1 more") and "1 more".
    DirTree now;
    DirIndex r = now.Add("");
    DirIndex a = now.Add("a");
    DirIndex x = now.Add("x");
    DirIndex n = now.Add("n");
    DirIndex more = now.AddMore(2);
    now.Append(a, NoDir, x);
    now.Append(r, now.Append(r, now.Append(r, NoDir, a), n), more);
    now.Browse()[a].Identity.Volume = 7;
    DirTree old;
    DirIndex oldRoot = old.Add("");
    DirIndex oldA = old.Add("a");
    DirIndex g = old.Add("g");
    old.Append(oldA, NoDir, old.Add("y"));
    old.Append(oldRoot, old.Append(oldRoot, old.Append(oldRoot, NoDir, oldA), g), old.AddMore(1));
    old.Append(g, old.Append(g, NoDir, old.Add("z")), old.AddMore(1));
    old.At(oldRoot).Subdirs = 3;
    old.At(oldA).Subdirs = 2;
    old.At(oldA).TotalBytes = 40;
    old.At(g).TotalBytes = 9;

    DirTree merged;
    DirIndex top = MergeOlder(now, r, old, oldRoot, merged);
    EXPECT_EQ(Chain(merged, top), (std::vector<std::string>{"aB", "+2N", "gG"}));
    DirIndex copyOfA = merged.At(top).First;
    EXPECT_EQ(Chain(merged, copyOfA), (std::vector<std::string>{"yG"}));
    DirIndex copyOfG = merged.At(merged.At(copyOfA).Next).Next;
    ASSERT_NE(copyOfG, NoDir);
    EXPECT_EQ(Chain(merged, copyOfG), (std::vector<std::string>{"zG"}));
    EXPECT_EQ(merged.Compared()[copyOfA].OldBytes, 40);
    EXPECT_EQ(merged.Compared()[merged.At(copyOfA).Next].OldBytes, 0);
    ASSERT_NE(merged.BrowseIfAny(), nullptr);
    EXPECT_EQ((*merged.BrowseIfAny())[copyOfA].Identity.Volume, 7U);

    EXPECT_EQ(now.ComparedIfAny(), nullptr);
    EXPECT_EQ(old.ComparedIfAny(), nullptr);
    EXPECT_EQ(Chain(now, r), (std::vector<std::string>{"a", "n", "+2"}));
    EXPECT_EQ(Chain(now, a), (std::vector<std::string>{"x"}));
    EXPECT_EQ(Chain(old, oldRoot), (std::vector<std::string>{"a", "g", "+1"}));
    EXPECT_EQ(Chain(old, g), (std::vector<std::string>{"z", "+1"}));
}

} // namespace
} // namespace kelpo32::tree
