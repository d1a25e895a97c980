#include "kelpo32/progress.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/report.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

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
    // A job moved to the background was stopped first, and the stop blanked
    // the line: writing now would blank the shell's prompt instead.
    if (!runtime::StdErrInForeground()) {
        Shown = 0;
        runtime::SetStdErrLine(0);
        return;
    }
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
        path, columns, runtime::StdErrSink());
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
    // Drawn only in the terminal's foreground: a background job stays quiet
    // until "fg" brings it back.
    if (now - Started >= FirstShown && now - Drawn >= Redraw && runtime::StdErrInForeground())
        Draw(dir, now);
}

// Appends what fits of `path` in `room` columns, as `sink` may show it; a
// character of several bytes counts two columns (it may be a wide one).
void AppendShown(std::string& out, std::string_view path, std::size_t room,
                 runtime::TextSink sink) {
    std::size_t used = 0;
    while (!path.empty()) {
        runtime::ShownChar c = runtime::NextShown(path, sink);
        std::size_t cols = c.Replaced || c.Length == 1 ? 1 : 2;
        if (used + cols > room) break;
        if (c.Replaced)
            out += '?';
        else
            out.append(path.substr(0, c.Length));
        used += cols;
        path.remove_prefix(c.Length);
    }
}

} // namespace

std::string ProgressText(std::int64_t dirs, std::int64_t files, std::int64_t bytes,
                         std::chrono::milliseconds elapsed, std::string_view path,
                         std::int32_t columns, runtime::TextSink sink) {
    auto seconds = elapsed.count() / 1000;
    std::string minutes = std::to_string(seconds / 60);
    std::string secs = std::to_string(seconds % 60);
    std::string text = GroupThousands(dirs) + " dirs, " + GroupThousands(files) + " files, " +
                       GroupThousands(bytes) + " bytes, " + minutes + ":" +
                       (secs.size() < 2 ? "0" : "") + secs + "  ";
    std::size_t room = columns > 1 ? static_cast<std::size_t>(columns) - 1 : 0;
    if (text.size() > room) return text.substr(0, room);
    std::string shown;
    AppendShown(shown, path, room - text.size(), sink);
    return text + shown;
}

void ProgressStart(bool outputWaits) {
    Enabled =
        !NoProgress && (crt32_pipe::IsRedirected() || outputWaits) && runtime::StdErrIsTerminal();
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
