// How the view is drawn: the header, a row per item, the footer, and a box
// for a dialog over the rows.
#include "kelpo32/browse/view.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/tree/select.h"
#include "runtime/remove.h"

#include <algorithm>
#include <array>

namespace kelpo32::browse {

using crt32_pipe::Attr;
using crt32_pipe::Span;

namespace {

constexpr int BarWidth = 10;
constexpr std::size_t GrowthChartWidth = 8;

std::string Grouped(std::int64_t n) {
    return output::FormatSize(n, output::SizeUnits::Exact);
}

std::string PadLeft(std::string text, std::size_t width) {
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    return text;
}

std::string_view OrderName(Order order) {
    constexpr std::array<std::string_view, 5> Names{"size", "name", "files", "change", "growth"};
    return Names[static_cast<std::size_t>(order)];
}

char MarkOf(const Item& item) {
    switch (item.Why) {
    case Flag::None:
        return ' ';
    case Flag::Unreadable:
        return '!';
    case Flag::Partial:
        return '.';
    case Flag::NotEntered:
        return '>';
    case Flag::HardLink:
        return 'H';
    case Flag::Other:
        return '@';
    }
    return ' ';
}

std::string ProblemText(const tree::DirTrouble& t) {
    std::string text;
    switch (t.Problem) {
    case walk::DirProblem::None:
        break;
    case walk::DirProblem::Cycle:
        text = "not entered: a cycle";
        break;
    case walk::DirProblem::OtherFileSystem:
        text = "not entered: another file system";
        break;
    case walk::DirProblem::Link:
        text = "not entered: a link";
        break;
    case walk::DirProblem::Unreadable:
    case walk::DirProblem::Unexpected:
        text = "could not be read: " + t.Reason;
        break;
    }
    if (t.Partial) text += text.empty() ? "read only in part" : " (read only in part)";
    return text;
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

std::string View::Footer() const {
    const tree::DirRecord& here = tree_.At(Shown());
    const tree::DirRecord& all = tree_.At(path_.front());
    tree::Column<tree::BrowseCells>& cells = tree_.Browse();
    auto bytes = [&](tree::DirIndex d) {
        return settings_.OtherKind ? cells[d].OtherTotalBytes : tree_.At(d).TotalBytes;
    };
    bool disk = settings_.DiskUsage != settings_.OtherKind;
    std::string text =
        " Here: " + Size(bytes(Shown())) + " in " + Grouped(here.TotalFiles()) +
        " files  All: " + Size(bytes(path_.front())) + " in " + Grouped(all.TotalFiles()) +
        " files  Sort: " + std::string(OrderName(settings_.Sort)) +
        (settings_.Reverse ? " (reversed)" : "") + (disk ? "  Disk usage" : "  Apparent size");
    if (!setup_.Locked.empty()) text += "  [" + setup_.Locked + "]";
    if (setup_.Growth != nullptr) text += "  " + setup_.Growth->Footer();
    text += "  ?: help";
    return text;
}

void View::Draw() {
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
        std::string foot = full(Footer());
        std::array<Span, 1> footer{Span{foot, Attr::Heading}};
        screen_.Row(height - 1, footer);
    }
    if (dialog_ != Dialog::None) DrawDialog();
    screen_.Show();
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
    std::size_t growthWidth = 0;
    const bool growth = setup_.Growth != nullptr && setup_.Growth->Active();
    // A gone directory's old bytes are no share of what is there now.
    for (const Item& item : items_)
        if (item.State != tree::Mark::Gone) whole += std::max<std::int64_t>(0, item.Bytes);
    std::size_t end = std::min(items_.size(), top_ + count);
    for (std::size_t k = top_; k < end; ++k) {
        const Item& item = items_[k];
        sizeWidth = std::max(sizeWidth, Size(item.Bytes).size());
        if (settings_.Compared) changeWidth = std::max(changeWidth, Size(item.Change, true).size());
        if (item.Directory()) filesWidth = std::max(filesWidth, Grouped(item.Files).size());
        if (growth) growthWidth = std::max(growthWidth, Rate(item).size());
    }
    bool unicode = screen_.Unicode();
    int width = screen_.Size().X;
    for (int y = first; y <= last; ++y) {
        std::size_t k = top_ + static_cast<std::size_t>(y - first);
        if (k >= end) {
            screen_.Row(y, {});
            continue;
        }
        const Item& item = items_[k];
        std::int32_t tenths = item.State == tree::Mark::Gone
                                  ? 0
                                  : tree::ShareTenths(std::max<std::int64_t>(0, item.Bytes), whole);
        std::string line(1, ' ');
        line.append(PadLeft(Size(item.Bytes), sizeWidth)).append(1, ' ');
        if (settings_.Compared) {
            // A file has no older numbers: its change is left blank.
            std::string change = !item.Directory()                ? std::string()
                                 : item.State == tree::Mark::Gone ? "gone"
                                 : item.State == tree::Mark::New  ? "new"
                                                                  : Size(item.Change, true);
            line += PadLeft(change, std::max<std::size_t>(changeWidth, 4)) + " ";
        }
        if (growth) {
            // Its rate per day and its sizes in the window's scans.
            line += PadLeft(Rate(item), growthWidth) + " ";
            std::string chart = item.Growth != nullptr
                                    ? setup_.Growth->Chart(*item.Growth, unicode, GrowthChartWidth)
                                    : std::string();
            line += chart;
            line.append(GrowthChartWidth + 1 - static_cast<std::size_t>(screen_.Columns(chart)),
                        ' ');
        }
        line += PadLeft(std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%", 6);
        line += unicode ? " \xE2\x96\x95" : " [";
        int filled = (tenths * BarWidth + 500) / 1000;
        for (int b = 0; b < BarWidth; ++b)
            line += b < filled ? (unicode ? "\xE2\x96\x88" : "#") : " ";
        line += unicode ? "\xE2\x96\x8F " : "] ";
        line += PadLeft(item.Directory() ? Grouped(item.Files) : std::string(), filesWidth);
        line += ' ';
        line += MarkOf(item);
        line += item.Name;
        if (item.Directory()) line += '/';
        Attr look = Attr::Normal;
        if (item.State == tree::Mark::Gone) look = Attr::Dim;
        if (k == cursor_) {
            look = Attr::Selected;
            int cols = screen_.Columns(line);
            if (cols < width) line.append(static_cast<std::size_t>(width - cols), ' ');
        }
        std::array<Span, 1> row{Span{line, look}};
        screen_.Row(y, row);
    }
}

std::vector<std::string> View::HelpLines() const {
    return {"Keys",
            "Up, Down, PgUp, PgDn, Home, End   move",
            "Enter, Right                      open a directory",
            "Left, Backspace                   go to the parent",
            "s  n  c  C    sort by size, name, files, change (again: reverse)",
            "a             apparent size or disk usage",
            "h             human-readable or exact sizes",
            "i             all that is known of the entry",
            "r             rescan the directory shown",
            "d             delete the entry (asks first)",
            "G  w          sort by growth a day; its window: day, week, month",
            "q, Esc        quit",
            "",
            "Marks: ! unreadable  . read in part  > not entered",
            "       H several links  @ not a file or directory",
            "",
            "Any key closes this"};
}

std::vector<std::string> View::InfoLines() const {
    const Item& item = items_[cursor_];
    std::vector<std::string> lines{"Path:  " + PathOf(&item)};
    const runtime::DirEntry* entry = EntryOf(item);
    auto both = [&](std::int64_t apparent, std::int64_t disk) {
        lines.push_back("Size:  " + Grouped(apparent) + " bytes (" +
                        output::FormatSize(apparent, output::SizeUnits::Binary) + ")");
        lines.push_back("Disk usage:  " + Grouped(disk) + " bytes (" +
                        output::FormatSize(disk, output::SizeUnits::Binary) + ")");
    };
    if (item.Directory()) {
        const tree::DirRecord& r = tree_.At(item.Dir);
        std::int64_t other = tree_.Browse()[item.Dir].OtherTotalBytes;
        lines.emplace_back("Type:  directory");
        if (setup_.DiskUsage)
            both(other, r.TotalBytes);
        else
            both(r.TotalBytes, other);
        lines.push_back("Files:  " + Grouped(r.TotalFiles()) + " (" + Grouped(r.OwnFiles) +
                        " directly in it)");
        lines.push_back("Directories below:  " + Grouped(r.TotalDirs));
        std::string problem = ProblemText(tree_.Trouble(item.Dir));
        if (!problem.empty()) lines.push_back("Problem:  " + problem);
        if (settings_.Compared && tree_.ComparedIfAny() != nullptr) {
            const tree::CompareCells& old = (*tree_.ComparedIfAny())[item.Dir];
            std::string state = old.State == tree::Mark::New    ? "new since the older scan"
                                : old.State == tree::Mark::Gone ? "gone since the older scan"
                                                                : "in both scans";
            lines.push_back("Then:  " + Grouped(old.OldBytes) + " bytes, " + Grouped(old.OldFiles) +
                            " files; " + state);
        }
    } else if (entry != nullptr) {
        lines.emplace_back(entry->Type == runtime::EntryType::Other
                               ? "Type:  other (a link, FIFO, device...)"
                               : "Type:  file");
        both(FileBytes(*entry, false), FileBytes(*entry, true));
        if (entry->Links != 0) lines.push_back("Links:  " + Grouped(entry->Links));
    }
    return lines;
}

void View::DrawDialog() {
    std::vector<std::string> lines;
    if (dialog_ == Dialog::Help) {
        lines = HelpLines();
    } else if (dialog_ == Dialog::Info) {
        lines = InfoLines();
        lines.emplace_back("");
        lines.emplace_back("Any key closes this");
    } else {
        const Item& item = items_[cursor_];
        lines.push_back("Delete " + PathOf(&item) + " ?");
        if (item.Directory())
            lines.push_back("It holds " + Grouped(item.Files) + " files, " + Size(item.Bytes) +
                            ".");
        else
            lines.push_back("A file of " + Size(item.Bytes) + ".");
        lines.emplace_back("");
        lines.emplace_back("y: delete    any other key: keep it");
    }
    crt32_pipe::Extent size = screen_.Size();
    int inner = 0;
    for (const std::string& l : lines)
        inner = std::max(inner, screen_.Columns(l));
    inner = std::min(inner, std::max(0, size.X - 6));
    auto rows = static_cast<int>(lines.size()) + 2;
    int top = std::max(1, (size.Y - rows) / 2);
    int left = std::max(0, (size.X - inner - 4) / 2);
    bool unicode = screen_.Unicode();
    std::string_view h = unicode ? "\xE2\x94\x80" : "-";
    std::string_view v = unicode ? "\xE2\x94\x82" : "|";
    std::string edge;
    for (int i = 0; i < inner + 2; ++i)
        edge += h;
    std::string pad(static_cast<std::size_t>(left), ' ');
    std::string topRow =
        pad + (unicode ? "\xE2\x94\x8C" : "+") + edge + (unicode ? "\xE2\x94\x90" : "+");
    std::string bottom =
        pad + (unicode ? "\xE2\x94\x94" : "+") + edge + (unicode ? "\xE2\x94\x98" : "+");
    Attr look = dialog_ == Dialog::Confirm ? Attr::Warn : Attr::Normal;
    std::array<Span, 1> t{Span{topRow, look}};
    screen_.Row(top, t);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        std::string body = lines[k];
        int cols = screen_.Columns(body);
        if (cols < inner) body.append(static_cast<std::size_t>(inner - cols), ' ');
        std::string left_ = pad + std::string(v) + " ";
        std::string right(1, ' ');
        right.append(v);
        std::array<Span, 3> row{Span{left_, look}, Span{body, Attr::Normal}, Span{right, look}};
        // A line too long for the box is cut by the screen at its edge; the
        // right border then goes with it.
        screen_.Row(top + 1 + static_cast<int>(k), row);
    }
    std::array<Span, 1> b{Span{bottom, look}};
    screen_.Row(top + rows - 1, b);
}

} // namespace kelpo32::browse
