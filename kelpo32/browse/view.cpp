#include "kelpo32/browse/view.h"

#include "kelpo32/browse/edits.h"
#include "runtime/dirsearch.h"

#include <algorithm>
#include <utility>

namespace kelpo32::browse {

using crt32_pipe::KeyKind;

View::View(crt32_pipe::Screen& screen, tree::DirTree& tree, tree::DirIndex root, Place& place,
           ViewSetup setup)
    : screen_(screen), tree_(tree), place_(place), setup_(std::move(setup)) {
    tree_.Parents(root);
    tree_.Browse();
    settings_.DiskUsage = setup_.DiskUsage;
    settings_.Compared = setup_.Compared && tree_.ComparedIfAny() != nullptr;
    if (settings_.Compared) settings_.Sort = Order::Change;
    path_.push_back(root);
    Load({});
}

// Lists the directory on screen and makes its items; the cursor goes to the
// item named `select`, else stays where it was.
void View::Load(const std::string& select) {
    listing_.clear();
    unlisted_.clear();
    if (!place_.List(listing_, unlisted_) && unlisted_.empty()) unlisted_ = "cannot be listed";
    Collect();
    if (!select.empty()) {
        auto it = std::ranges::find(items_, select, &Item::Name);
        if (it != items_.end()) cursor_ = static_cast<std::size_t>(it - items_.begin());
    }
    if (cursor_ >= items_.size()) cursor_ = items_.empty() ? 0 : items_.size() - 1;
}

void View::Resort(bool collect) {
    std::string at = cursor_ < items_.size() ? items_[cursor_].Name : std::string();
    if (collect)
        Collect();
    else
        SortItems(items_, settings_);
    auto it = std::ranges::find(items_, at, &Item::Name);
    cursor_ = it != items_.end() ? static_cast<std::size_t>(it - items_.begin()) : 0;
}

void View::Collect() {
    items_ = CollectItems(tree_, Shown(), listing_, settings_);
    if (setup_.Growth == nullptr || !setup_.Growth->Active()) return;
    for (Item& item : items_)
        if (item.Directory()) item.Growth = setup_.Growth->Child(item.Name);
    if (settings_.Sort == Order::Growth) SortItems(items_, settings_);
}

const runtime::DirEntry* View::EntryOf(const Item& item) const {
    if (item.Entry < 0 || static_cast<std::size_t>(item.Entry) >= listing_.size()) return nullptr;
    return &listing_[static_cast<std::size_t>(item.Entry)];
}

void View::Open() {
    if (cursor_ >= items_.size() || !items_[cursor_].Directory()) return;
    const Item& item = items_[cursor_];
    std::string why;
    // A directory the walk did not enter (a link, another file system, a
    // cycle) is not entered here either: its files are not the scan's.
    bool entered = item.Why != Flag::NotEntered;
    place_.Enter(entered ? EntryOf(item) : nullptr, tree_.Browse()[item.Dir].Identity, why);
    if (!entered) why = "not entered by the scan";
    if (setup_.Growth != nullptr) setup_.Growth->Enter(item.Name);
    path_.push_back(item.Dir);
    cursor_ = 0;
    top_ = 0;
    Load({});
    if (!why.empty()) unlisted_ = why;
}

void View::Up() {
    if (path_.size() < 2) return;
    std::string from(tree_.Name(Shown()));
    path_.pop_back();
    place_.Leave();
    if (setup_.Growth != nullptr) setup_.Growth->Leave();
    top_ = 0;
    Load(from);
}

void View::Move(std::ptrdiff_t by) {
    if (items_.empty()) return;
    auto last = static_cast<std::ptrdiff_t>(items_.size()) - 1;
    cursor_ = static_cast<std::size_t>(
        std::clamp<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(cursor_) + by, 0, last));
}

void View::SortBy(Order order) {
    if (order == Order::Change && !settings_.Compared) {
        status_ = "No older scan to compare with (--compare=OLD)";
        return;
    }
    if (order == Order::Growth && (setup_.Growth == nullptr || !setup_.Growth->Active())) {
        status_ = "No history to show the growth of (--history=DIR)";
        return;
    }
    settings_.Reverse = settings_.Sort == order ? !settings_.Reverse : false;
    settings_.Sort = order;
    Resort(false);
}

std::string View::PathOf(const Item* item) const {
    std::string path = setup_.Start;
    const char sep = runtime::PathSeparator();
    auto add = [&](std::string_view name) {
        if (path.empty() || path.back() != sep) path += sep;
        path += name;
    };
    for (std::size_t k = 1; k < path_.size(); ++k)
        add(tree_.Name(path_[k]));
    if (item != nullptr) add(item->Name);
    return path;
}

void View::AskDelete() {
    if (!setup_.Locked.empty() || !place_.Changeable()) {
        status_ = "Deletion is off: " + (setup_.Locked.empty() ? "saved scan" : setup_.Locked);
        return;
    }
    if (cursor_ >= items_.size()) return;
    const Item& item = items_[cursor_];
    if (EntryOf(item) == nullptr) {
        status_ = "Not on disk: " + item.Name;
        return;
    }
    dialog_ = Dialog::Confirm;
}

void View::Delete() {
    Item item = items_[cursor_];
    const runtime::DirEntry* entry = EntryOf(item);
    if (entry == nullptr) return;
    runtime::DirIdentity id = item.Directory() ? tree_.Browse()[item.Dir].Identity
                                               : runtime::DirIdentity{entry->Device, entry->Inode};
    Removal done = place_.Remove(*entry, id, item.Directory());
    if (item.Directory()) {
        if (done.Report.Complete()) {
            DropDir(tree_, item.Dir);
        } else {
            // What is left is counted again, and the totals above follow.
            tree::DirTree again;
            tree::DirIndex root = tree::NoDir;
            std::string why;
            if (place_.Rescan(entry, again, root, why))
                SwapDir(tree_, item.Dir, again, root);
            else
                DropDir(tree_, item.Dir);
        }
    } else if (done.Report.Complete()) {
        bool disk = setup_.DiskUsage;
        // One link of a file of several frees nothing while the others
        // stay, and the walk counted the file where it met it first,
        // perhaps elsewhere: the totals keep it.
        std::int64_t files = entry->Links > 1 && !setup_.CountLinks ? 0 : 1;
        DropFile(tree_, Shown(), files * FileBytes(*entry, disk), files * FileBytes(*entry, !disk),
                 files);
    }
    if (done.Report.Complete())
        status_ = "Deleted " + item.Name;
    else
        status_ = "Could not delete " + done.Failure;
    Load({});
}

void View::Rescan() {
    if (!setup_.Locked.empty() || !place_.Changeable()) {
        status_ = "Rescan is off: " + (setup_.Locked.empty() ? "saved scan" : setup_.Locked);
        return;
    }
    tree::DirTree again;
    tree::DirIndex root = tree::NoDir;
    std::string why;
    if (!place_.Rescan(nullptr, again, root, why)) {
        status_ = "Could not rescan: " + why;
        return;
    }
    std::string at = cursor_ < items_.size() ? items_[cursor_].Name : std::string();
    if (path_.size() == 1) {
        // The start directory itself: the whole tree is the new one.
        tree_ = std::move(again);
        tree_.Parents(root);
        path_[0] = root;
        // The older scan's numbers were the old tree's.
        settings_.Compared = false;
    } else {
        tree::DirIndex parent = tree_.Parents(Shown())[Shown()];
        tree::DirIndex before = Shown();
        std::string name(tree_.Name(before));
        SwapDir(tree_, before, again, root);
        // The rescan's copy took the place of the record in its parent's chain.
        for (tree::DirIndex c = tree_.At(parent).First; c != tree::NoDir; c = tree_.At(c).Next)
            if (tree_.Name(c) == name && tree_.IsLive(c)) path_.back() = c;
    }
    status_ = "Rescanned";
    Load(at);
}

bool View::Key(crt32_pipe::ScreenKey key) {
    status_.clear();
    if (dialog_ != Dialog::None) {
        Dialog was = std::exchange(dialog_, Dialog::None);
        if (key.Kind == KeyKind::Interrupt) return false;
        if (key.Kind == KeyKind::Resize) dialog_ = was;
        if (was == Dialog::Confirm && key.Kind == KeyKind::Char &&
            (key.Char == 'y' || key.Char == 'Y'))
            Delete();
        else if (was == Dialog::Confirm && key.Kind != KeyKind::Resize)
            status_ = "Kept";
        return true;
    }
    int page = std::max(1, screen_.Size().Y - 2);
    switch (key.Kind) {
    case KeyKind::Up:
        Move(-1);
        break;
    case KeyKind::Down:
        Move(1);
        break;
    case KeyKind::PageUp:
        Move(-page);
        break;
    case KeyKind::PageDown:
        Move(page);
        break;
    case KeyKind::Home:
        cursor_ = 0;
        break;
    case KeyKind::End:
        Move(static_cast<std::ptrdiff_t>(items_.size()));
        break;
    case KeyKind::Enter:
    case KeyKind::Right:
        Open();
        break;
    case KeyKind::Left:
    case KeyKind::Backspace:
        Up();
        break;
    case KeyKind::Delete:
        AskDelete();
        break;
    case KeyKind::Escape:
    case KeyKind::Interrupt:
        return false;
    case KeyKind::Char:
        switch (key.Char) {
        case 'q':
            return false;
        case 's':
            SortBy(Order::Size);
            break;
        case 'n':
            SortBy(Order::Name);
            break;
        case 'c':
            SortBy(Order::Files);
            break;
        case 'C':
            SortBy(Order::Change);
            break;
        case 'G':
            SortBy(Order::Growth);
            break;
        case 'w':
            if (setup_.Growth == nullptr || !setup_.Growth->Active()) {
                status_ = "No history to show the growth of (--history=DIR)";
                break;
            }
            setup_.Growth->NextWindow();
            Resort(true);
            break;
        case 'a':
            // A saved scan in JSON Lines holds one kind of size only.
            if (!tree_.OtherKindKnown()) {
                status_ = "The other size kind is not in this scan";
                break;
            }
            settings_.OtherKind = !settings_.OtherKind;
            Resort(true);
            break;
        case 'h':
            exact_ = !exact_;
            break;
        case 'i':
            if (cursor_ < items_.size()) dialog_ = Dialog::Info;
            break;
        case '?':
            dialog_ = Dialog::Help;
            break;
        case 'd':
            AskDelete();
            break;
        case 'r':
            Rescan();
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return true;
}

void View::Run() {
    Draw();
    while (Key(screen_.WaitKey()))
        Draw();
}

} // namespace kelpo32::browse
