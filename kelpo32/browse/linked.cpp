#include "kelpo32/browse/linked.h"

#include "kelpo32/browse/edits.h"
#include "kelpo32/browse/file_system.h"

#include <algorithm>

namespace kelpo32::browse {

namespace {

std::int64_t Clamped(std::uint64_t bytes) {
    return static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, INT64_MAX));
}

} // namespace

Rescanned::Rescanned() = default;
Rescanned::~Rescanned() = default;
Rescanned::Rescanned(Rescanned&&) noexcept = default;
Rescanned& Rescanned::operator=(Rescanned&&) noexcept = default;

void LinkedFiles::Entry(const walk::WalkDir& /*dir*/, const walk::WalkEntry& entry) {
    if (entry.Kind != walk::EntryKind::File || entry.Links <= 1 || entry.Inode == 0) return;
    // The directory's record is the next the builder makes, once its
    // listing is complete.
    Met(entry.Device, entry.Inode, Clamped(disk_ ? entry.DiskBytes : entry.Size),
        Clamped(disk_ ? entry.Size : entry.DiskBytes), tree_->Size());
}

void LinkedFiles::Met(std::uint64_t device, std::uint64_t inode, std::int64_t bytes,
                      std::int64_t other, tree::DirIndex dir) {
    File& file = files_[Key{device, inode}];
    if (file.Dirs.empty()) {
        file.Bytes = bytes;
        file.Other = other;
    }
    file.Dirs.push_back(dir);
}

const LinkedFiles::File* LinkedFiles::Find(std::uint64_t device, std::uint64_t inode) const {
    auto it = files_.find(Key{device, inode});
    return it == files_.end() || it->second.Dirs.empty() ? nullptr : &it->second;
}

void LinkedFiles::CountAt(tree::DirTree& tree, const File& file, tree::DirIndex dir, int sign) {
    DropFile(tree, dir, -sign * file.Bytes, -sign * file.Other, -sign);
}

void LinkedFiles::LinkGone(tree::DirTree& tree, std::uint64_t device, std::uint64_t inode,
                           tree::DirIndex dir, bool counted) {
    auto it = files_.find(Key{device, inode});
    if (it == files_.end()) return;
    File& file = it->second;
    std::vector<tree::DirIndex>& dirs = file.Dirs;
    // The counted link is the first; another link in the same directory is
    // any later one there.
    auto at =
        counted ? dirs.begin() : std::find(dirs.begin() + (dirs.empty() ? 0 : 1), dirs.end(), dir);
    if (at == dirs.end() || *at != dir) return;
    bool first = at == dirs.begin();
    dirs.erase(at);
    if (!first) return;
    CountAt(tree, file, dir, -1);
    if (!dirs.empty()) CountAt(tree, file, dirs.front(), 1);
}

void LinkedFiles::DirsGone(tree::DirTree& tree, bool recount) {
    auto gone = [&](tree::DirIndex d) { return !tree.IsLive(d); };
    for (auto& [key, file] : files_) {
        if (file.Dirs.empty()) continue;
        bool counted = gone(file.Dirs.front());
        std::erase_if(file.Dirs, gone);
        if (recount && counted && !file.Dirs.empty()) CountAt(tree, file, file.Dirs.front(), 1);
    }
}

void LinkedFiles::MoveTo(const tree::DirTree& from, tree::DirIndex fromRoot,
                         const tree::DirTree& to, tree::DirIndex toRoot) {
    std::vector<tree::DirIndex> copy(static_cast<std::size_t>(from.Size()), tree::NoDir);
    std::vector<std::pair<tree::DirIndex, tree::DirIndex>> todo{{fromRoot, toRoot}};
    while (!todo.empty()) {
        auto [f, t] = todo.back();
        todo.pop_back();
        copy[static_cast<std::size_t>(f)] = t;
        tree::DirIndex c = to.At(t).First;
        for (tree::DirIndex s = from.At(f).First; s != tree::NoDir; s = from.At(s).Next) {
            if (c == tree::NoDir || from.Name(s) != to.Name(c)) continue; // left out
            todo.emplace_back(s, c);
            c = to.At(c).Next;
        }
    }
    for (auto& [key, file] : files_) {
        for (tree::DirIndex& d : file.Dirs)
            d = d >= 0 && d < from.Size() ? copy[static_cast<std::size_t>(d)] : tree::NoDir;
        std::erase(file.Dirs, tree::NoDir);
    }
}

} // namespace kelpo32::browse
