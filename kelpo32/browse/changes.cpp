// What the view changes on disk: a deletion (asked, shown while it runs,
// stopped at the user's word) and a rescan, each followed by the totals
// corrected by what the tree had counted.
#include "kelpo32/browse/edits.h"
#include "kelpo32/browse/linked.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/tree/merge.h"

#include <algorithm>

namespace kelpo32::browse {

using crt32_pipe::KeyKind;

namespace {

bool Known(const runtime::DirIdentity& id) {
    return id.Volume != 0 || id.File != 0;
}

// The listing's identity of a directory the scan recorded as `recorded`
// says it is another one now.
bool Swapped(const runtime::DirEntry& entry, const runtime::DirIdentity& recorded) {
    if (entry.Inode == 0 || recorded.File == 0) return false;
    return entry.Inode != recorded.File ||
           (entry.Device != 0 && recorded.Volume != 0 && entry.Device != recorded.Volume);
}

} // namespace

// Why nothing may be changed; empty when it may.
std::string View::Refused() const {
    if (!setup_.Locked.empty()) return setup_.Locked;
    return files_.Locked();
}

void View::AskDelete() {
    if (std::string why = Refused(); !why.empty()) {
        status_ = "Deletion is off: " + why;
        return;
    }
    if (cursor_ >= items_.size()) return;
    const Item& item = items_[cursor_];
    const runtime::DirEntry* entry = EntryOf(item);
    if (entry == nullptr) {
        status_ = "Not on disk: " + item.Name;
        return;
    }
    pending_ = std::make_unique<Pending>();
    pending_->What = item;
    if (item.Directory()) {
        runtime::DirIdentity recorded =
            item.Dir != tree::NoDir ? tree_.Browse()[item.Dir].Identity : runtime::DirIdentity{};
        if (Known(recorded) && Swapped(*entry, recorded)) {
            status_ = "Not deleted: " + item.Name + " is not the directory that was scanned";
            return;
        }
        if (!Known(recorded)) {
            // The scan could not identify it: the browser reads it itself
            // from the directory it holds, shows what it holds now, and a
            // deletion goes by that reading only.
            std::string why;
            if (!files_.Rescan(entry, {}, pending_->Found, why)) {
                status_ = "Not deleted: " + item.Name + " cannot be read now: " + why;
                return;
            }
            pending_->Read = true;
        }
    }
    Open(Dialog::Confirm);
}

// After every few entries of a deletion: its box once it takes longer than
// a moment, and Esc or q to stop it; other keys are thrown away.
bool View::Progress(const runtime::RemoveReport& report) {
    bool stop = false;
    for (crt32_pipe::ScreenKey key = screen_.PollKey(); key.Kind != KeyKind::None;
         key = screen_.PollKey()) {
        if (key.Kind == KeyKind::Interrupt) quit_ = true;
        stop = stop || key.Kind == KeyKind::Escape || key.Kind == KeyKind::Interrupt ||
               (key.Kind == KeyKind::Char && (key.Char == 'q' || key.Char == 'Q'));
    }
    auto now = std::chrono::steady_clock::now();
    if (now - started_ >= setup_.Moment && now - drawn_ >= std::chrono::milliseconds(100)) {
        drawn_ = now;
        Compose();
        std::vector<std::string> lines{
            "Deleting " + deleting_,
            output::FormatSize(static_cast<std::int64_t>(report.Files), output::SizeUnits::Exact) +
                (report.Files == 1 ? " file, " : " files, ") +
                output::FormatSize(static_cast<std::int64_t>(report.Directories),
                                   output::SizeUnits::Exact) +
                (report.Directories == 1 ? " directory, " : " directories, ") +
                Size(
                    static_cast<std::int64_t>(setup_.DiskUsage ? report.DiskBytes : report.Bytes)) +
                " removed so far",
            "", "Esc or q: stop after the entry at hand"};
        DrawBox(lines, crt32_pipe::Attr::Warn, 0);
        screen_.Show();
    }
    return !stop;
}

void View::Delete() {
    Item item = pending_->What;
    const runtime::DirEntry* found = EntryOf(item);
    if (found == nullptr) return;
    const runtime::DirEntry entry = *found;
    runtime::DirIdentity id{entry.Device, entry.Inode};
    if (item.Directory())
        id = pending_->Read ? pending_->Found.Identity : tree_.Browse()[item.Dir].Identity;
    runtime::RemoveControl control;
    control.Progress = [this](const runtime::RemoveReport& r) { return Progress(r); };
    control.Every = 64; // Esc is looked for this often
    deleting_ = PathOf(&item);
    started_ = std::chrono::steady_clock::now();
    drawn_ = {};
    Removal done = files_.Remove(entry, id, item.Directory(), control);
    Counted(item, entry, id, done);
    const runtime::RemoveReport& r = done.Report;
    if (r.Complete()) {
        status_ = "Deleted " + item.Name;
    } else if (r.Cancelled) {
        status_ = "Stopped: " + std::to_string(r.Files + r.Directories) +
                  " entries deleted, what is left of " + item.Name + " is counted again";
    } else {
        status_ = "Could not delete " + done.Failure;
        if (r.Failures > 1) status_ += " (and " + std::to_string(r.Failures - 1) + " more)";
    }
    // Keys typed while it ran are not taken for answers to what follows.
    flush_ = true;
    Load(item.Name);
}

// The totals after a deletion: what the tree counted for the entry goes, or
// what is left of a directory is counted again.
void View::Counted(const Item& item, const runtime::DirEntry& entry, const runtime::DirIdentity& id,
                   const Removal& done) {
    LinkedFiles* links = links_;
    if (item.Directory()) {
        // Made since the scan: in no total.
        if (item.Dir == tree::NoDir) return;
        if (done.Report.Complete()) {
            DropDir(tree_, item.Dir);
            if (links != nullptr) links->DirsGone(tree_, true);
            return;
        }
        Rescanned left;
        std::string why;
        if (!files_.Rescan(&entry, id, left, why)) return;
        MatchOlder(left, item.Dir);
        SwapDir(tree_, item.Dir, left.Tree, left.Root);
        if (links != nullptr) links->DirsGone(tree_, false);
        return;
    }
    if (!done.Report.Complete() || item.Why == Flag::New) return;
    if (entry.Links > 1 && !setup_.CountLinks && links != nullptr &&
        links->Find(entry.Device, entry.Inode) != nullptr) {
        links->LinkGone(tree_, entry.Device, entry.Inode, Shown(), item.Counted);
        return;
    }
    if (!item.Counted) return;
    bool disk = setup_.DiskUsage;
    DropFile(tree_, Shown(), FileBytes(entry, disk), FileBytes(entry, !disk), 1);
}

// With a comparison, what a rescan found of the directory `dir` matched
// with the older scan's numbers of its path: `again` becomes that compared
// tree, to take the place of the old records.
void View::MatchOlder(Rescanned& again, tree::DirIndex dir) {
    if (!settings_.Compared || setup_.Older == nullptr) return;
    std::vector<std::string_view> names;
    const tree::Column<tree::DirIndex>& parents = tree_.Parents(path_.front());
    for (tree::DirIndex a = dir; a != path_.front() && a != tree::NoDir; a = parents[a])
        names.push_back(tree_.Name(a));
    tree::DirIndex old = setup_.OlderRoot;
    for (auto it = names.rbegin(); it != names.rend() && old != tree::NoDir; ++it) {
        tree::DirIndex c = setup_.Older->At(old).First;
        while (c != tree::NoDir && (setup_.Older->IsMore(c) || setup_.Older->Name(c) != *it))
            c = setup_.Older->At(c).Next;
        old = c; // NoDir: new since the older scan, and all below it
    }
    tree::DirTree merged;
    tree::DirIndex root = tree::MergeOlder(again.Tree, again.Root, *setup_.Older, old, merged);
    if (again.Links != nullptr) again.Links->MoveTo(again.Tree, again.Root, merged, root);
    again.Tree = std::move(merged);
    again.Root = root;
}

void View::Rescan() {
    if (std::string why = Refused(); !why.empty()) {
        status_ = "Rescan is off: " + why;
        return;
    }
    Rescanned again;
    std::string why;
    if (!files_.Rescan(nullptr, {}, again, why)) {
        status_ = "Could not rescan: " + why;
        return;
    }
    std::string at = cursor_ < items_.size() ? items_[cursor_].Name : std::string();
    LinkedFiles* links = links_;
    MatchOlder(again, Shown());
    if (path_.size() == 1) {
        // The start directory itself: the whole tree is the new one, and
        // what the older links knew is of the old one.
        tree_ = std::move(again.Tree);
        tree_.Parents(again.Root);
        path_[0] = again.Root;
        rescanned_ = std::move(again.Links);
        links_ = rescanned_.get();
        settings_.Links = links_;
        // Without the older scan at hand its numbers went with the old tree.
        if (setup_.Older == nullptr) settings_.Compared = false;
    } else {
        tree::DirIndex parent = tree_.Parents(Shown())[Shown()];
        tree::DirIndex before = Shown();
        std::string name(tree_.Name(before));
        SwapDir(tree_, before, again.Tree, again.Root);
        if (links != nullptr) links->DirsGone(tree_, false);
        // The rescan's copy took the place of the record in its parent's chain.
        for (tree::DirIndex c = tree_.At(parent).First; c != tree::NoDir; c = tree_.At(c).Next)
            if (tree_.Name(c) == name && tree_.IsLive(c)) path_.back() = c;
    }
    status_ = "Rescanned";
    Load(at);
}

} // namespace kelpo32::browse
