#include "kelpo32/report/progress.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/report/report.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace kelpo32::report {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto FirstShown = std::chrono::milliseconds(500);
constexpr auto Redraw = std::chrono::milliseconds(100);
// The clock is read once per this many events, so the line costs nothing
// measurable on a fast walk.
constexpr std::uint32_t EventsPerLook = 32;

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

StatusLine::~StatusLine() {
    try {
        Stop();
    } catch (...) {
        // Left on the terminal rather than end the unwinding.
    }
}

void StatusLine::Erase() {
    if (shown_ == 0) return;
    // A job moved to the background was stopped first, and the stop blanked
    // the line: writing now would blank the shell's prompt instead.
    if (!runtime::StdErrInForeground()) {
        shown_ = 0;
        runtime::SetStdErrLine(0);
        return;
    }
    std::string blank = "\r";
    blank.append(shown_, ' ');
    blank += '\r';
    shown_ = 0;
    runtime::WriteStdErrDirect(blank);
    // Only now: a signal before this point blanks the line itself.
    runtime::SetStdErrLine(0);
}

void StatusLine::Stop() {
    if (!enabled_) return;
    enabled_ = false;
    runtime::SetStdErrHook(nullptr, nullptr);
    Erase();
}

void StatusLine::Draw(const walk::WalkDir& dir, Clock::time_point now) {
    std::string path = dir.Path;
    path += dir.Name;
    std::int32_t columns = runtime::StdErrColumns();
    std::string text =
        ProgressText(dirs_, files_, bytes_,
                     std::chrono::duration_cast<std::chrono::milliseconds>(now - started_), path,
                     columns, sink_);
    // The text takes no more columns than bytes, and never more than the
    // room: blanking that many covers it without wrapping.
    std::size_t room = columns > 1 ? static_cast<std::size_t>(columns) - 1 : 0;
    std::size_t width = std::min(text.size(), room);
    std::string line = "\r" + text;
    if (width < shown_) line.append(shown_ - width, ' ');
    line += '\r';
    // Known before it is written, so a signal meanwhile blanks it too.
    runtime::SetStdErrLine(static_cast<std::int32_t>(std::max(width, shown_)));
    shown_ = width;
    drawn_ = now;
    runtime::WriteStdErrDirect(line);
}

void StatusLine::Tick(const walk::WalkDir& dir) {
    if (!enabled_ || ++events_ % EventsPerLook != 0) return;
    Clock::time_point now = Clock::now();
    // Drawn only in the terminal's foreground: a background job stays quiet
    // until "fg" brings it back.
    if (now - started_ >= FirstShown && now - drawn_ >= Redraw && runtime::StdErrInForeground())
        Draw(dir, now);
}

void StatusLine::Begin() {
    enabled_ =
        wanted_ && (crt32_pipe::IsRedirected() || outputWaits_) && runtime::StdErrIsTerminal();
    started_ = drawn_ = Clock::now();
    events_ = 0;
    shown_ = 0;
    dirs_ = files_ = bytes_ = 0;
    if (!enabled_) return;
    sink_ = runtime::StdErrSink();
    // A message erases the line first.
    runtime::SetStdErrHook([](void* self) { static_cast<StatusLine*>(self)->Erase(); }, this);
}

void StatusLine::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    if (!enabled_) return;
    ++dirs_;
    files_ = runtime::CheckedAdd<std::int64_t>(
        files_, runtime::CheckedAdd<std::int64_t>(listing.FileCount, listing.UnwalkedFiles));
    bytes_ = runtime::CheckedAdd(bytes_, listing.FileBytes);
    Tick(dir);
}

void StatusLine::End() {
    Stop();
}

} // namespace kelpo32::report
