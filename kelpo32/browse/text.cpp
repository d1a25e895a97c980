#include "kelpo32/browse/text.h"

#include "kelpo32/output/sizes.h"

#include <algorithm>

namespace kelpo32::browse {

std::string Grouped(std::int64_t n) {
    return output::FormatSize(n, output::SizeUnits::Exact);
}

std::string Files(std::int64_t n) {
    return Grouped(n) + (n == 1 ? " file" : " files");
}

std::string BytesInWords(std::int64_t n) {
    std::string text = Grouped(n) + (n == 1 ? " byte" : " bytes");
    if (n >= 10000) text += " (" + output::FormatSize(n, output::SizeUnits::Binary) + ")";
    return text;
}

std::string PadLeft(std::string text, std::size_t width) {
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    return text;
}

namespace {

struct Mark {
    Flag Of;
    char Shown;
    const char* Means;
};

constexpr Mark Marks[] = {
    {Flag::Unreadable, '!', "not read"},
    {Flag::Partial, '.', "read in part"},
    {Flag::NotEntered, '>', "not entered"},
    {Flag::HardLink, 'H', "several links"},
    {Flag::Other, '@', "link, FIFO, device or socket"},
    {Flag::New, '*', "made since the scan"},
};

} // namespace

char MarkOf(Flag flag) {
    for (const Mark& m : Marks)
        if (m.Of == flag) return m.Shown;
    return ' ';
}

std::vector<std::string> MarkLegend() {
    std::vector<std::string> lines{"Marks:"};
    for (const Mark& m : Marks)
        lines.push_back(std::string("  ") + m.Shown + "  " + m.Means);
    lines.emplace_back(
        "  (size)  not in the totals: counted at another link, or made since the scan");
    return lines;
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
        text = "not read: " + t.Reason;
        break;
    }
    if (t.Partial) text += text.empty() ? "read in part" : " (read in part)";
    return text;
}

std::string KindOf(const runtime::DirEntry& entry) {
    if (entry.Type != runtime::EntryType::Other) return "file";
    switch (entry.Special) {
    case runtime::SpecialType::SymbolicLink:
        return "symbolic link";
    case runtime::SpecialType::Fifo:
        return "FIFO";
    case runtime::SpecialType::Socket:
        return "socket";
    case runtime::SpecialType::Device:
        return "device";
    case runtime::SpecialType::Unknown:
        break;
    }
    return "special file";
}

namespace {

// The longest start of `text` that ends at a character and takes at most
// `columns`.
std::size_t Fitting(const crt32_pipe::Screen& screen, std::string_view text, int columns) {
    if (columns <= 0) return 0;
    if (screen.Columns(text) <= columns) return text.size();
    std::size_t end = text.size();
    while (end > 0) {
        --end;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        if (screen.Columns(text.substr(0, end)) <= columns) return end;
    }
    return 0;
}

} // namespace

std::string CutToColumns(const crt32_pipe::Screen& screen, std::string_view text, int columns,
                         bool unicode) {
    if (screen.Columns(text) <= columns) return std::string(text);
    std::string_view ellipsis = unicode ? "\xE2\x80\xA6" : "...";
    int room = columns - screen.Columns(ellipsis);
    if (room < 0) return std::string(text.substr(0, Fitting(screen, text, columns)));
    std::string cut(text.substr(0, Fitting(screen, text, room)));
    return cut.append(ellipsis);
}

std::vector<std::string> Wrap(const crt32_pipe::Screen& screen, std::string_view text, int columns,
                              std::size_t indent) {
    std::vector<std::string> lines;
    std::string lead;
    columns = std::max(columns, 1);
    while (!text.empty()) {
        int room = columns - static_cast<int>(lead.size());
        if (room < 1) {
            lead.clear();
            room = columns;
        }
        std::size_t end = Fitting(screen, text, room);
        if (end < text.size()) {
            // Broken at the last blank that fits, unless that leaves little.
            std::size_t blank = text.substr(0, end + 1).rfind(' ');
            if (blank != std::string_view::npos && blank > end / 3) end = blank;
            if (end == 0) end = 1; // a character wider than the room
        }
        lines.push_back(lead + std::string(text.substr(0, end)));
        text.remove_prefix(end);
        while (!text.empty() && text.front() == ' ')
            text.remove_prefix(1);
        lead.assign(indent, ' ');
    }
    if (lines.empty()) lines.emplace_back();
    return lines;
}

} // namespace kelpo32::browse
