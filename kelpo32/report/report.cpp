#include "kelpo32/report/report.h"

#include "crt32_pipe/crt32_pipe.h"
#include "hexs/hexs.h"
#include "kelpo32/conventions.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/textwidth.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kelpo32::report {

namespace {

constexpr std::int32_t ColumnsWidth = 21; // marker, count field and size field
constexpr std::int32_t CountField = 5;
constexpr std::int32_t SizeField = 14;
constexpr std::int32_t ShareField = 7; // " 100.0%"
constexpr std::size_t LeaderNameLimit = 13;

// The current directory is named "." (POSIX text) or "ROOT".
bool DotForCurrentDir = false;

// A line under construction: program text, a file-system name, program text.
// The name is kept apart so that a console can show it safely; program text
// takes one column per byte.
struct LineText {
    std::string_view Head;
    std::string_view Name;
    std::string_view Tail;
    std::size_t NameWidth = 0;
    std::size_t Columns() const { return Head.size() + NameWidth + Tail.size(); }
};

// The report's own state: the glyphs of the display profile, the text of each
// drawn level (entries 1 to SegmentCount), the line prefix being built and the
// attribute a coloured line puts back.
constexpr std::int32_t SegmentCount = 80;
constexpr std::string_view Indent{"  \0", 3}; // the byte 0 is shown as a blank
constexpr std::string_view DashSource{" ------------------"};
GlyphSet Glyphs{};
std::array<bool, SegmentCount + 1> LastAtLevel{}; // the level's drawn line has ended
std::string Prefix;
// The same prefix as the device shows it, from pieces translated once.
std::string DevicePrefix;
// Levels 1 to CachedLevels of Prefix and DevicePrefix are still right, ending
// at PrefixEnds and DeviceEnds: a line changes only its own level's segment,
// so the next line keeps every level above it and appends the rest.
std::int32_t CachedLevels = 0;
std::array<std::size_t, SegmentCount + 1> PrefixEnds{};
std::array<std::size_t, SegmentCount + 1> DeviceEnds{};

// The pieces every line repeats, in the program's form and as the device
// shows them; made at the first line of a report.
struct LinePieces {
    bool Made = false;
    std::string Segment[2]; // a level's vertical line (0) or blank (1), then the indent
    std::string DeviceSegment[2];
    std::string DeviceCorner;    // the total line's corner
    std::string DeviceBranch[2]; // a directory's tee (0) or last corner (1), then the dash
    std::string DeviceMarker;    // before the count and size columns
};
LinePieces Pieces;

const LinePieces& Repeated() {
    if (!Pieces.Made) {
        auto& out = runtime::StdOut();
        for (int i = 0; i < 2; ++i) {
            Pieces.Segment[i].assign(1, i == 1 ? ' ' : static_cast<char>(Glyphs.Vert));
            Pieces.Segment[i] += Indent;
            Pieces.DeviceSegment[i].clear();
            out.Translate(Pieces.DeviceSegment[i], Pieces.Segment[i]);
        }
        const char corner[3] = {static_cast<char>(Glyphs.Last), static_cast<char>(Glyphs.Total),
                                ' '};
        Pieces.DeviceCorner.clear();
        out.Translate(Pieces.DeviceCorner, std::string_view(corner, 3));
        for (int i = 0; i < 2; ++i) {
            const char branch[2] = {static_cast<char>(i == 1 ? Glyphs.Last : Glyphs.Tee),
                                    static_cast<char>(Glyphs.Horiz)};
            Pieces.DeviceBranch[i].clear();
            out.Translate(Pieces.DeviceBranch[i], std::string_view(branch, 2));
        }
        const char marker = static_cast<char>(Glyphs.Marker);
        Pieces.DeviceMarker.clear();
        out.Translate(Pieces.DeviceMarker, std::string_view(&marker, 1));
        Pieces.Made = true;
        CachedLevels = 0; // the segments may have changed with the glyphs
    }
    return Pieces;
}
// What follows the name on a line: built whole, then written in one piece.
std::string LineRest;
std::uint8_t SavedAttr = 0;

// Writes the first `limit` columns of the line. A character that does not fit
// whole is left out and the column it leaves is a blank.
void WriteCut(const LineText& text, std::size_t limit) {
    auto& out = runtime::StdOut();
    std::string_view head = text.Head.substr(0, std::min(limit, text.Head.size()));
    out.Write(head);
    std::size_t left = limit - head.size();
    runtime::TextFit fit = FitName(text.Name, left);
    out.WriteName(text.Name.substr(0, fit.Bytes));
    left -= fit.Columns;
    if (fit.Bytes < text.Name.size()) {
        out.WriteFill(' ', left);
        return;
    }
    out.Write(text.Tail.substr(0, std::min(left, text.Tail.size())));
}

void AppendRightAligned(std::string& line, std::string_view text, std::int32_t field) {
    line.append(hexs::PadCount(text.size(), field), ' ');
    line += text;
}

// " 12.3%", seven columns.
std::string ShareText(std::int32_t tenths) {
    std::string text = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
    if (text.size() < ShareField) text.insert(0, ShareField - text.size(), ' ');
    return text;
}

// `fit`: the line is cut to the width less one column, as a console's layout
// of totals writes every line.
void PrintOverDeepLine(std::string_view whole, std::string_view name, bool fit) {
    auto& out = runtime::StdOut();
    std::string room;
    std::string_view path = ShownPath(whole, room);
    std::size_t columns = NameColumns(path) + NameColumns(name) + 2;
    std::int32_t width = runtime::CheckedSub<std::int32_t>(OutputWidth, 1);
    if (fit && width > 2 && columns > static_cast<std::size_t>(width)) {
        // The path's start gives way first, then the name's end; the
        // parentheses stay.
        std::size_t left = static_cast<std::size_t>(width) - 2;
        runtime::TextFit inName = FitName(name, left);
        name = name.substr(0, inName.Bytes);
        left -= inName.Columns;
        std::size_t pathColumns = NameColumns(path);
        if (pathColumns > left) {
            // The shortest start of the path that takes the extra columns
            // (a wide character may take one more).
            std::size_t drop = pathColumns - left;
            runtime::TextFit cut = FitName(path, drop);
            for (std::size_t more = 1; cut.Columns < drop && cut.Bytes < path.size(); ++more)
                cut = FitName(path, drop + more);
            path = path.substr(cut.Bytes);
            pathColumns -= cut.Columns;
        }
        columns = pathColumns + inName.Columns + 2;
    }
    std::size_t fill = hexs::PadCount(columns, width);
    MakeRoom(static_cast<std::int64_t>(columns + fill));
    SavedAttr = static_cast<std::uint8_t>(crt32_pipe::TextAttr() & 0xFF);
    crt32_pipe::SetForeground(crt32_pipe::ColourLightRed);
    out.Write('(');
    out.WriteName(path);
    out.WriteName(name);
    out.Write(')');
    out.WriteFill(' ', fill);
    out.WriteLn();
    NextLine();
    crt32_pipe::SetForeground(SavedAttr);
}

} // namespace

void UseGlyphs(const GlyphSet& set) {
    Glyphs = set;
    Pieces.Made = false;
}

void UseDotForCurrentDir(bool dot) {
    DotForCurrentDir = dot;
}

void ResetReport() {
    Glyphs = GlyphSet{};
    LastAtLevel.fill(false);
    Prefix.clear();
    DevicePrefix.clear();
    CachedLevels = 0;
    Pieces.Made = false;
    LineRest.clear();
    SavedAttr = 0;
    UseByteWidths(false);
    // The platform's text form's.
    DotForCurrentDir = PlatformConventions().DotForCurrentDir;
}

void PrintDirLine(const DirLine& line) {
    // Levels past the drawn ones, and past the 80 level segments, have no glyphs.
    if (line.Level > DrawDepth || line.Level > SegmentCount) {
        PrintOverDeepLine(line.Path, line.Label.empty() ? line.Name : line.Label,
                          line.Totals && !crt32_pipe::IsRedirected());
        return;
    }
    LineText text;
    std::string leader;
    if (line.Level == 0) {
        if (StartDir.empty()) {
            // POSIX text names the current directory as its tools do; the
            // Windows form keeps the Windows program's word.
            bool dot = DotForCurrentDir;
            text.Head = dot ? (TreeOnly ? "." : ". --") : (TreeOnly ? "ROOT" : "ROOT --");
        } else {
            text.Name = line.Path;
            text.Tail = TreeOnly ? "" : " --";
        }
    } else {
        bool last = (TreeOnly || line.Totals) && line.Id == line.SiblingCount;
        char branch[2] = {static_cast<char>(last ? Glyphs.Last : Glyphs.Tee),
                          static_cast<char>(Glyphs.Horiz)};
        LastAtLevel[static_cast<std::size_t>(line.Level)] = last;
        const LinePieces& pieces = Repeated();
        std::int32_t kept = std::min(CachedLevels, line.Level - 1);
        Prefix.resize(PrefixEnds[static_cast<std::size_t>(kept)]);
        DevicePrefix.resize(DeviceEnds[static_cast<std::size_t>(kept)]);
        for (std::int32_t l = kept + 1; l < line.Level; ++l) {
            auto at = static_cast<std::size_t>(l);
            int ended = LastAtLevel[at] ? 1 : 0;
            Prefix += pieces.Segment[ended];
            DevicePrefix += pieces.DeviceSegment[ended];
            PrefixEnds[at] = Prefix.size();
            DeviceEnds[at] = DevicePrefix.size();
        }
        CachedLevels = line.Level - 1;
        Prefix.append(branch, 2);
        Prefix += line.Label;
        DevicePrefix += pieces.DeviceBranch[last ? 1 : 0];
        if (!line.Label.empty()) runtime::StdOut().Translate(DevicePrefix, line.Label);
        text.Head = Prefix;
        text.Name = line.Name;
    }
    text.NameWidth = NameColumns(text.Name);
    // A mark after the name; the name, its mark and its leader take 16
    // columns together.
    std::string tail(line.Mark);
    tail += text.Tail;
    text.Tail = tail;
    std::size_t named = text.NameWidth + line.Mark.size();
    if (line.Level > 0 && line.ChildCount > 0 && !TreeOnly && named <= LeaderNameLimit) {
        leader = DashSource.substr(0, LeaderNameLimit - named);
        leader += "---";
        if (static_cast<std::int64_t>(text.Columns() + leader.size()) < OutputWidth) {
            tail += leader;
            text.Tail = tail;
        }
    }
    auto& out = runtime::StdOut();
    std::int32_t lastFull = static_cast<std::int32_t>(DrawDepth) - 1;
    bool full =
        !TreeOnly && (line.Level < lastFull || (line.Level == lastFull && line.ChildCount == 0));
    // On a console the layout of totals fits the window and is coloured as
    // the report's total lines are.
    bool console = line.Totals && !crt32_pipe::IsRedirected();
    std::int32_t countField = std::max(CountField, line.CountWidth);
    std::int32_t sizeField = std::max(SizeField, line.SizeWidth);
    Thousands count(line.FileCount);
    Thousands bytes(line.FileBytes);
    std::string formatted;
    if (line.Totals) formatted = output::FormatSize(line.FileBytes, line.Units);
    std::string_view size = line.Totals ? std::string_view(formatted) : bytes.Text();
    // A size that fills its field gets a blank of its own, so the two
    // numbers never run together.
    std::size_t gap = size.size() >= static_cast<std::size_t>(sizeField) ? 1 : 0;
    std::string share;
    if (line.Totals) share = ShareText(line.ShareTenths);
    std::size_t numbers = 1 + std::max(count.Text().size(), static_cast<std::size_t>(countField)) +
                          gap + std::max(size.size(), static_cast<std::size_t>(sizeField)) +
                          share.size();
    // The columns left for the dashes: the layout of totals ends every line
    // one column short of the width whatever its numbers; the report keeps
    // its fixed fields.
    std::int64_t room = line.Totals ? static_cast<std::int64_t>(OutputWidth) - 1 -
                                          static_cast<std::int64_t>(numbers) -
                                          static_cast<std::int64_t>(text.Columns())
                                    : static_cast<std::int64_t>(runtime::CheckedSub<std::int32_t>(
                                          OutputWidth, ColumnsWidth)) -
                                          static_cast<std::int64_t>(text.Columns());
    std::size_t nameColumns = text.NameWidth;
    if (full && console && room < 0) {
        // Too long for the window: the leader goes first, then the name's end.
        text.Tail = line.Mark;
        room += static_cast<std::int64_t>(tail.size() - line.Mark.size());
        if (room < 0) {
            std::int64_t left = static_cast<std::int64_t>(text.NameWidth) + room;
            if (left < 0) full = false;
            nameColumns = left > 0 ? static_cast<std::size_t>(left) : 0;
            room = 0;
        }
    }
    if (full) {
        std::size_t dashes = room > 0 ? static_cast<std::size_t>(room) : 0;
        MakeRoom(static_cast<std::int64_t>(text.Head.size() + nameColumns + text.Tail.size() +
                                           dashes + numbers));
        // The dashes go out as a fill, which the device takes as it stands.
        LineRest.clear();
        AppendRightAligned(LineRest, count.Text(), countField);
        LineRest.append(gap, ' ');
        AppendRightAligned(LineRest, size, sizeField);
        LineRest += share;
        if (line.Level > 0) out.WriteRaw(DevicePrefix);
        if (console) {
            SavedAttr = static_cast<std::uint8_t>(crt32_pipe::TextAttr() & 0xFF);
            crt32_pipe::SetForeground(crt32_pipe::ColourLightGreen);
        }
        if (line.Level == 0) out.Write(text.Head);
        if (nameColumns < text.NameWidth) {
            runtime::TextFit fit = FitName(text.Name, nameColumns);
            out.WriteName(text.Name.substr(0, fit.Bytes));
            out.WriteFill(' ', nameColumns - fit.Columns);
        } else {
            out.WriteName(text.Name);
        }
        out.Write(text.Tail);
        out.WriteFill('-', dashes);
        out.WriteRaw(Repeated().DeviceMarker);
        out.Write(LineRest);
    } else {
        std::size_t limit = OutputWidth > 0 ? static_cast<std::size_t>(OutputWidth) : 0;
        // A console's layout of totals leaves the last column free, as its
        // full lines do.
        if (console && limit > 0) limit -= 1;
        MakeRoom(static_cast<std::int64_t>(std::min(limit, text.Columns())));
        if (console) {
            SavedAttr = static_cast<std::uint8_t>(crt32_pipe::TextAttr() & 0xFF);
            crt32_pipe::SetForeground(crt32_pipe::ColourLightGreen);
        }
        WriteCut(text, limit);
    }
    out.WriteLn();
    if (console) crt32_pipe::SetForeground(SavedAttr);
    NextLine();
}

void PrintTotalLine(const std::string& name, std::int32_t level, std::int64_t total) {
    auto& out = runtime::StdOut();
    const LinePieces& pieces = Repeated();
    std::size_t prefixColumns = static_cast<std::size_t>(level) * pieces.Segment[0].size() + 3;
    Thousands sum(total);
    std::string alloc;
    if (LogEnabled) alloc = " {alloc:" + std::to_string(AllocCount) + "}";
    std::size_t label = name.empty()
                            ? std::string_view("Total bytes: ").size()
                            : std::string_view("Total in \"\": ").size() + NameColumns(name);
    MakeRoom(static_cast<std::int64_t>(prefixColumns + label + sum.Text().size() + alloc.size()));
    // Every level's vertical line, then the corner.
    for (std::int32_t l = 0; l < level; ++l)
        out.WriteRaw(pieces.DeviceSegment[0]);
    out.WriteRaw(pieces.DeviceCorner);
    bool coloured = !crt32_pipe::IsRedirected();
    if (coloured) {
        SavedAttr = static_cast<std::uint8_t>(crt32_pipe::TextAttr() & 0xFF);
        crt32_pipe::SetForeground(crt32_pipe::ColourLightGreen);
    }
    if (!name.empty()) {
        out.Write("Total in \"");
        out.WriteName(name);
        LineRest.assign("\": ");
    } else {
        LineRest.assign("Total bytes: ");
    }
    LineRest += sum.Text();
    LineRest += alloc;
    out.Write(LineRest);
    out.WriteLn();
    if (coloured) crt32_pipe::SetForeground(SavedAttr);
    NextLine();
}

void PrintDepthNotice(std::int32_t level) {
    auto& out = runtime::StdOut();
    const char step[4] = {static_cast<char>(Glyphs.Vert), '.', '.', '.'};
    // A row on the screen like any other: it counts toward the page, so that
    // nothing scrolls away unseen before a prompt.
    MakeRoom(4 * static_cast<std::int64_t>(std::max<std::int32_t>(level - 1, 0)));
    for (std::int32_t l = 1; l < level; ++l)
        out.Write(std::string_view(step, 4));
    out.WriteLn();
    NextLine();
}

} // namespace kelpo32::report
