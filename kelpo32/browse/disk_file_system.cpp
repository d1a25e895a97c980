#include "kelpo32/browse/disk_file_system.h"

#include "kelpo32/browse/held_start.h"
#include "kelpo32/browse/linked.h"
#include "kelpo32/tree/builder.h"
#include "runtime/rtl.h"

#include <memory>
#include <utility>

namespace kelpo32::browse {

namespace {

std::string FaultWords(const runtime::DirResult& r) {
    if (r.Fault == runtime::DirFault::Resource)
        return runtime::IoErrorNumber(r.Code) == runtime::IoNotEnoughMemory ? "out of memory"
                                                                            : "too many open files";
    if (r.Fault == runtime::DirFault::Unreadable) return runtime::UnreadableText(r.Code);
    return runtime::FaultText(r.Code);
}

bool Known(const runtime::DirIdentity& id) {
    return id.Volume != 0 || id.File != 0;
}

constexpr const char* NotScanned = "not the directory that was scanned (changed since)";

} // namespace

DiskFileSystem::DiskFileSystem(runtime::DirHandle start, const runtime::DirIdentity& identity,
                               std::string path, std::string native, const walk::WalkOptions& walk,
                               std::string locked)
    : walk_(walk), locked_(std::move(locked)) {
    Level top;
    top.Dir = std::move(start);
    top.Id = identity;
    top.Path = std::move(path);
    top.Native = std::move(native);
    if (!top.Dir.IsOpen()) {
        if (locked_.empty()) locked_ = "the start directory is not held open";
        top.Why = locked_;
    }
    volume_ = top.Dir.Volume != 0 ? top.Dir.Volume : identity.Volume;
    levels_.push_back(std::move(top));
}

DiskFileSystem::~DiskFileSystem() {
    for (Level& level : levels_)
        if (level.Dir.IsOpen()) runtime::CloseDir(level.Dir);
}

std::size_t DiskFileSystem::Held() const {
    std::size_t n = 0;
    for (const Level& level : levels_)
        n += level.Dir.IsOpen() ? 1 : 0;
    return n;
}

bool DiskFileSystem::List(std::vector<runtime::DirEntry>& entries, std::string& why) {
    Level& here = levels_.back();
    if (!here.Dir.IsOpen()) {
        why = here.Why;
        return false;
    }
    runtime::DirResult r = runtime::ListDirectory(here.Dir, entries);
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

bool DiskFileSystem::Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
                           std::string& why) {
    Level& here = levels_.back();
    Level next;
    next.Id = identity;
    if (entry == nullptr) {
        next.Why = why = "not on disk now";
    } else if (!here.Dir.IsOpen()) {
        next.Why = why = here.Why.empty() ? "its parent is not open" : here.Why;
    } else {
        next.Name = entry->Native.empty() ? entry->Name : entry->Native;
        next.Path = Below(here, *entry, false);
        next.Native = Below(here, *entry, true);
        runtime::DirIdentity id;
        runtime::DirResult r = runtime::OpenDirAt(here.Dir, next.Name, 0, next.Dir, id);
        if (r.Fault == runtime::DirFault::Resource) {
            // The program's own limit, not the tree's: the step is refused.
            why = FaultWords(r);
            return false;
        }
        if (r.Fault != runtime::DirFault::None) {
            next.Why = why = FaultWords(r);
        } else if (Known(identity) && Known(id) && !(id == identity)) {
            runtime::CloseDir(next.Dir);
            next.Why = why = NotScanned;
        } else if (!Known(identity)) {
            next.Id = id; // what the browser found itself
        }
    }
    levels_.push_back(std::move(next));
    Bound();
    return true;
}

void DiskFileSystem::Bound() {
    std::size_t held = Held();
    for (std::size_t k = 1; held > MaxHeld && k + 1 < levels_.size(); ++k) {
        if (!levels_[k].Dir.IsOpen()) continue;
        runtime::CloseDir(levels_[k].Dir);
        --held;
    }
}

void DiskFileSystem::Reach(std::size_t k) {
    std::size_t from = k;
    while (from > 0 && !levels_[from].Dir.IsOpen())
        --from;
    if (!levels_[from].Dir.IsOpen()) return; // the start itself is not held
    for (std::size_t j = from + 1; j <= k; ++j) {
        Level& level = levels_[j];
        if (!level.Why.empty()) return; // never opened: nothing to reach
        runtime::DirIdentity id;
        runtime::DirResult r = runtime::OpenDirAt(levels_[j - 1].Dir, level.Name, 0, level.Dir, id);
        if (r.Fault == runtime::DirFault::None && !(Known(level.Id) && id == level.Id)) {
            runtime::CloseDir(level.Dir);
            r = runtime::DirResult{runtime::DirFault::Unreadable, 0};
        }
        if (r.Fault != runtime::DirFault::None) {
            std::string why = r.Code == 0 ? NotScanned : FaultWords(r);
            for (std::size_t m = j; m <= k; ++m)
                levels_[m].Why = "cannot be reached again: " + why;
            return;
        }
    }
    Bound();
}

void DiskFileSystem::Leave() {
    if (levels_.size() < 2) return;
    if (levels_.back().Dir.IsOpen()) runtime::CloseDir(levels_.back().Dir);
    levels_.pop_back();
    Level& here = levels_.back();
    if (!here.Dir.IsOpen() && here.Why.empty()) Reach(levels_.size() - 1);
}

Removal DiskFileSystem::Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& identity,
                               bool directory, const runtime::RemoveControl& control) {
    Removal done;
    Level& here = levels_.back();
    if (!locked_.empty() || !here.Dir.IsOpen()) {
        done.Report.Failures = 1;
        done.Failure = entry.Name + ": " +
                       (!locked_.empty()   ? locked_
                        : here.Why.empty() ? "not open"
                                           : here.Why);
        return done;
    }
    runtime::RemoveTarget target;
    target.Name = entry.Name;
    target.Native = entry.Native;
    // A link (a junction, a directory symbolic link) goes as itself.
    target.Directory = directory && entry.Type == runtime::EntryType::Directory && !entry.Link;
    // A directory goes only with the identity the scan (or the browser's own
    // reading) recorded, never with one a later listing gave.
    target.Identity = identity;
    runtime::RemoveLimits limits;
    limits.Volume = volume_;
    done.Report = runtime::RemoveEntry(here.Dir, target, limits, control);
    if (done.Report.Failures > 0)
        done.Failure =
            done.Report.First.Path + ": " + runtime::RemoveFailureText(done.Report.First);
    return done;
}

bool DiskFileSystem::Walk(const runtime::DirHandle& dir, const runtime::DirIdentity& id,
                          const std::string& path, const std::string& native, Rescanned& into,
                          std::string& why) {
    HeldStart source(dir, id);
    tree::TreeBuilder builder(tree::Selection{}, 0, true);
    auto links = std::make_unique<LinkedFiles>(builder.Tree(), walk_.DiskUsage);
    walk::ConsumerList run;
    run.Add(builder);
    if (!walk_.CountLinks) run.Add(*links);
    try {
        walk::WalkTreeFrom(source, walk::WalkLimits{}, path, native, walk_, run);
    } catch (const runtime::RunError& e) {
        // Out of descriptors or memory: the rescan is refused, the browser
        // goes on.
        why = e.Reason.empty() ? "the walk did not finish" : e.Reason;
        return false;
    }
    if (builder.Root() == tree::NoDir) {
        why = "the walk did not finish";
        return false;
    }
    into.Tree = std::move(builder.Tree());
    into.Root = builder.Root();
    if (!walk_.CountLinks) into.Links = std::move(links);
    into.Identity = id;
    return true;
}

bool DiskFileSystem::Rescan(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
                            Rescanned& into, std::string& why) {
    const Level& here = levels_.back();
    if (!locked_.empty() || !here.Dir.IsOpen()) {
        why = !locked_.empty() ? locked_ : here.Why;
        return false;
    }
    if (entry == nullptr) return Walk(here.Dir, here.Id, here.Path, here.Native, into, why);
    runtime::DirHandle dir;
    runtime::DirIdentity id;
    const std::string& name = entry->Native.empty() ? entry->Name : entry->Native;
    runtime::DirResult r = runtime::OpenDirAt(here.Dir, name, 0, dir, id);
    if (r.Fault != runtime::DirFault::None) {
        why = FaultWords(r);
        return false;
    }
    bool ok = false;
    if (Known(identity) && !(id == identity))
        why = NotScanned;
    else
        ok = Walk(dir, id, Below(here, *entry, false), Below(here, *entry, true), into, why);
    runtime::CloseDir(dir);
    return ok;
}

} // namespace kelpo32::browse
