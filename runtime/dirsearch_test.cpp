#include "runtime/dirsearch.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace runtime {
namespace {

namespace fs = std::filesystem;

struct Listed {
    std::map<std::string, std::pair<std::uint32_t, std::uint64_t>> Entries;
    std::map<std::string, std::string> Native; // the name a subdirectory is opened by
    std::map<std::string, std::uint64_t> Inode;
    DirResult Result;
};

Listed ReadAll(const DirHandle& dir) {
    Listed out;
    DirReader reader;
    out.Result = StartReading(dir, reader);
    DirEntry e;
    while (ReadEntry(dir, reader, e, out.Result)) {
        out.Entries[e.Name] = {e.Attr & AttrDirectory, e.Size};
        out.Native[e.Name] = e.Native.empty() ? e.Name : e.Native;
        out.Inode[e.Name] = e.Inode;
    }
    StopReading(reader);
    return out;
}

class DirSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("kelpo32-dirsearch-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

TEST_F(DirSearch, OpensByDescriptorAndReadsEntriesWithAttributesAndSizes) {
    fs::create_directories(root_ / "sub");
    fs::create_directories(root_ / "gone");
    std::ofstream(root_ / "file").close();
    fs::resize_file(root_ / "file", 5000000000ull);
    DirHandle top, sub, again;
    DirIdentity topId, subId, againId;
    ASSERT_EQ(OpenDirPath(root_.string(), "", top, topId).Fault, DirFault::None);
    Listed listed = ReadAll(top);
    EXPECT_EQ(listed.Result.Fault, DirFault::None);
    EXPECT_EQ(listed.Entries.size(), 3u); // "." and ".." are left out
    EXPECT_EQ(listed.Entries["sub"].first, AttrDirectory);
    EXPECT_EQ(listed.Entries["file"], std::make_pair(0u, std::uint64_t{5000000000ull}));

    ASSERT_EQ(OpenDirAt(top, listed.Native["sub"], listed.Inode["sub"], sub, subId).Fault,
              DirFault::None);
    ASSERT_EQ(OpenDirPath((root_ / "sub").string(), "", again, againId).Fault, DirFault::None);
    EXPECT_EQ(subId, againId); // the same directory has the same identity
    EXPECT_FALSE(subId == topId);
    EXPECT_TRUE(ReadAll(sub).Entries.empty());

    DirHandle missing;
    DirIdentity missingId;
    fs::remove(root_ / "gone"); // removed after its parent was listed
    EXPECT_EQ(OpenDirAt(top, listed.Native["gone"], listed.Inode["gone"], missing, missingId).Fault,
              DirFault::Unreadable);
    EXPECT_EQ(OpenDirAt(top, listed.Native["file"], listed.Inode["file"], missing, missingId).Fault,
              DirFault::Unreadable);
    EXPECT_FALSE(missing.IsOpen());
    CloseDir(again);
    CloseDir(sub);
    CloseDir(top);
}

// An entry that is a symbolic link to a directory is never entered.
TEST_F(DirSearch, SymbolicLinkToADirectoryIsNotOpened) {
    fs::create_directories(root_ / "real");
    try {
        fs::create_directory_symlink(root_ / "real", root_ / "link");
    } catch (const fs::filesystem_error&) {
        GTEST_SKIP() << "no symbolic links here";
    }
    DirHandle top, link;
    DirIdentity topId, linkId;
    ASSERT_EQ(OpenDirPath(root_.string(), "", top, topId).Fault, DirFault::None);
    EXPECT_EQ(OpenDirAt(top, "link", ReadAll(top).Inode["link"], link, linkId).Fault,
              DirFault::Unreadable);
    EXPECT_EQ(ReadAll(top).Entries["link"].first, 0u); // a file of its own size
    CloseDir(top);
}

// The walk's speed rests on this: directory entries never cost a call of
// their own, other entries at most one.
TEST_F(DirSearch, NoMetadataCallForDirectoryEntries) {
    for (int i = 0; i < 50; ++i)
        fs::create_directories(root_ / ("d" + std::to_string(i)));
    for (int i = 0; i < 30; ++i)
        std::ofstream(root_ / ("f" + std::to_string(i))).close();
    SearchCounters before = SearchCounts();
    DirHandle top;
    DirIdentity id;
    ASSERT_EQ(OpenDirPath(root_.string(), "", top, id).Fault, DirFault::None);
    EXPECT_EQ(ReadAll(top).Entries.size(), 80u);
    CloseDir(top);
    SearchCounters after = SearchCounts();
    EXPECT_EQ(after.Opens - before.Opens, 1u);
    EXPECT_EQ(after.Entries - before.Entries, 80u);
    EXPECT_LE(after.Stats - before.Stats, 30u);
}

// A subdirectory opened with the inode its parent listed costs no call for its
// identity where the file system can be trusted with it; one replaced under
// its name meanwhile is found by its own listing, before any entry.
TEST_F(DirSearch, IdentityFromTheListingIsCheckedByTheDirectorysOwnListing) {
    fs::create_directories(root_ / "sub");
    fs::create_directories(root_ / "other");
    std::ofstream(root_ / "other" / "f").close();
    DirHandle top;
    DirIdentity topId;
    ASSERT_EQ(OpenDirPath(root_.string(), "", top, topId).Fault, DirFault::None);
    if (!top.OneDevice || !top.ListedInodes) {
        CloseDir(top);
        GTEST_SKIP() << "identities are asked of the system on this file system";
    }
    Listed listed = ReadAll(top);
    // Listed inode, open, real identity, fault of the listing, entries.
    struct Case {
        const char* What;
        std::uint64_t Listed;
        bool Replace; // "other" renamed to "sub" after the listing
        DirFault Fault;
        std::size_t Entries;
    };
    const Case cases[] = {
        {"as listed", listed.Inode["sub"], false, DirFault::None, 0},
        {"unknown inode: the system is asked", 0, false, DirFault::None, 0},
        {"replaced", listed.Inode["sub"], true, DirFault::Unreadable, 0},
        {"replaced, unknown inode", 0, true, DirFault::None, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        if (c.Replace) {
            fs::rename(root_ / "sub", root_ / "old");
            fs::rename(root_ / "other", root_ / "sub");
        }
        DirHandle sub, direct;
        DirIdentity subId, directId;
        SearchCounters before = SearchCounts();
        ASSERT_EQ(OpenDirAt(top, "sub", c.Listed, sub, subId).Fault, DirFault::None);
        EXPECT_EQ(SearchCounts().Identities - before.Identities, c.Listed == 0 ? 1u : 0u);
        ASSERT_EQ(OpenDirPath((root_ / "sub").string(), "", direct, directId).Fault,
                  DirFault::None);
        EXPECT_EQ(subId == directId, !c.Replace || c.Listed == 0);
        EXPECT_EQ(subId.Volume, topId.Volume);
        Listed inside = ReadAll(sub);
        EXPECT_EQ(inside.Result.Fault, c.Fault);
        EXPECT_EQ(inside.Result.Code, 0);
        EXPECT_EQ(inside.Entries.size(), c.Entries);
        CloseDir(direct);
        CloseDir(sub);
        if (c.Replace) {
            fs::rename(root_ / "sub", root_ / "other");
            fs::rename(root_ / "old", root_ / "sub");
        }
    }
    CloseDir(top);
}

// The browser's listing: every entry with its own metadata, directories
// included, and the same entries again through the same handle.
TEST_F(DirSearch, ListDirectoryGivesEveryEntrysMetadataEachTime) {
    fs::create_directories(root_ / "sub");
    std::ofstream(root_ / "file") << "12345";
    fs::create_hard_link(root_ / "file", root_ / "again");
    DirHandle top;
    DirIdentity topId;
    ASSERT_EQ(OpenDirPath(root_.string(), "", top, topId).Fault, DirFault::None);
    std::vector<DirEntry> first, second;
    EXPECT_EQ(ListDirectory(top, first).Fault, DirFault::None);
    EXPECT_EQ(ListDirectory(top, second).Fault, DirFault::None);
    CloseDir(top);
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 3u);
    for (std::size_t i = 0; i < first.size(); ++i) {
        const DirEntry& e = first[i];
        SCOPED_TRACE(e.Name);
        EXPECT_EQ(e.Name, second[i].Name);
        EXPECT_EQ(e.Device, topId.Volume);
        EXPECT_NE(e.Inode, 0u);
        // Windows' listing tells neither links (0) nor a directory's size.
        const bool tellsLinks = first[0].Links != 0;
        if (e.Name == "sub") {
            EXPECT_EQ(e.Type, EntryType::Directory);
            if (tellsLinks) {
                EXPECT_GT(e.Size, 0u); // its own size, from a call of its own
            }
        } else {
            EXPECT_EQ(e.Type, EntryType::Regular);
            EXPECT_EQ(e.Size, 5u);
            EXPECT_EQ(e.Links, tellsLinks ? 2u : 0u);
        }
    }
}

} // namespace
} // namespace runtime
