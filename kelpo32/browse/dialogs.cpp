// The boxes over the view's rows: the help (from the table of keys), all
// that is known of an entry, the question before a deletion, and its
// progress. A box fits the screen: its lines are wrapped to the width, and
// the help scrolls where it is taller than the screen.
#include "kelpo32/browse/text.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/output/sizes.h"

#include <algorithm>
#include <array>

namespace kelpo32::browse {

using crt32_pipe::Attr;
using crt32_pipe::Span;

namespace {

// The columns of the box's edges and margins.
constexpr int Frame = 4;

} // namespace

std::vector<std::string> View::HelpLines(int inner) const {
    std::vector<std::string> lines{"Keys"};
    std::size_t keys = 0;
    for (const KeyRow& row : KeyTable())
        keys = std::max(keys, KeysOf(row).size());
    // The keys' column: as wide as the widest, unless that leaves the help
    // too little room; then each help line goes below its keys.
    bool beside = static_cast<int>(keys) + 2 + 16 <= inner;
    for (const KeyRow& row : KeyTable()) {
        std::string names = KeysOf(row);
        if (beside) {
            names.resize(keys + 2, ' ');
            for (std::string& l : Wrap(screen_, names + std::string(row.Help), inner, keys + 2))
                lines.push_back(std::move(l));
        } else {
            lines.push_back(std::move(names));
            for (std::string& l : Wrap(screen_, "    " + std::string(row.Help), inner, 4))
                lines.push_back(std::move(l));
        }
    }
    lines.emplace_back();
    for (const std::string& mark : MarkLegend())
        for (std::string& l : Wrap(screen_, mark, inner, 5))
            lines.push_back(std::move(l));
    return lines;
}

std::vector<std::string> View::InfoLines() const {
    const Item& item = items_[cursor_];
    std::vector<std::string> lines{"Path:  " + PathOf(&item)};
    const runtime::DirEntry* entry = EntryOf(item);
    bool otherKnown = tree_.OtherKindKnown();
    // The other size kind of a directory is not known in every scan.
    auto both = [&](std::int64_t apparent, bool apparentKnown, std::int64_t disk, bool diskKnown) {
        lines.push_back("Size:  " + (apparentKnown ? BytesInWords(apparent) : "unknown"));
        lines.push_back("Disk usage:  " + (diskKnown ? BytesInWords(disk) : "unknown"));
    };
    if (item.Directory() && item.Dir == tree::NoDir) {
        lines.emplace_back("Type:  directory");
        lines.emplace_back("Made since the scan: in no total (r scans the directory shown again)");
    } else if (item.Directory()) {
        const tree::DirRecord& r = tree_.At(item.Dir);
        std::int64_t other = tree_.Browse()[item.Dir].OtherTotalBytes;
        lines.emplace_back("Type:  directory");
        if (setup_.DiskUsage)
            both(other, otherKnown, r.TotalBytes, true);
        else
            both(r.TotalBytes, true, other, otherKnown);
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
            lines.push_back("Then:  " + BytesInWords(old.OldBytes) + ", " + Files(old.OldFiles) +
                            "; " + state);
        }
    } else if (entry != nullptr) {
        lines.push_back("Type:  " + KindOf(*entry));
        both(FileBytes(*entry, false), true, FileBytes(*entry, true), true);
        if (entry->Links > 1) lines.push_back("Links:  " + Grouped(entry->Links));
        if (item.Why == Flag::New)
            lines.emplace_back("Made or changed since the scan: in no total");
        else if (!item.Counted)
            lines.emplace_back("Counted at another link: in no total here");
    }
    return lines;
}

std::vector<std::string> View::ConfirmLines() const {
    const Item& item = pending_->What;
    std::vector<std::string> lines{"Delete " + PathOf(&item) + " ?"};
    const runtime::DirEntry* entry = EntryOf(item);
    if (item.Directory()) {
        std::string problem =
            item.Dir != tree::NoDir ? ProblemText(tree_.Trouble(item.Dir)) : std::string();
        if (pending_->Read) {
            const tree::DirRecord& r = pending_->Found.Tree.At(pending_->Found.Root);
            lines.push_back(item.Dir == tree::NoDir
                                ? "Made since the scan."
                                : "The scan did not read it (" + problem + ").");
            lines.push_back("Read now: it holds " + Files(r.TotalFiles()) + ", " +
                            Size(r.TotalBytes) + ", in " + Grouped(r.TotalDirs) +
                            (r.TotalDirs == 1 ? " directory." : " directories."));
        } else {
            lines.push_back("It holds " + Files(item.Files) + ", " + Size(item.Bytes) + ".");
            if (!problem.empty()) lines.push_back("The scan says: " + problem + ".");
        }
    } else if (entry != nullptr) {
        lines.push_back("A " + KindOf(*entry) + " of " + BytesInWords(FileBytes(*entry, false)) +
                        ".");
        if (entry->Links > 1)
            lines.push_back("One of its " + Grouped(entry->Links) +
                            " links: its data stays while another is left.");
        if (item.Why == Flag::New) lines.emplace_back("Made or changed since the scan.");
    }
    lines.emplace_back();
    lines.emplace_back("y: delete    any other key: keep it");
    return lines;
}

// A box with `lines` from `first` on, centred over the rows; lines too wide
// are wrapped. Where they are more than the screen holds, the lines from
// `first` are shown and the edges say which way more lies.
void View::DrawBox(const std::vector<std::string>& lines, Attr look, std::size_t first) {
    crt32_pipe::Extent size = screen_.Size();
    int inner = std::max(1, size.X - Frame);
    std::vector<std::string> wrapped;
    for (const std::string& l : lines)
        for (std::string& w : Wrap(screen_, l, inner))
            wrapped.push_back(std::move(w));
    int widest = 0;
    for (const std::string& l : wrapped)
        widest = std::max(widest, screen_.Columns(l));
    inner = std::min(inner, std::max(widest, 1));
    int room = std::max(1, size.Y - 2); // the header and the footer stay
    auto shown = static_cast<std::size_t>(std::max(1, room - 2));
    first = std::min(first, wrapped.size() > shown ? wrapped.size() - shown : 0);
    std::size_t last = std::min(wrapped.size(), first + shown);
    auto rows = static_cast<int>(last - first) + 2;
    int top = std::max(std::min(1, size.Y - rows), (size.Y - rows) / 2);
    int left = std::max(0, (size.X - inner - Frame) / 2);
    bool unicode = screen_.Unicode();
    std::string_view h = unicode ? "\xE2\x94\x80" : "-";
    std::string_view v = unicode ? "\xE2\x94\x82" : "|";
    auto edge = [&](std::string_view from, std::string_view to, std::string_view note) {
        std::string e = std::string(static_cast<std::size_t>(left), ' ') + std::string(from);
        int cols = 0;
        if (!note.empty() && screen_.Columns(note) + 4 <= inner + 2) {
            e += h;
            e += h;
            e += note;
            cols = 2 + screen_.Columns(note);
        }
        for (; cols < inner + 2; ++cols)
            e += h;
        return e + std::string(to);
    };
    std::string above = first > 0 ? " Up: more " : "";
    std::string below = last < wrapped.size() ? " Down: more " : "";
    std::string topRow =
        edge(unicode ? "\xE2\x94\x8C" : "+", unicode ? "\xE2\x94\x90" : "+", above);
    std::string bottom =
        edge(unicode ? "\xE2\x94\x94" : "+", unicode ? "\xE2\x94\x98" : "+", below);
    std::array<Span, 1> t{Span{topRow, look}};
    screen_.Row(top, t);
    for (std::size_t k = first; k < last; ++k) {
        std::string body = wrapped[k];
        int cols = screen_.Columns(body);
        if (cols < inner) body.append(static_cast<std::size_t>(inner - cols), ' ');
        std::string leftEdge =
            std::string(static_cast<std::size_t>(left), ' ') + std::string(v) + " ";
        std::string right(1, ' ');
        right.append(v);
        std::array<Span, 3> row{Span{leftEdge, look}, Span{body, Attr::Normal}, Span{right, look}};
        screen_.Row(top + 1 + static_cast<int>(k - first), row);
    }
    std::array<Span, 1> b{Span{bottom, look}};
    screen_.Row(top + rows - 1, b);
}

void View::DrawDialog() {
    int inner = std::max(1, screen_.Size().X - Frame);
    switch (dialog_) {
    case Dialog::None:
        return;
    case Dialog::Help: {
        std::vector<std::string> lines = HelpLines(inner);
        // Kept within the lines: Down past the end scrolls no further.
        std::size_t shown = static_cast<std::size_t>(std::max(1, screen_.Size().Y - 4));
        helpTop_ = std::min(helpTop_, lines.size() > shown ? lines.size() - shown : 0);
        DrawBox(lines, Attr::Normal, helpTop_);
        return;
    }
    case Dialog::Info: {
        std::vector<std::string> lines = InfoLines();
        lines.emplace_back("");
        lines.emplace_back("Any key closes this");
        DrawBox(lines, Attr::Normal, 0);
        return;
    }
    case Dialog::Confirm:
        DrawBox(ConfirmLines(), Attr::Warn, 0);
        return;
    }
}

} // namespace kelpo32::browse
