// The report state: module-level variables shared by start-up, options, scan,
// report lines and paging. One instance each, alive for the whole run.
#pragma once

#include "runtime/textout.h"

#include <array>
#include <cstdint>
#include <string>

namespace kelpo32 {

inline constexpr std::int32_t NoDepthLimit = 2147483647;
inline constexpr std::int32_t SegmentCount = 80;

extern bool TreeOnly;
extern bool NoWait;
extern bool LogEnabled;
extern bool OneFileSystem; // directories on another file system are not entered
extern std::int32_t MaxDepth;
extern std::string StartDir;
extern std::string StartNative; // StartDir as typed, in the platform's own form (opaque)
extern std::int32_t ScreenWidth;
extern std::int32_t OutputWidth;
extern std::uint8_t DrawDepth;
extern std::int32_t PageLines;
extern std::int32_t LinesOnPage;
extern std::int32_t Level;
extern std::array<std::string, SegmentCount + 1> LevelSegments; // entries 1 to 80
extern std::string Prefix;
extern std::string Indent;
extern std::string DashSource;
extern unsigned char GlyphTee, GlyphLast, GlyphVert, GlyphHoriz, GlyphMarker, GlyphTotal;
extern std::int32_t AllocCount;
extern std::int32_t AllocPeak;
extern std::uint8_t SavedAttr;
extern rtl::TextOut LogFile;
extern std::int64_t GrandTotal;

// Gives every variable its value from before the program starts; tests use it too.
void ResetReportState();

// The glyph sets of the two display profiles.
void UseConsoleGlyphs();
void UseRedirectedGlyphs();

// Module shut-down: closes a log left open by an error and releases the strings.
void ModuleShutdown();

} // namespace kelpo32
