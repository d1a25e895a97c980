#include "kelpo32/browse/view.h"

#include "kelpo32/browse/linked.h"
#include "runtime/dirsearch.h"

#include <algorithm>
#include <utility>

namespace kelpo32::browse {

using crt32_pipe::KeyKind;

View::View(crt32_pipe::Screen& screen, tree::DirTree& tree, tree::DirIndex root, FileSystem& files,
           ViewSetup setup)
    : screen_(screen), tree_(tree), files_(files), setup_(std::move(setup)) {
    tree_.Parents(root);
    tree_.Browse();
    settings_.DiskUsage = setup_.DiskUsage;
    settings_.OtherKind = setup_.OtherKindFirst && tree_.OtherKindKnown();
    settings_.Compared = setup_.Compared && tree_.ComparedIfAny() != nullptr;
    settings_.CountLinks = setup_.CountLinks;
    links_ = setup_.Links;
    settings_.Links = links_;
    settings_.ScanStart = setup_.ScanStart;
    if (settings_.Compared) settings_.Sort = Order::Change;
    path_.push_back(root);
    Load({});
}

View::~View() = default;

// Lists the directory on screen and makes its items; the cursor goes to the
// item named `select`, else stays where it was.
void View::Load(const std::string& select) {
    listing_.clear();
    unlisted_.clear();
    files_.Showing(Shown());
    if (!files_.List(listing_, unlisted_) && unlisted_.empty()) unlisted_ = "cannot be listed";
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
    if (!Growing()) return;
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
    if (item.Dir == tree::NoDir) {
        status_ = "Made since the scan: r scans this directory again to show it";
        return;
    }
    std::string why;
    // A directory the walk did not enter (a link, another file system, a
    // cycle) is not entered here either: its files are not the scan's.
    bool entered = item.Why != Flag::NotEntered;
    if (!files_.Enter(entered ? EntryOf(item) : nullptr, tree_.Browse()[item.Dir].Identity, why)) {
        status_ = "Cannot open " + item.Name + ": " + why;
        return;
    }
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
    files_.Leave();
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

bool View::AskGrowth() {
    if (!Growing()) status_ = "No history to show the growth of (--history=DIR)";
    return Growing();
}

void View::SortBy(Order order) {
    if (order == Order::Change && !settings_.Compared) {
        status_ = "No older scan to compare with (--compare=OLD)";
        return;
    }
    if (order == Order::Growth && !AskGrowth()) return;
    settings_.Reverse = settings_.Sort == order ? !settings_.Reverse : false;
    settings_.Sort = order;
    Resort(false);
}

void View::SwitchKind() {
    // A saved scan in JSON Lines holds one kind of size only.
    if (!tree_.OtherKindKnown()) {
        bool disk = settings_.DiskUsage;
        status_ = std::string(disk ? "Apparent size" : "Disk usage") +
                  " unknown: the scan holds only " + (disk ? "disk usage" : "apparent sizes");
        return;
    }
    settings_.OtherKind = !settings_.OtherKind;
    Resort(true);
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

void View::Open(Dialog dialog) {
    dialog_ = dialog;
    helpTop_ = 0;
    // Only keys typed once the box is in view answer it.
    flush_ = true;
}

void View::Do(Action action) {
    int page = std::max(1, screen_.Size().Y - 3);
    switch (action) {
    case Action::Up:
        return Move(-1);
    case Action::Down:
        return Move(1);
    case Action::PageUp:
        return Move(-page);
    case Action::PageDown:
        return Move(page);
    case Action::First:
        cursor_ = 0;
        return;
    case Action::Last:
        return Move(static_cast<std::ptrdiff_t>(items_.size()));
    case Action::Open:
        return Open();
    case Action::Parent:
        return Up();
    case Action::SortBySize:
        return SortBy(Order::Size);
    case Action::SortByName:
        return SortBy(Order::Name);
    case Action::SortByFiles:
        return SortBy(Order::Files);
    case Action::SortByChange:
        return SortBy(Order::Change);
    case Action::SortByGrowth:
        return SortBy(Order::Growth);
    case Action::GrowthWindow:
        if (!AskGrowth()) return;
        setup_.Growth->NextWindow();
        return Resort(true);
    case Action::SizeKind:
        return SwitchKind();
    case Action::ExactSizes:
        exact_ = !exact_;
        return;
    case Action::Info:
        if (cursor_ < items_.size()) Open(Dialog::Info);
        return;
    case Action::Rescan:
        return Rescan();
    case Action::Delete:
        return AskDelete();
    case Action::Help:
        return Open(Dialog::Help);
    case Action::Quit:
        return;
    }
}

// A key while a box is open: the help scrolls, the question is answered,
// anything else closes the box.
bool View::DialogKey(const crt32_pipe::ScreenKey& key) {
    if (key.Kind == KeyKind::Interrupt) return false;
    if (key.Kind == KeyKind::Resize) return true;
    const KeyRow* row = FindKey(key);
    Action does = row != nullptr ? row->Does : Action::Quit;
    if (dialog_ == Dialog::Help && row != nullptr) {
        std::size_t page = static_cast<std::size_t>(std::max(1, screen_.Size().Y - 4));
        switch (does) {
        case Action::Up:
            helpTop_ -= std::min<std::size_t>(helpTop_, 1);
            return true;
        case Action::Down:
            ++helpTop_; // the drawing keeps it within the lines
            return true;
        case Action::PageUp:
            helpTop_ -= std::min(helpTop_, page);
            return true;
        case Action::PageDown:
            helpTop_ += page;
            return true;
        case Action::First:
            helpTop_ = 0;
            return true;
        default:
            break;
        }
    }
    Dialog was = std::exchange(dialog_, Dialog::None);
    if (was != Dialog::Confirm) return true;
    if (key.Kind == KeyKind::Char && (key.Char == 'y' || key.Char == 'Y'))
        Delete();
    else
        status_ = "Kept " + pending_->What.Name;
    pending_.reset();
    return !quit_;
}

bool View::Key(crt32_pipe::ScreenKey key) {
    // A message stays through a size change: it is drawn again with the rest.
    if (key.Kind == KeyKind::Resize) return true;
    status_.clear();
    if (dialog_ != Dialog::None) return DialogKey(key);
    const KeyRow* row = FindKey(key);
    if (row == nullptr) return true;
    if (row->Does == Action::Quit) return false;
    Do(row->Does);
    return true;
}

void View::Run() {
    for (;;) {
        Draw();
        if (!Key(screen_.WaitKey())) return;
    }
}

} // namespace kelpo32::browse
