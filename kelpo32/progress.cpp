#include "kelpo32/progress.h"

#include "crt32_pipe/crt32_pipe.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

#include <algorithm>
#include <cstddef>
#include <string>

namespace kelpo32 {

namespace {

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
                         std::int32_t columns, runtime::TextSink sink) {
    auto seconds = elapsed.count() / 1000;
    std::string minutes = std::to_string(seconds / 60);
    std::string secs = std::to_string(seconds % 60);
    std::string text = Grouped(dirs) + " dirs, " + Grouped(files) + " files, " + Grouped(bytes) +
                       " bytes, " + minutes + ":" + (secs.size() < 2 ? "0" : "") + secs + "  ";
    std::size_t room = columns > 1 ? static_cast<std::size_t>(columns) - 1 : 0;
    if (text.size() > room) return text.substr(0, room);
    std::string shown;
    AppendShown(shown, path, room - text.size(), sink);
    return text + shown;
}

StatusLine::~StatusLine() {
    if (!enabled_) return;
    try {
        Erase();
    } catch (...) {
        // Left on the terminal rather than end the unwinding.
    }
    runtime::SetStdErrHook(nullptr, nullptr);
}

void StatusLine::Erase() {
    if (shown_ == 0) return;
    std::string blank = "\r";
    blank.append(shown_, ' ');
    blank += '\r';
    shown_ = 0;
    runtime::WriteStdErrDirect(blank);
    // Only now: a signal before this point blanks the line itself.
    runtime::SetStdErrLine(0);
}

void StatusLine::Draw(const WalkDir& dir, Clock::time_point now) {
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

void StatusLine::Tick(const WalkDir& dir) {
    if (!enabled_ || ++events_ % EventsPerLook != 0) return;
    Clock::time_point now = Clock::now();
    if (now - started_ >= FirstShown && now - drawn_ >= Redraw) Draw(dir, now);
}

void StatusLine::Begin() {
    enabled_ = wanted_ && crt32_pipe::IsRedirected() && runtime::StdErrIsTerminal();
    started_ = drawn_ = Clock::now();
    if (!enabled_) return;
    sink_ = runtime::StdErrSink();
    // A message erases the line first.
    runtime::SetStdErrHook([](void* self) { static_cast<StatusLine*>(self)->Erase(); }, this);
}

void StatusLine::DirListed(const WalkDir& dir, const WalkListing& listing) {
    if (!enabled_) return;
    ++dirs_;
    files_ = runtime::CheckedAdd<std::int64_t>(files_, listing.FileCount);
    bytes_ = runtime::CheckedAdd(bytes_, listing.FileBytes);
    Tick(dir);
}

void StatusLine::End() {
    if (!enabled_) return;
    Erase();
    runtime::SetStdErrHook(nullptr, nullptr);
    enabled_ = false;
}

} // namespace kelpo32
