#include "kelpo32/progress.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace kelpo32 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto FirstShown = std::chrono::milliseconds(500);
constexpr auto Redraw = std::chrono::milliseconds(100);
// The clock is read once per this many events, so the line costs nothing
// measurable on a fast walk.
constexpr std::uint32_t EventsPerLook = 32;

bool Enabled = false;
Clock::time_point Started;
Clock::time_point Drawn;
std::uint32_t Events = 0;
std::size_t Shown = 0; // columns on the terminal now; 0 when erased
std::int64_t Dirs = 0;
std::int64_t Files = 0;
std::int64_t Bytes = 0;

void Erase() {
    if (Shown == 0) return;
    std::string blank = "\r";
    blank.append(Shown, ' ');
    blank += '\r';
    Shown = 0;
    runtime::WriteStdErrDirect(blank);
    // Only now: a signal before this point blanks the line itself.
    runtime::SetStdErrLine(0);
}

void Draw(const WalkDir& dir, Clock::time_point now) {
    std::string path = dir.Path;
    path += dir.Name;
    std::int32_t columns = runtime::StdErrColumns();
    std::string text = ProgressText(
        Dirs, Files, Bytes, std::chrono::duration_cast<std::chrono::milliseconds>(now - Started),
        path, columns);
    // The text takes no more columns than bytes, and never more than the
    // room: blanking that many covers it without wrapping.
    std::size_t room = columns > 1 ? static_cast<std::size_t>(columns) - 1 : 0;
    std::size_t width = std::min(text.size(), room);
    std::string line = "\r" + text;
    if (width < Shown) line.append(Shown - width, ' ');
    line += '\r';
    // Known before it is written, so a signal meanwhile blanks it too.
    runtime::SetStdErrLine(static_cast<std::int32_t>(std::max(width, Shown)));
    Shown = width;
    Drawn = now;
    runtime::WriteStdErrDirect(line);
}

void Tick(const WalkDir& dir) {
    if (!Enabled || ++Events % EventsPerLook != 0) return;
    Clock::time_point now = Clock::now();
    if (now - Started >= FirstShown && now - Drawn >= Redraw) Draw(dir, now);
}

// Appends what fits of `path` in `room` columns: control characters and
// invalid bytes as "?", a character of several bytes counted two columns
// (it may be a wide one).
void AppendShown(std::string& out, std::string_view path, std::size_t room) {
    std::size_t used = 0;
    std::size_t i = 0;
    while (i < path.size()) {
        auto c = static_cast<unsigned char>(path[i]);
        std::size_t n = 1;
        if (c >= 0xC2 && c <= 0xF4) {
            n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            for (std::size_t k = 1; k < n; ++k)
                if (i + k >= path.size() ||
                    (static_cast<unsigned char>(path[i + k]) & 0xC0) != 0x80)
                    n = 1;
        }
        std::size_t cols = n == 1 ? 1 : 2;
        if (used + cols > room) break;
        if (n == 1)
            out += (c < 0x20 || c >= 0x7F) ? '?' : static_cast<char>(c);
        else
            out.append(path.substr(i, n));
        used += cols;
        i += n;
    }
}

// Digits grouped by three all the way up (the report's own grouping stops
// after three separators, which would read as one large group here).
std::string Grouped(std::int64_t value) {
    std::string digits = std::to_string(value);
    for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), 1, ',');
    return digits;
}

} // namespace

std::string ProgressText(std::int64_t dirs, std::int64_t files, std::int64_t bytes,
                         std::chrono::milliseconds elapsed, std::string_view path,
                         std::int32_t columns) {
    auto seconds = elapsed.count() / 1000;
    std::string minutes = std::to_string(seconds / 60);
    std::string secs = std::to_string(seconds % 60);
    std::string text = Grouped(dirs) + " dirs, " + Grouped(files) + " files, " + Grouped(bytes) +
                       " bytes, " + minutes + ":" + (secs.size() < 2 ? "0" : "") + secs + "  ";
    std::size_t room = columns > 1 ? static_cast<std::size_t>(columns) - 1 : 0;
    if (text.size() > room) return text.substr(0, room);
    std::string shown;
    AppendShown(shown, path, room - text.size());
    return text + shown;
}

void ProgressStart(bool outputWaits) {
    Enabled = !NoProgress && (crt32_pipe::IsRedirected() || outputWaits) &&
              runtime::StdErrIsTerminal();
    Started = Drawn = Clock::now();
    Events = 0;
    Shown = 0;
    Dirs = Files = Bytes = 0;
    if (!Enabled) return;
    runtime::SetStdErrHook(Erase);
    runtime::AddExitProc(Erase);
}

void ProgressDir(const WalkDir& dir) {
    Tick(dir);
}

void ProgressListed(const WalkDir& dir, const WalkListing& listing) {
    if (!Enabled) return;
    ++Dirs;
    Files = runtime::CheckedAdd<std::int64_t>(Files, listing.FileCount);
    Bytes = runtime::CheckedAdd(Bytes, listing.FileBytes);
    Tick(dir);
}

void ProgressEnd() {
    if (!Enabled) return;
    Erase();
    runtime::SetStdErrHook(nullptr);
    Enabled = false;
}

} // namespace kelpo32
