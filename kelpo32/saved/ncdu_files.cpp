#include "kelpo32/saved/ncdu_files.h"

#include "kelpo32/tree/file_store.h"
#include "runtime/textsafe.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kelpo32::saved {

namespace {

constexpr std::int64_t Most = std::numeric_limits<std::int64_t>::max();

// A name's hash, eight bytes at a time, mixed at the end so that names
// alike differ in every bit.
std::uint64_t NameHash(std::string_view name) {
    std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ name.size();
    std::size_t k = 0;
    for (; k + 8 <= name.size(); k += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, name.data() + k, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 32;
    }
    std::uint64_t rest = 0;
    for (std::size_t shift = 0; k < name.size(); ++k, shift += 8)
        rest |= std::uint64_t{static_cast<unsigned char>(name[k])} << shift;
    h = (h ^ rest) * 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    return h ^ (h >> 33);
}

// A name in a message, quoted, as standard error may show it.
std::string Shown(std::string_view text) {
    std::string shown(1, '"');
    shown += runtime::SafeText(text, runtime::StdErrSink());
    shown += '"';
    return shown;
}

} // namespace

NcduFiles::NcduFiles(SavedScan& scan, bool countLinks, bool keep)
    : scan_(scan), countLinks_(countLinks), keep_(keep), links_(true) {
    if (keep_) scan_.Tree.Files(); // a scan without files has its store all the same
}

// Every directory's bytes are part of the start's total, so no total passes
// the largest number while the start's does not: checked here, a file that
// takes it past is named where it stands. With the browser's column, the
// other kind adds up beside them; past the largest number it is only unknown.
bool NcduFiles::AddBytes(tree::DirIndex dir, std::int64_t bytes, std::int64_t other) {
    if (bytes > Most - counted_) return false;
    counted_ += bytes;
    scan_.Tree.At(dir).OwnBytes += bytes;
    if (auto* browse = scan_.Tree.BrowseIfAny()) {
        if (other > Most - otherCounted_)
            scan_.Tree.SetOtherKindUnknown();
        else
            otherCounted_ += other;
        (*browse)[dir].OtherOwnBytes += scan_.Tree.OtherKindKnown() ? other : 0;
    }
    return true;
}

// Takes a file's bytes out of `dir` again, never below nothing (links of
// one file that the export gave sizes of their own).
void NcduFiles::Remove(tree::DirIndex dir, std::int64_t bytes, std::int64_t other) {
    std::int64_t& own = scan_.Tree.At(dir).OwnBytes;
    std::int64_t taken = std::min(bytes, own);
    own -= taken;
    counted_ -= taken;
    if (auto* browse = scan_.Tree.BrowseIfAny(); browse != nullptr && scan_.Tree.OtherKindKnown()) {
        std::int64_t& otherOwn = (*browse)[dir].OtherOwnBytes;
        taken = std::min(other, otherOwn);
        otherOwn -= taken;
        otherCounted_ -= taken;
    }
}

void NcduFiles::Name(tree::DirIndex dir, std::string_view name) {
    if (runs_.empty() || runs_.back().Dir != dir) runs_.push_back({dir, hashes_.size()});
    hashes_.push_back(NameHash(name));
}

bool NcduFiles::Add(tree::DirIndex dir, const NcduFile& file, std::string& what) {
    Name(dir, file.Name);
    if (keep_) {
        tree::FileCells cells;
        cells.Size = file.Size;
        cells.DiskBytes = file.Disk;
        cells.Links = file.Links;
        cells.Type = file.NotRegular ? runtime::EntryType::Other : runtime::EntryType::Regular;
        if (!scan_.Tree.Files().Add(dir, file.Name, cells)) {
            what = "too many files";
            return false;
        }
    }
    if (!countLinks_ && file.Links > 1 && file.Inode != 0) {
        bool first = false;
        std::int32_t& where = links_.Keep(file.Device, file.Inode, dir, first);
        if (!first) {
            // The walk meets a file first in the directory that comes first
            // in its order, the lower index: a directory's own files come
            // before all below it, and every directory made since `dir` was
            // opened lies below it. What counted there moves here (the links
            // of one file have its one size).
            if (where <= dir) return true;
            tree::DirIndex below = where;
            where = dir;
            Remove(below, file.Bytes, file.Other);
        }
    }
    return AddOwn(dir, file.Bytes, file.Other, what);
}

bool NcduFiles::AddOwn(tree::DirIndex dir, std::int64_t bytes, std::int64_t other,
                       std::string& what) {
    if (AddBytes(dir, bytes, other)) return true;
    what = "the sizes add up to more than 8 EiB";
    return false;
}

std::string NcduFiles::Closed(tree::DirIndex dir) {
    if (runs_.empty() || runs_.back().Dir != dir) return {};
    const std::size_t from = runs_.back().From;
    // A run of a usual size is sorted in a vector of its own, faster than
    // in the blocks; a huge one where it is.
    constexpr std::size_t Small = 1 << 16;
    auto begin = hashes_.begin() + static_cast<std::ptrdiff_t>(from);
    std::string wrong;
    if (hashes_.size() - from <= Small) {
        sorted_.assign(begin, hashes_.end());
        wrong = Shared(dir, sorted_.begin(), sorted_.end());
    } else {
        wrong = Shared(dir, begin, hashes_.end());
    }
    hashes_.resize(from);
    runs_.pop_back();
    return wrong;
}

template <typename It> std::string NcduFiles::Shared(tree::DirIndex dir, It begin, It end) const {
    std::sort(begin, end);
    const tree::DirTree& t = scan_.Tree;
    if (std::adjacent_find(begin, end) != end)
        return "two files of one name in " + Shown(dir == scan_.Root ? scan_.Start : t.Name(dir));
    for (tree::DirIndex c = t.At(dir).First; c != tree::NoDir; c = t.At(c).Next)
        if (std::binary_search(begin, end, NameHash(t.Name(c))))
            return "a file and a subdirectory named " + Shown(t.Name(c));
    return {};
}

} // namespace kelpo32::saved
