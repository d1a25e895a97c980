#include "kelpo32/report.h"

#include "crt32_pipe/crt32_pipe.h"
#include "hexs/hexs.h"
#include "kelpo32/paging.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace kelpo32 {

namespace {

constexpr std::int32_t ColumnsWidth = 21; // marker, count field and size field
constexpr std::int32_t CountField = 5;
constexpr std::int32_t SizeField = 14;
constexpr std::size_t LeaderNameLimit = 13;

// True from the first directory at or past MaxDepth after a written directory
// line until the next written one: one depth notice per such run.
bool DepthNoticeShown = false;

// A line under construction: program text, a file-system name, program text.
// The name is kept apart so that a console can show it safely.
struct LineText {
    std::string_view Head;
    std::string_view Name;
    std::string_view Tail;
    std::size_t Length() const { return Head.size() + Name.size() + Tail.size(); }
};

// The report's own state: the glyphs of the display profile, the text of each
// drawn level (entries 1 to SegmentCount), the line prefix being built and the
// attribute a coloured line puts back.
constexpr std::int32_t SegmentCount = 80;
constexpr std::string_view Indent{"  \0", 3}; // the byte 0 is shown as a blank
constexpr std::string_view DashSource{" ------------------"};
GlyphSet Glyphs{};
std::array<std::string, SegmentCount + 1> LevelSegments;
std::string Prefix;
std::uint8_t SavedAttr = 0;

void WriteCut(const LineText& text, std::size_t limit) {
    auto& out = runtime::StdOut();
    std::size_t left = limit;
    auto take = [&left](std::string_view s) {
        std::string_view part = s.substr(0, std::min(left, s.size()));
        left -= part.size();
        return part;
    };
    out.Write(take(text.Head));
    out.WriteName(take(text.Name));
    out.Write(take(text.Tail));
}

void WriteRightAligned(const std::string& text, std::int32_t field) {
    runtime::StdOut().WriteFill(' ', hexs::PadCount(text.size(), field));
    runtime::StdOut().Write(text);
}

void PrintOverDeepLine(std::string_view path, std::string_view name) {
    auto& out = runtime::StdOut();
    SavedAttr = static_cast<std::uint8_t>(crt32_pipe::TextAttr() & 0xFF);
    crt32_pipe::SetForeground(crt32_pipe::ColourLightRed);
    out.Write('(');
    out.WriteName(path);
    out.WriteName(name);
    out.Write(')');
    out.WriteFill(' ', hexs::PadCount(path.size() + name.size() + 2,
                                      runtime::CheckedSub<std::int32_t>(OutputWidth, 1)));
    out.WriteLn();
    NextLine();
    crt32_pipe::SetForeground(SavedAttr);
}

} // namespace

void UseGlyphs(const GlyphSet& set) {
    Glyphs = set;
}

void ResetReport() {
    Glyphs = GlyphSet{};
    for (auto& segment : LevelSegments)
        segment.clear();
    Prefix.clear();
    SavedAttr = 0;
    DepthNoticeShown = false;
}

std::string GroupThousands(std::int64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, res.ptr);
    if (!text.empty() && text[0] == '-') text.erase(0, 1);
    for (std::size_t group : {9u, 6u, 3u})
        if (text.size() > group) text.insert(text.size() - group, 1, ',');
    return text;
}

void PrintDirLine(const DirLine& line) {
    // Levels past the drawn ones, and past the 80 level segments, have no glyphs.
    if (line.Level > DrawDepth || line.Level > SegmentCount) {
        PrintOverDeepLine(line.Path, line.Name);
        return;
    }
    LineText text;
    std::string leader;
    if (line.Level == 0) {
        if (StartDir.empty()) {
            text.Head = TreeOnly ? "ROOT" : "ROOT --";
        } else {
            text.Name = line.Path;
            text.Tail = TreeOnly ? "" : " --";
        }
    } else {
        bool last = TreeOnly && line.Id == line.SiblingCount;
        char branch[2] = {static_cast<char>(last ? Glyphs.Last : Glyphs.Tee),
                          static_cast<char>(Glyphs.Horiz)};
        std::string& segment = LevelSegments[static_cast<std::size_t>(line.Level)];
        segment.assign(1, last ? ' ' : static_cast<char>(Glyphs.Vert));
        segment += Indent;
        Prefix.clear();
        for (std::int32_t l = 1; l < line.Level; ++l)
            Prefix += LevelSegments[static_cast<std::size_t>(l)];
        Prefix.append(branch, 2);
        text.Head = Prefix;
        text.Name = line.Name;
        if (line.ChildCount > 0 && !TreeOnly && line.Name.size() <= LeaderNameLimit) {
            leader = DashSource.substr(0, LeaderNameLimit - line.Name.size());
            leader += "---";
            if (static_cast<std::int64_t>(text.Length() + leader.size()) < OutputWidth)
                text.Tail = leader;
        }
    }
    auto& out = runtime::StdOut();
    std::int32_t lastFull = static_cast<std::int32_t>(DrawDepth) - 1;
    bool full =
        !TreeOnly && (line.Level < lastFull || (line.Level == lastFull && line.ChildCount == 0));
    if (full) {
        std::int64_t dashes = static_cast<std::int64_t>(
                                  runtime::CheckedSub<std::int32_t>(OutputWidth, ColumnsWidth)) -
                              static_cast<std::int64_t>(text.Length());
        WriteCut(text, text.Length());
        out.WriteFill('-', dashes > 0 ? static_cast<std::size_t>(dashes) : 0);
        out.Write(static_cast<char>(Glyphs.Marker));
        WriteRightAligned(GroupThousands(line.FileCount), CountField);
        WriteRightAligned(GroupThousands(line.FileBytes), SizeField);
    } else {
        WriteCut(text, OutputWidth > 0 ? static_cast<std::size_t>(OutputWidth) : 0);
    }
    out.WriteLn();
    NextLine();
}

void PrintTotalLine(const std::string& name, std::int32_t level, std::int64_t total) {
    auto& out = runtime::StdOut();
    Prefix.clear();
    for (std::int32_t l = 0; l < level; ++l) {
        Prefix += static_cast<char>(Glyphs.Vert);
        Prefix += Indent;
    }
    out.Write(Prefix);
    const char corner[3] = {static_cast<char>(Glyphs.Last), static_cast<char>(Glyphs.Total), ' '};
    out.Write(std::string_view(corner, 3));
    bool coloured = !crt32_pipe::IsRedirected();
    if (coloured) {
        SavedAttr = static_cast<std::uint8_t>(crt32_pipe::TextAttr() & 0xFF);
        crt32_pipe::SetForeground(crt32_pipe::ColourLightGreen);
    }
    if (!name.empty()) {
        out.Write("Total in \"");
        out.WriteName(name);
        out.Write("\": ");
    } else {
        out.Write("Total bytes: ");
    }
    out.Write(GroupThousands(total));
    if (LogEnabled) {
        out.Write(" {alloc:");
        out.WriteInt(AllocCount);
        out.Write('}');
    }
    out.WriteLn();
    if (coloured) crt32_pipe::SetForeground(SavedAttr);
    NextLine();
}

void PrintDepthNotice(std::int32_t level) {
    auto& out = runtime::StdOut();
    const char step[4] = {static_cast<char>(Glyphs.Vert), '.', '.', '.'};
    for (std::int32_t l = 1; l < level; ++l)
        out.Write(std::string_view(step, 4));
    out.WriteLn();
}

void StartReport() {
    DepthNoticeShown = false;
}

void ReportDirListed(const WalkDir& dir, const WalkListing& listing) {
    // The subdirectories wait in records until their subtrees are done.
    AllocCount = runtime::CheckedAdd<std::int32_t>(AllocCount, listing.ChildCount);
    AllocPeak = std::max(AllocPeak, AllocCount);
    if (dir.Level < MaxDepth) {
        // A console shows the name from its native form.
        runtime::StdOut().NoteName(dir.Name, dir.Native);
        PrintDirLine({.Path = dir.Path,
                      .Name = dir.Name,
                      .Level = dir.Level,
                      .SiblingCount = dir.SiblingCount,
                      .Id = dir.Id,
                      .ChildCount = listing.ChildCount,
                      .FileCount = listing.FileCount,
                      .FileBytes = listing.FileBytes});
        DepthNoticeShown = false;
    } else {
        if (!DepthNoticeShown && !TreeOnly) PrintDepthNotice(dir.Level);
        DepthNoticeShown = true;
    }
}

void ReportDirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) {
    if (dir.Level < MaxDepth && listing.ChildCount > 0 && !TreeOnly && dir.Level < DrawDepth) {
        runtime::StdOut().NoteName(dir.Name, dir.Native);
        PrintTotalLine(dir.Name, dir.Level, total);
    }
    // Its own record goes once its subtree is done.
    if (dir.Level > 0) AllocCount = runtime::CheckedSub<std::int32_t>(AllocCount, 1);
}

} // namespace kelpo32
