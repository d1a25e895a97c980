// Fuzzes the reading of saved scans (JSON Lines and the ncdu export).
//
// Input: the first byte chooses sizes or bytes on disk; the rest is the
// file. Checked:
// - a damaged file is one message line that names the file and a place in it;
// - a file read whole is a tree: every directory below the start once, its
//   subdirectories a chain of as many as it counts, of names that lead to no
//   other path and differ from each other, each subtree's total at least its
//   directory's own bytes, the files kept for the browser as many as each
//   directory counts, and the replay hands on each directory once, in pairs
//   of listed and done.
#include "fuzz/check.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/saved/sax.h"
#include "kelpo32/tree/file_store.h"
#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class Count final : public kelpo32::walk::WalkConsumer {
  public:
    std::int64_t Open = 0;
    std::int64_t Listed = 0;
    void DirListed(const kelpo32::walk::WalkDir&, const kelpo32::walk::WalkListing&) override {
        ++Open;
        ++Listed;
    }
    void DirDone(const kelpo32::walk::WalkDir&, const kelpo32::walk::WalkListing&,
                 std::int64_t) override {
        CHECK(Open > 0);
        --Open;
    }
};

const std::string& FileName() {
    static const std::string name = "/tmp/kelpo32-fuzz-saved-" + std::to_string(::getpid());
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    bool diskUsage = (data[0] & 1) != 0;
    bool countLinks = (data[0] & 2) != 0;
    bool browse = (data[0] & 4) != 0;
    std::FILE* f = std::fopen(FileName().c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    kelpo32::saved::SavedScan scan;
    std::string error;
    if (!kelpo32::saved::LoadSavedScan(FileName(), diskUsage, countLinks, scan, error, browse)) {
        CHECK(error.rfind("kelpo32: " + FileName() + ": line ", 0) == 0);
        CHECK(error.find(": line 0,") == std::string::npos);
        CHECK(error.find('\n') == error.size() - 1);
        return 0;
    }
    const kelpo32::tree::DirTree& tree = scan.Tree;
    CHECK(scan.Root >= 0 && scan.Root < tree.Size());
    std::vector<int> seen(static_cast<std::size_t>(tree.Size()), 0);
    seen[static_cast<std::size_t>(scan.Root)] = 1;
    std::vector<kelpo32::tree::DirIndex> names;
    for (kelpo32::tree::DirIndex i = 0; i < tree.Size(); ++i) {
        const kelpo32::tree::DirRecord& d = tree.At(i);
        CHECK(d.TotalBytes >= d.OwnBytes);
        if (browse && tree.OtherKindKnown()) {
            const kelpo32::tree::BrowseCells& b = (*tree.BrowseIfAny())[i];
            CHECK(b.OtherOwnBytes >= 0 && b.OtherTotalBytes >= b.OtherOwnBytes);
        }
        CHECK(i == scan.Root || kelpo32::saved::NameProblem(tree.Name(i)) == nullptr);
        std::int32_t chain = 0;
        for (kelpo32::tree::DirIndex c = d.First; c >= 0; c = tree.At(c).Next) {
            CHECK(c < tree.Size());
            CHECK(++seen[static_cast<std::size_t>(c)] == 1);
            ++chain;
        }
        CHECK(chain == d.Subdirs || (chain == 0 && d.First < 0));
        CHECK(kelpo32::saved::SharedName(scan, i, names).empty());
        if (const kelpo32::tree::FileStore* files = tree.FilesIfAny()) {
            std::int32_t kept = 0;
            for (kelpo32::tree::FileIndex k = files->First(i); k >= 0; k = files->At(k).Next)
                CHECK(++kept <= d.OwnFiles);
            CHECK(kept == d.OwnFiles);
        }
    }
    for (int s : seen)
        CHECK(s == 1);
    Count count;
    kelpo32::saved::ReplaySavedScan(scan, "R", count);
    CHECK(count.Open == 0);
    CHECK(count.Listed == static_cast<std::int64_t>(tree.Size()));
    return 0;
}
