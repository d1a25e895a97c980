// The browser's file system on a real tree while the tree changes under it:
// the start directory and every level held are the directories the walk
// scanned, whatever their paths lead to now.
#include "kelpo32/browse/disk_file_system.h"
#include "kelpo32/browse/held_start.h"
#include "kelpo32/tree/builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace kelpo32::browse {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, std::size_t size) {
    std::ofstream(file) << std::string(size, 'x');
}

// Calls `swap` once, when the walk reaches the directory named `at`.
class SwapDuringWalk final : public walk::WalkConsumer {
  public:
    SwapDuringWalk(std::string at, std::function<void()> swap)
        : at_(std::move(at)), swap_(std::move(swap)) {}
    void DirStart(const walk::WalkDir& dir) override {
        if (dir.Name == at_ && swap_) std::exchange(swap_, nullptr)();
    }

  private:
    std::string at_;
    std::function<void()> swap_;
};

class DiskFileSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("kelpo32-dfs-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "t" / "p" / "q");
        fs::create_directories(root_ / "outside" / "p");
        Write(root_ / "t" / "PRECIOUS.bin", 3);
        Write(root_ / "t" / "p" / "mine", 5);
        Write(root_ / "outside" / "PRECIOUS.bin", 7000);
        Write(root_ / "outside" / "p" / "theirs", 9000);
    }
    void TearDown() override { fs::remove_all(root_); }

    // Walks t as the browser does, with `swap` when the walk reaches `at`,
    // and makes the file system of what it kept.
    std::unique_ptr<DiskFileSystem> Browse(const std::string& at = {},
                                           std::function<void()> swap = {}) {
        HeldStart start;
        tree::TreeBuilder builder(tree::Selection{}, 0, true);
        SwapDuringWalk swapper(at, std::move(swap));
        walk::ConsumerList run;
        run.Add(swapper);
        run.Add(builder);
        std::string path = (root_ / "t").string();
        walk::WalkTreeFrom(start, walk::WalkLimits{}, path, "", walk_, run);
        runtime::DirHandle held;
        runtime::DirIdentity id;
        EXPECT_TRUE(start.Take(held, id));
        EXPECT_EQ(builder.Tree().Browse()[builder.Root()].Identity, id);
        return std::make_unique<DiskFileSystem>(std::move(held), id, path, "", walk_, "");
    }
    static const runtime::DirEntry* Find(const std::vector<runtime::DirEntry>& entries,
                                         const std::string& name) {
        for (const runtime::DirEntry& e : entries)
            if (e.Name == name) return &e;
        return nullptr;
    }

    fs::path root_;
    walk::WalkOptions walk_;
};

// The start swapped for a link to outside while the walk runs: the browser
// lists, rescans and deletes in the directory the walk scanned.
TEST_F(DiskFileSystemTest, StartSwappedDuringTheWalkStaysTheScannedOne) {
    auto disk = Browse("p", [&] {
        fs::rename(root_ / "t", root_ / "t.old");
        fs::create_directory_symlink(root_ / "outside", root_ / "t");
    });
    std::vector<runtime::DirEntry> entries;
    std::string why;
    ASSERT_TRUE(disk->List(entries, why)) << why;
    const runtime::DirEntry* precious = Find(entries, "PRECIOUS.bin");
    ASSERT_NE(precious, nullptr);
    EXPECT_EQ(precious->Size, 3U);
    Rescanned again;
    ASSERT_TRUE(disk->Rescan(nullptr, {}, again, why)) << why;
    EXPECT_EQ(again.Tree.At(again.Root).TotalBytes, 8);
    Removal done = disk->Remove(*precious, {precious->Device, precious->Inode}, false, {});
    EXPECT_TRUE(done.Report.Complete()) << done.Failure;
    EXPECT_FALSE(fs::exists(root_ / "t.old" / "PRECIOUS.bin"));
    EXPECT_TRUE(fs::exists(root_ / "outside" / "PRECIOUS.bin"));
}

// A directory held open, its parent swapped for a link meanwhile: a rescan
// walks the directory held, not the path.
TEST_F(DiskFileSystemTest, RescanWalksTheDirectoryHeldNotItsPath) {
    auto disk = Browse();
    std::vector<runtime::DirEntry> entries;
    std::string why;
    ASSERT_TRUE(disk->List(entries, why));
    const runtime::DirEntry* p = Find(entries, "p");
    ASSERT_NE(p, nullptr);
    ASSERT_TRUE(disk->Enter(p, {p->Device, p->Inode}, why)) << why;
    fs::rename(root_ / "t" / "p", root_ / "p.old");
    fs::create_directory_symlink(root_ / "outside" / "p", root_ / "t" / "p");
    Rescanned again;
    ASSERT_TRUE(disk->Rescan(nullptr, {}, again, why)) << why;
    EXPECT_EQ(again.Tree.At(again.Root).TotalBytes, 5);
    EXPECT_EQ(again.Tree.At(again.Root).TotalDirs, 1);
}

// A directory is deleted only by an identity it was recorded with: none is
// no deletion, and another directory by that name now is left alone.
TEST_F(DiskFileSystemTest, DirectoryGoesOnlyByItsRecordedIdentity) {
    auto disk = Browse();
    std::vector<runtime::DirEntry> entries;
    std::string why;
    ASSERT_TRUE(disk->List(entries, why));
    runtime::DirEntry p = *Find(entries, "p");
    Removal done = disk->Remove(p, {}, true, {});
    EXPECT_EQ(done.Report.First.Reason, runtime::RemoveReason::Unidentified);
    EXPECT_TRUE(fs::exists(root_ / "t" / "p" / "mine"));
    // What the browser read itself is what a deletion may go by.
    Rescanned read;
    ASSERT_TRUE(disk->Rescan(&p, {}, read, why)) << why;
    fs::rename(root_ / "t" / "p", root_ / "p.old");
    fs::create_directory(root_ / "t" / "p");
    Write(root_ / "t" / "p" / "PRECIOUS", 1);
    done = disk->Remove(p, read.Identity, true, {});
    EXPECT_EQ(done.Report.First.Reason, runtime::RemoveReason::Replaced) << done.Failure;
    EXPECT_TRUE(fs::exists(root_ / "t" / "p" / "PRECIOUS"));
    EXPECT_TRUE(fs::exists(root_ / "p.old" / "mine"));
}

// Deep down a chain at most MaxHeld levels are held; going back up each
// level is reached again and checked: one swapped meanwhile is refused, and
// one the program has no descriptor for is a step refused.
TEST_F(DiskFileSystemTest, DeepBrowsingHoldsFewLevelsAndChecksThemAgain) {
    constexpr int Depth = 100;
    fs::path deep = root_ / "t" / "p" / "q";
    for (int i = 0; i < Depth; ++i)
        fs::create_directory(deep /= "d");
    auto disk = Browse();
    std::string why;
    for (const char* name : {"p", "q"}) {
        std::vector<runtime::DirEntry> entries;
        ASSERT_TRUE(disk->List(entries, why));
        const runtime::DirEntry* e = Find(entries, name);
        ASSERT_TRUE(disk->Enter(e, {e->Device, e->Inode}, why)) << why;
    }
    for (int i = 0; i < Depth; ++i) {
        std::vector<runtime::DirEntry> entries;
        ASSERT_TRUE(disk->List(entries, why)) << i << why;
        ASSERT_EQ(entries.size(), 1U);
        ASSERT_TRUE(disk->Enter(&entries[0], {entries[0].Device, entries[0].Inode}, why));
        EXPECT_LE(disk->Held(), DiskFileSystem::MaxHeld);
    }
    // No descriptor left: the step is refused, the directory shown stays.
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    int lowest = ::dup(0);
    ::close(lowest);
    struct rlimit none = saved;
    none.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    runtime::DirEntry fake;
    fake.Name = "absent";
    bool entered = disk->Enter(&fake, {}, why);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(entered);
    EXPECT_EQ(why, "too many open files");
    // The level 10 below q is swapped for another directory of its name.
    fs::path ten = root_ / "t" / "p" / "q";
    for (int i = 0; i < 10; ++i)
        ten /= "d";
    fs::rename(ten, root_ / "moved");
    fs::create_directory(ten);
    // Still held: the deepest levels (the start aside), which are the
    // directories scanned wherever they are now. Given up: the others,
    // reached again from the start, by name and identity.
    const int firstHeld = Depth + 3 - static_cast<int>(DiskFileSystem::MaxHeld - 1) - 2;
    for (int k = Depth - 1; k >= 0; --k) {
        disk->Leave();
        std::vector<runtime::DirEntry> entries;
        bool listed = disk->List(entries, why);
        EXPECT_EQ(listed, k < 10 || k >= firstHeld) << k << ": " << why;
        if (!listed) {
            EXPECT_NE(why.find("cannot be reached again"), std::string::npos) << why;
        }
    }
}

} // namespace
} // namespace kelpo32::browse
