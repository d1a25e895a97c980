#include "runtime/dirsearch.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace rtl {
namespace {

namespace fs = std::filesystem;

TEST(DirSearch, EntriesWithAttributesAndSizes) {
    fs::path dir = fs::temp_directory_path() / "kelpo32-dirsearch";
    fs::remove_all(dir);
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "file").close();
    fs::resize_file(dir / "file", 5000000000ull);
    SearchRec rec;
    ASSERT_TRUE(FindOpen(dir.string() + PathSeparator(), rec));
    std::map<std::string, std::pair<std::uint32_t, std::uint64_t>> seen;
    while (FindNextEntry(rec))
        seen[rec.Name] = {rec.Attr & AttrDirectory, rec.Size};
    FindClose(rec);
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen["."].first, AttrDirectory);
    EXPECT_EQ(seen[".."].first, AttrDirectory);
    EXPECT_EQ(seen["sub"].first, AttrDirectory);
    EXPECT_EQ(seen["file"], std::make_pair(0u, std::uint64_t{5000000000ull}));

    SearchRec again;
    ASSERT_TRUE(FindOpen(dir.string() + PathSeparator(), again));
    EXPECT_EQ(again.Dir, rec.Dir); // the same directory has the same identity
    FindClose(again);
    ASSERT_TRUE(FindOpen((dir / "sub").string() + PathSeparator(), again));
    EXPECT_FALSE(again.Dir == rec.Dir);
    FindClose(again);
    EXPECT_FALSE(FindOpen((dir / "missing").string() + PathSeparator(), again));
    fs::remove_all(dir);
}

} // namespace
} // namespace rtl

namespace rtl {
namespace {

// The walk's speed rests on this: directory entries never cost a call of
// their own, other entries at most one.
TEST(DirSearch, NoMetadataCallForDirectoryEntries) {
    fs::path dir = fs::temp_directory_path() / "kelpo32-dirsearch-counts";
    fs::remove_all(dir);
    for (int i = 0; i < 50; ++i)
        fs::create_directories(dir / ("d" + std::to_string(i)));
    for (int i = 0; i < 30; ++i)
        std::ofstream(dir / ("f" + std::to_string(i))).close();
    SearchCounters before = SearchCounts();
    SearchRec rec;
    ASSERT_TRUE(FindOpen(dir.string() + PathSeparator(), rec));
    int entries = 0;
    while (FindNextEntry(rec))
        ++entries;
    FindClose(rec);
    SearchCounters after = SearchCounts();
    EXPECT_EQ(entries, 82);
    EXPECT_EQ(after.Opens - before.Opens, 1u);
    EXPECT_EQ(after.Entries - before.Entries, 82u);
    EXPECT_LE(after.Stats - before.Stats, 30u);
    fs::remove_all(dir);
}

} // namespace
} // namespace rtl
