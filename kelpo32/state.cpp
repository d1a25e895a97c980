#include "kelpo32/state.h"

namespace kelpo32 {

bool TreeOnly = false;
bool NoWait = false;
bool LogEnabled = false;
bool OneFileSystem = false;
std::int32_t MaxDepth = NoDepthLimit;
std::string StartDir;
std::string StartNative;
std::int32_t ScreenWidth = 0;
std::int32_t OutputWidth = 0;
std::uint8_t DrawDepth = 0;
std::int32_t PageLines = 0;
std::int32_t LinesOnPage = 0;
std::int32_t Level = 0;
std::array<std::string, SegmentCount + 1> LevelSegments;
std::string Prefix;
std::string Indent;
std::string DashSource;
unsigned char GlyphTee = 0, GlyphLast = 0, GlyphVert = 0, GlyphHoriz = 0, GlyphMarker = 0,
              GlyphTotal = 0;
std::int32_t AllocCount = 0;
std::int32_t AllocPeak = 0;
std::uint8_t SavedAttr = 0;
rtl::TextOut LogFile;
std::int64_t GrandTotal = 0;

void ResetReportState() {
    TreeOnly = NoWait = LogEnabled = OneFileSystem = false;
    MaxDepth = NoDepthLimit;
    StartDir.clear();
    StartNative.clear();
    ScreenWidth = OutputWidth = PageLines = LinesOnPage = Level = 0;
    DrawDepth = 0;
    for (auto& segment : LevelSegments)
        segment.clear();
    Prefix.clear();
    Indent.clear();
    DashSource.clear();
    GlyphTee = GlyphLast = GlyphVert = GlyphHoriz = GlyphMarker = GlyphTotal = 0;
    AllocCount = AllocPeak = 0;
    SavedAttr = 0;
    GrandTotal = 0;
}

namespace {
// Marker, total, vertical, corner, tee and horizontal glyph.
void SetGlyphs(const unsigned char (&set)[6]) {
    GlyphMarker = set[0];
    GlyphTotal = set[1];
    GlyphVert = set[2];
    GlyphLast = set[3];
    GlyphTee = set[4];
    GlyphHoriz = set[5];
}
} // namespace

// Box-drawing characters of code page 437.
void UseConsoleGlyphs() {
    SetGlyphs({16, 175, 179, 192, 195, 196});
}

// Plain characters, with the em dash and the guillemet of code page 1252.
void UseRedirectedGlyphs() {
    SetGlyphs({62, 187, 124, 43, 43, 151});
}

void ModuleShutdown() {
    // An error that ended the run early must not lose what the log holds.
    if (LogFile.IsOpen()) LogFile.Close();
    Indent.clear();
    DashSource.clear();
    Prefix.clear();
    for (auto& segment : LevelSegments)
        segment.clear();
    StartDir.clear();
    StartNative.clear();
}

} // namespace kelpo32
