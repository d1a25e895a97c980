// RemoveEntry's walk over the tree: depth first on a stack of its own, so a
// deep tree costs memory in proportion to its depth and no stack. A directory
// is listed once, its other entries removed at once, its subdirectories
// entered one after another, and it is removed itself when nothing below it
// was left in place.
#include "runtime/remove.h"

#include "runtime/remove_backend.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace runtime {

namespace {

using removal::Child;
using removal::Outcome;

struct Level {
    explicit Level(Child self) : Self(std::move(self)) {}
    Child Self;
    std::vector<Child> Subdirs; // still to enter, the next one last
    bool Listed = false;
    bool Kept = false; // something below it stays, so it stays too
};

class Remover {
  public:
    Remover(removal::Backend& backend, const RemoveControl& control)
        : backend_(backend), control_(control), every_(std::max<std::uint32_t>(1, control.Every)) {}

    RemoveReport Run(Child top) {
        if (!top.Directory) {
            Outcome o = backend_.Remove(top, true);
            if (o.Ok())
                Removed(top);
            else
                Fail(&top, o);
            return report_;
        }
        if (top.Identity.File == 0) {
            Fail(&top, Outcome{RemoveReason::Unidentified});
            return report_;
        }
        Outcome o = backend_.Enter(top);
        if (!o.Ok()) {
            Fail(&top, o);
            return report_;
        }
        levels_.emplace_back(std::move(top));
        while (!levels_.empty() && !stopped_)
            Step();
        return report_;
    }

  private:
    removal::Backend& backend_;
    const RemoveControl& control_;
    std::uint32_t every_;
    std::uint32_t sinceTick_ = 0;
    bool stopped_ = false;
    std::vector<Level> levels_;
    RemoveReport report_;

    void Step() {
        Level& level = levels_.back();
        if (!level.Listed) {
            List(level);
            return;
        }
        if (!level.Subdirs.empty()) {
            Child next = std::move(level.Subdirs.back());
            level.Subdirs.pop_back();
            Outcome o = backend_.Enter(next);
            if (!o.Ok()) {
                level.Kept = true;
                Fail(&next, o);
                return;
            }
            levels_.emplace_back(std::move(next));
            return;
        }
        bool remove = !level.Kept;
        Outcome o = backend_.Leave(level.Self, remove);
        if (!o.Ok()) Fail(nullptr, o);
        bool kept = !remove || !o.Ok();
        levels_.pop_back();
        if (kept && !levels_.empty()) levels_.back().Kept = true;
        if (!kept) {
            ++report_.Directories;
            Tick();
        }
    }

    void List(Level& level) {
        level.Listed = true;
        std::vector<Child> entries;
        Outcome o = backend_.List(entries);
        if (!o.Ok()) {
            // What was read is still removed; the directory itself stays.
            level.Kept = true;
            Fail(nullptr, o);
        }
        for (Child& e : entries) {
            if (stopped_) return;
            if (e.Directory) {
                level.Subdirs.push_back(std::move(e));
                continue;
            }
            o = backend_.Remove(e, false);
            if (o.Ok()) {
                Removed(e);
            } else {
                level.Kept = true;
                Fail(&e, o);
            }
        }
        std::reverse(level.Subdirs.begin(), level.Subdirs.end());
    }

    void Removed(const Child& file) {
        ++report_.Files;
        report_.Bytes += file.Size;
        report_.DiskBytes += file.DiskBytes;
        Tick();
    }

    // `below`: the entry of the current level that failed; null when it is
    // the current level itself.
    void Fail(const Child* below, const Outcome& o) {
        ++report_.Failures;
        if (report_.First.Reason == RemoveReason::None) {
            RemoveFailure& first = report_.First;
            for (const Level& l : levels_) {
                if (!first.Path.empty()) first.Path += PathSeparator();
                first.Path += l.Self.Name;
            }
            if (below != nullptr) {
                if (!first.Path.empty()) first.Path += PathSeparator();
                first.Path += below->Name;
            }
            first.Reason = o.Reason;
            first.Code = o.Code;
        }
        if (o.Stop) stopped_ = true;
        Tick();
    }

    void Tick() {
        if (++sinceTick_ < every_) return;
        sinceTick_ = 0;
        if (control_.Progress && !control_.Progress(report_)) {
            report_.Cancelled = true;
            stopped_ = true;
        }
    }
};

} // namespace

RemoveTarget TargetOf(const DirEntry& entry) {
    RemoveTarget target;
    target.Name = entry.Name;
    target.Native = entry.Native;
    target.Directory =
        entry.Type == EntryType::Directory && !entry.Link && (entry.Attr & AttrReparsePoint) == 0;
    target.Identity = DirIdentity{entry.Device, entry.Inode};
    return target;
}

std::string RemoveFailureText(const RemoveFailure& failure) {
    switch (failure.Reason) {
    case RemoveReason::None:
        return std::string();
    case RemoveReason::System:
        return removal::SystemText(failure.Code);
    case RemoveReason::Replaced:
        return "changed since it was scanned";
    case RemoveReason::OtherFileSystem:
        return "on another file system";
    case RemoveReason::BadName:
        return "not the name of an entry";
    case RemoveReason::Unidentified:
        return "not identified by the scan";
    }
    return std::string();
}

RemoveReport RemoveEntry(const DirHandle& parent, const RemoveTarget& target,
                         const RemoveLimits& limits, const RemoveControl& control) {
    Child top;
    top.Name = target.Name;
    top.Native = target.Native;
    top.Directory = target.Directory;
    top.Identity = target.Identity;
    if (!removal::IsEntryName(top.NativeName())) {
        RemoveReport report;
        report.Failures = 1;
        report.First = RemoveFailure{target.Name, RemoveReason::BadName, 0};
        return report;
    }
    std::uint64_t volume = limits.Volume != 0 ? limits.Volume : parent.Volume;
    std::unique_ptr<removal::Backend> backend =
        removal::NewBackend(parent, volume, std::max<std::uint32_t>(2, control.MaxOpen));
    Remover remover(*backend, control);
    return remover.Run(std::move(top));
}

} // namespace runtime
