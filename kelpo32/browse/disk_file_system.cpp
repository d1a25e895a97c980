#include "kelpo32/browse/disk_file_system.h"

#include "kelpo32/tree/builder.h"
#include "runtime/rtl.h"

#include <utility>

namespace kelpo32::browse {

namespace {

std::string FaultWords(const runtime::DirResult& r) {
    if (r.Fault == runtime::DirFault::Unreadable) return runtime::UnreadableText(r.Code);
    return runtime::FaultText(r.Code);
}

bool Known(const runtime::DirIdentity& id) {
    return id.Volume != 0 || id.File != 0;
}

} // namespace

DiskFileSystem::DiskFileSystem(std::string start, std::string native, const walk::WalkOptions& walk)
    : walk_(walk) {
    Level top;
    top.Path = std::move(start);
    top.Native = std::move(native);
    runtime::DirIdentity id;
    runtime::DirResult r = runtime::OpenDirPath(top.Path, top.Native, top.Dir, id);
    if (r.Fault != runtime::DirFault::None) top.Why = FaultWords(r);
    volume_ = top.Dir.Volume != 0 ? top.Dir.Volume : id.Volume;
    levels_.push_back(std::move(top));
}

DiskFileSystem::~DiskFileSystem() {
    for (Level& level : levels_)
        if (level.Dir.IsOpen()) runtime::CloseDir(level.Dir);
}

bool DiskFileSystem::List(std::vector<runtime::DirEntry>& entries, std::string& why) {
    Level& here = levels_.back();
    if (!here.Dir.IsOpen()) {
        why = here.Why;
        return false;
    }
    runtime::DirResult r = runtime::ListDirectory(here.Dir, entries);
    if (r.Fault == runtime::DirFault::Resource) runtime::RaiseIoError(r.Code, "cannot list");
    if (r.Fault == runtime::DirFault::None) return true;
    why = FaultWords(r);
    return false;
}

std::string DiskFileSystem::Below(const Level& at, const runtime::DirEntry& entry, bool native) {
    if (native) {
        // The platform's own path (Windows) ends in a separator.
        if (at.Dir.Path.empty() || entry.Native.empty()) return {};
        return at.Dir.Path + entry.Native;
    }
    if (at.Path.empty()) return entry.Name;
    std::string path = at.Path;
    if (path.back() != runtime::PathSeparator()) path += runtime::PathSeparator();
    return path + entry.Name;
}

void DiskFileSystem::Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
                           std::string& why) {
    Level& here = levels_.back();
    Level next;
    if (entry == nullptr) {
        next.Why = why = "not on disk now";
    } else if (!here.Dir.IsOpen()) {
        next.Why = why = here.Why.empty() ? "its parent is not open" : here.Why;
    } else {
        next.Path = Below(here, *entry, false);
        next.Native = Below(here, *entry, true);
        runtime::DirIdentity id;
        const std::string& name = entry->Native.empty() ? entry->Name : entry->Native;
        runtime::DirResult r = runtime::OpenDirAt(here.Dir, name, 0, next.Dir, id);
        if (r.Fault == runtime::DirFault::Resource) runtime::RaiseIoError(r.Code, "cannot open");
        if (r.Fault != runtime::DirFault::None) {
            next.Why = why = FaultWords(r);
        } else if (Known(identity) && Known(id) && !(id == identity)) {
            runtime::CloseDir(next.Dir);
            next.Why = why = "not the directory that was scanned (changed since)";
        }
    }
    levels_.push_back(std::move(next));
}

void DiskFileSystem::Leave() {
    if (levels_.size() < 2) return;
    if (levels_.back().Dir.IsOpen()) runtime::CloseDir(levels_.back().Dir);
    levels_.pop_back();
}

Removal DiskFileSystem::Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& identity,
                               bool directory) {
    Removal done;
    Level& here = levels_.back();
    if (!here.Dir.IsOpen()) {
        done.Report.Failures = 1;
        done.Failure = entry.Name + ": " + (here.Why.empty() ? "not open" : here.Why);
        return done;
    }
    runtime::RemoveTarget target;
    target.Name = entry.Name;
    target.Native = entry.Native;
    // A link (a junction, a directory symbolic link) goes as itself.
    target.Directory = directory && entry.Type == runtime::EntryType::Directory && !entry.Link;
    target.Identity = Known(identity) ? identity : runtime::DirIdentity{entry.Device, entry.Inode};
    runtime::RemoveLimits limits;
    limits.Volume = volume_;
    done.Report = runtime::RemoveEntry(here.Dir, target, limits);
    if (!done.Report.Complete())
        done.Failure =
            done.Report.First.Path + ": " + runtime::RemoveFailureText(done.Report.First);
    return done;
}

bool DiskFileSystem::Rescan(const runtime::DirEntry* entry, tree::DirTree& into,
                            tree::DirIndex& root, std::string& why) {
    const Level& here = levels_.back();
    if (!here.Dir.IsOpen()) {
        why = here.Why;
        return false;
    }
    std::string path = entry == nullptr ? here.Path : Below(here, *entry, false);
    std::string native = entry == nullptr ? here.Native : Below(here, *entry, true);
    tree::TreeBuilder builder(tree::Selection{}, 0, true);
    walk::WalkOptions walk = walk_;
    walk::WalkTree(path, native, walk, builder);
    if (builder.Root() == tree::NoDir) {
        why = "the walk did not finish";
        return false;
    }
    into = std::move(builder.Tree());
    root = builder.Root();
    return true;
}

} // namespace kelpo32::browse
