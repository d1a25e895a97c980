// How the view is drawn: the header, a row per item, the footer; the boxes
// over the rows are in dialogs.cpp.
#include "kelpo32/browse/text.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/tree/select.h"

#include <algorithm>
#include <array>

namespace kelpo32::browse {

using crt32_pipe::Attr;
using crt32_pipe::Span;

namespace {

constexpr int BarWidth = 10;
constexpr std::size_t GrowthChartWidth = 8;

std::string_view OrderName(Order order) {
    constexpr std::array<std::string_view, 5> Names{"size", "name", "files", "change", "growth"};
    return Names[static_cast<std::size_t>(order)];
}

} // namespace

std::string View::Size(std::int64_t bytes, bool plus) const {
    return output::FormatSize(bytes, exact_ ? output::SizeUnits::Exact : output::SizeUnits::Binary,
                              plus);
}

// A directory's growth per day ("+1.2M/d"), "-" where it is not known.
std::string View::Rate(const Item& item) const {
    if (item.Growth == nullptr || !item.Growth->RateKnown) return item.Directory() ? "-" : "";
    return Size(static_cast<std::int64_t>(item.Growth->Rate), true) + "/d";
}

// The totals, the order and the size kind, as much as fits: the other words
// are shortened first, so the kind and the help stay whole.
std::string View::Footer(int width) const {
    tree::Column<tree::BrowseCells>& cells = tree_.Browse();
    auto bytes = [&](tree::DirIndex d) {
        return settings_.OtherKind ? cells[d].OtherTotalBytes : tree_.At(d).TotalBytes;
    };
    bool disk = settings_.DiskUsage != settings_.OtherKind;
    auto numbers = [&](const char* label, tree::DirIndex d, bool files) {
        std::string text = std::string(label) + Size(bytes(d));
        if (files) text += " in " + Files(tree_.At(d).TotalFiles());
        return text;
    };
    std::string sort(OrderName(settings_.Sort));
    std::string sortLong = "Sort: " + sort + (settings_.Reverse ? " (reversed)" : "");
    std::string sortShort = sort + (settings_.Reverse ? " rev." : "");
    std::string kind = disk ? "  Disk usage  ? help" : "  Apparent size  ? help";
    std::string end = kind;
    if (setup_.Growth != nullptr) end = "  " + setup_.Growth->Footer() + end;
    if (setup_.DirectoriesOnly) end = " directories only" + end;
    if (std::string locked = Refused(); !locked.empty()) end = "  [" + locked + "]" + end;
    const std::string here = numbers(" Here: ", Shown(), true);
    const std::string all = numbers("  All: ", path_.front(), true);
    const std::string forms[] = {
        here + all + "  " + sortLong + end,
        here + all + "  " + sortShort + end,
        numbers(" Here: ", Shown(), false) + numbers("  All: ", path_.front(), false) + "  " +
            sortShort + end,
        numbers(" All: ", path_.front(), false) + "  " + sortShort + end,
        end,
    };
    for (const std::string& form : forms)
        if (screen_.Columns(form) <= width) return form;
    return kind;
}

void View::Draw() {
    Compose();
    // What was typed before this screen shows is thrown away where it must
    // be: only keys typed once it is in view answer it.
    if (flush_) {
        screen_.FlushInput();
        flush_ = false;
    }
    screen_.Show();
}

void View::Compose() {
    crt32_pipe::Extent size = screen_.Size();
    int width = size.X;
    int height = size.Y;
    auto full = [&](std::string text) {
        int cols = screen_.Columns(text);
        if (cols < width) text.append(static_cast<std::size_t>(width - cols), ' ');
        return text;
    };
    std::string head = full(" " + setup_.Title + "  " + PathOf(nullptr));
    std::array<Span, 1> header{Span{head, Attr::Heading}};
    screen_.Row(0, header);
    int first = 1;
    int last = height - 2; // the rows of items, inclusive
    if (!unlisted_.empty() && last > first) {
        std::string note = " Files not listed: " + unlisted_;
        std::array<Span, 1> row{Span{note, Attr::Warn}};
        screen_.Row(first++, row);
    }
    // A message takes the row above the footer, so the totals stay in view
    // (after a deletion they are what the user checks).
    if (!status_.empty() && last > first) {
        std::string note(1, ' ');
        note.append(status_);
        std::array<Span, 1> row{Span{note, Attr::Warn}};
        screen_.Row(last--, row);
    }
    DrawRows(first, last);
    if (height > 1) {
        std::string foot = full(Footer(width));
        std::array<Span, 1> footer{Span{foot, Attr::Heading}};
        screen_.Row(height - 1, footer);
    }
    if (dialog_ != Dialog::None) DrawDialog();
}

// An item's row: its size (in parentheses where the totals do not count
// it), its change, share and bar, its files, its mark in a column of its
// own, and its name, cut with an ellipsis that keeps a directory's "/".
std::string View::Row(const Item& item, std::int64_t whole, std::size_t sizeWidth,
                      std::size_t changeWidth, std::size_t growthWidth, std::size_t filesWidth,
                      int width) const {
    bool counted = item.Counted && item.State != tree::Mark::Gone;
    std::int32_t tenths =
        counted ? tree::ShareTenths(std::max<std::int64_t>(0, item.Bytes), whole) : 0;
    std::string size;
    if (!item.Directory() || item.Dir != tree::NoDir) {
        size = item.Counted ? "" : "(";
        size += Size(item.Bytes);
        if (!item.Counted) size += ')';
    }
    std::string line(1, ' ');
    line.append(PadLeft(size, sizeWidth)).append(1, ' ');
    if (settings_.Compared) {
        // A file has no older numbers: its change is left blank.
        std::string change = !item.Directory() || item.Dir == tree::NoDir ? std::string()
                             : item.State == tree::Mark::Gone             ? "gone"
                             : item.State == tree::Mark::New              ? "new"
                                                                          : Size(item.Change, true);
        line += PadLeft(change, std::max<std::size_t>(changeWidth, 4)) + " ";
    }
    bool unicode = screen_.Unicode();
    if (growthWidth > 0) {
        // Its rate per day and its sizes in the window's scans.
        line += PadLeft(Rate(item), growthWidth) + " ";
        std::string chart = item.Growth != nullptr
                                ? setup_.Growth->Chart(*item.Growth, unicode, GrowthChartWidth)
                                : std::string();
        line += chart;
        line.append(GrowthChartWidth + 1 - static_cast<std::size_t>(screen_.Columns(chart)), ' ');
    }
    line += PadLeft(counted ? std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%"
                            : std::string(),
                    6);
    line += unicode ? " \xE2\x96\x95" : " [";
    int filled = (tenths * BarWidth + 500) / 1000;
    for (int b = 0; b < BarWidth; ++b)
        line += b < filled ? (unicode ? "\xE2\x96\x88" : "#") : " ";
    line += unicode ? "\xE2\x96\x8F " : "] ";
    line += PadLeft(item.Directory() && item.Files >= 0 ? Grouped(item.Files) : std::string(),
                    filesWidth);
    line += ' ';
    line += MarkOf(item.Why);
    line += ' ';
    std::string_view slash = item.Directory() ? "/" : "";
    int room = width - screen_.Columns(line) - static_cast<int>(slash.size());
    line += CutToColumns(screen_, item.Name, room, unicode);
    line += slash;
    return line;
}

void View::DrawRows(int first, int last) {
    int rows = std::max(0, last - first + 1);
    auto count = static_cast<std::size_t>(rows);
    // The cursor stays on screen: the window follows it.
    if (cursor_ < top_) top_ = cursor_;
    if (count > 0 && cursor_ >= top_ + count) top_ = cursor_ + 1 - count;
    if (top_ + count > items_.size()) top_ = items_.size() > count ? items_.size() - count : 0;
    std::int64_t whole = 0;
    std::size_t sizeWidth = 0;
    std::size_t changeWidth = 0;
    std::size_t filesWidth = 0;
    const bool growth = Growing();
    std::size_t growthWidth = growth ? 1 : 0; // 0: no growth column
    // What the totals do not count is no share of them: a gone directory's
    // old bytes, another link's, what was made since the scan.
    for (const Item& item : items_)
        if (item.Counted && item.State != tree::Mark::Gone)
            whole += std::max<std::int64_t>(0, item.Bytes);
    std::size_t end = std::min(items_.size(), top_ + count);
    for (std::size_t k = top_; k < end; ++k) {
        const Item& item = items_[k];
        sizeWidth = std::max(sizeWidth, Size(item.Bytes).size() + (item.Counted ? 0 : 2));
        if (settings_.Compared) changeWidth = std::max(changeWidth, Size(item.Change, true).size());
        if (item.Directory()) filesWidth = std::max(filesWidth, Grouped(item.Files).size());
        if (growth) growthWidth = std::max(growthWidth, Rate(item).size());
    }
    int width = screen_.Size().X;
    for (int y = first; y <= last; ++y) {
        std::size_t k = top_ + static_cast<std::size_t>(y - first);
        if (k >= end) {
            screen_.Row(y, {});
            continue;
        }
        const Item& item = items_[k];
        std::string line = Row(item, whole, sizeWidth, changeWidth, growthWidth, filesWidth, width);
        Attr look = Attr::Normal;
        if (item.State == tree::Mark::Gone || !item.Counted) look = Attr::Dim;
        if (k == cursor_) {
            look = Attr::Selected;
            int cols = screen_.Columns(line);
            if (cols < width) line.append(static_cast<std::size_t>(width - cols), ' ');
        }
        std::array<Span, 1> row{Span{line, look}};
        screen_.Row(y, row);
    }
}

} // namespace kelpo32::browse
