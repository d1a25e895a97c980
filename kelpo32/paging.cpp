#include "kelpo32/paging.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <limits>

namespace kelpo32 {

std::int32_t LinesOnPage = 0;

namespace {

// The line count stops here: the largest 32-bit value.
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

// The screen rows of the line being written.
std::int32_t LineRows = 1;

bool IsStopKey(std::uint8_t c) {
    return c == crt32_pipe::KeyCtrlC || c == crt32_pipe::KeyEsc;
}

// No pause where nobody could answer it.
bool MayPause() {
    return !NoWait && !crt32_pipe::IsRedirected() && crt32_pipe::InputIsConsole();
}

void Pause() {
    auto& out = runtime::StdOut();
    out.Write(PagePrompt);
    out.Flush();
    if (IsStopKey(crt32_pipe::WaitKey())) StopSequence(false);
    out.Write('\r');
    out.Flush();
    crt32_pipe::ClearToLineEnd();
    LinesOnPage = 0;
}

// The screen rows a line of `columns` columns takes: at least 1.
std::int32_t RowsFor(std::int64_t columns) {
    // A line wider than the screen wraps onto the rows below.
    if (ScreenWidth <= 0 || columns <= ScreenWidth) return 1;
    std::int64_t rows = (columns - 1) / ScreenWidth + 1;
    return rows < Int32Max ? static_cast<std::int32_t>(rows) : Int32Max;
}

} // namespace

void StopSequence(bool lineEnd) {
    crt32_pipe::RestoreAttr();
    auto& out = runtime::StdOut();
    out.Write(' ');
    if (lineEnd) out.WriteLn();
    out.Flush();
    if (LogEnabled && LogFile.IsOpen()) LogFile.Close();
    runtime::Halt(0);
}

void MakeRoom(std::int64_t columns) {
    LineRows = RowsFor(columns);
    if (MayPause() && LinesOnPage > 0 &&
        static_cast<std::int64_t>(LinesOnPage) + LineRows > PageLines)
        Pause();
}

void NextLine() {
    // The count stops at its largest value: on redirected output and with /N
    // it is never reset, and a long report must not overflow it.
    LinesOnPage = static_cast<std::int32_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(LinesOnPage) + LineRows, Int32Max));
    LineRows = 1;
    // The early check reads only what is pending, so input that holds no key
    // (a focus or mouse event) never holds the report.
    std::uint8_t key = 0;
    if (crt32_pipe::KeyWaiting() && crt32_pipe::PollKey(key) && IsStopKey(key)) StopSequence(true);
    if (MayPause() && LinesOnPage >= PageLines) Pause();
}

void AbortIfKeyPending() {
    if (crt32_pipe::KeyWaiting()) StopSequence(true);
    crt32_pipe::MessageBeep();
}

} // namespace kelpo32
