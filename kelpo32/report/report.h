// The text of every report line: directory lines, depth notices, total lines.
#pragma once

#include "kelpo32/output/sizes.h"
#include "kelpo32/walk/consumer.h"
#include "runtime/textwidth.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelpo32::report {

// The single-byte glyphs that draw the tree and mark the columns.
struct GlyphSet {
    unsigned char Tee;    // a subdirectory that has siblings after it
    unsigned char Last;   // the last subdirectory, and the corner of a total line
    unsigned char Vert;   // a level whose subdirectories go on below
    unsigned char Horiz;  // after the tee or corner
    unsigned char Marker; // before the count and size columns
    unsigned char Total;  // after the corner of a total line
};

// Box-drawing characters of code page 437.
inline constexpr GlyphSet ConsoleGlyphs{
    .Tee = 195, .Last = 192, .Vert = 179, .Horiz = 196, .Marker = 16, .Total = 175};
// Plain characters, with the em dash and the guillemet of code page 1252.
inline constexpr GlyphSet RedirectedGlyphs{
    .Tee = 43, .Last = 43, .Vert = 124, .Horiz = 151, .Marker = 62, .Total = 187};

// The glyphs of the display profile; every later line is drawn with them.
void UseGlyphs(const GlyphSet& set);
// How names are measured: in bytes, or (false) in the columns the platform
// shows them in (runtime/textwidth.h).
void UseByteWidths(bool bytes);
// The columns a name takes, and the longest start of it within `columns`, as
// the names of every line are measured.
std::size_t NameColumns(std::string_view name);
runtime::TextFit FitName(std::string_view name, std::size_t columns);
// How the current directory is named when no start directory is given: "."
// as POSIX tools name it, or (false) the Windows program's "ROOT".
void UseDotForCurrentDir(bool dot);
// Gives the report's own state its value from before the program starts;
// called by the tests' report set-up only, like ResetSharedState.
void ResetReport();

// A number's digits with a comma before every group of three, built in place
// without an allocation. Only counts and sums are shown: no sign.
class Thousands {
  public:
    explicit Thousands(std::int64_t value) noexcept;
    std::string_view Text() const noexcept {
        return {digits_.data() + start_, digits_.size() - start_};
    }

  private:
    std::array<char, 27> digits_{}; // 20 digits and 6 commas at most
    std::size_t start_ = digits_.size();
};

std::string GroupThousands(std::int64_t value);

// What a directory line shows: where the directory stands among its siblings
// and what its listing holds.
struct DirLine {
    std::string_view Path{}; // in front of Name; the start directory itself at level 0
    std::string_view Name{}; // empty for the start directory
    std::int32_t Level = 0;
    std::int32_t SiblingCount = 0;
    std::int32_t Id = 0;         // position among the siblings, from 1
    std::int32_t ChildCount = 0; // the lines that follow below it
    std::int64_t FileCount = 0;
    std::int64_t FileBytes = 0;
    // The layout of totals: the numbers are the subtree's, a share of the
    // parent's bytes follows them, and since no total line closes a branch
    // the last sibling is drawn as the last.
    bool Totals = false;
    std::int32_t ShareTenths = 0; // tenths of a percent
    output::SizeUnits Units = output::SizeUnits::Exact;
    // Program text drawn in place of a name ("... and 3 more").
    std::string_view Label{};
    // The layout of totals: the widths of its count and size fields (0: the
    // report's own), measured over all its lines so the columns line up; and
    // program text after the name (" [unread]").
    std::int32_t CountWidth = 0;
    std::int32_t SizeWidth = 0;
    std::string_view Mark{};
};

void PrintDirLine(const DirLine& line);
void PrintTotalLine(const std::string& name, std::int32_t level, std::int64_t total);
void PrintDepthNotice(std::int32_t level);

// A path longer than ShownPathLimit bytes as the over-deep lines and the /L
// trace show it: "..." and its end from a separator within the limit (the
// whole path when no separator is there). A chain deeper than the report
// draws would otherwise cost the square of its depth. `room` holds the
// shortened text.
inline constexpr std::size_t ShownPathLimit = 1024;
std::string_view ShownPath(std::string_view path, std::string& room);

// The report as the consumer of the walk: which line each directory gets, a
// directory line when it is listed and a total line when its subtree is done.
// Its state is the report state (state.h) and the report's own in report.cpp.
class ReportLines final : public walk::WalkConsumer {
  public:
    void Begin() override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;
};

} // namespace kelpo32::report
