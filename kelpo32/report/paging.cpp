#include "kelpo32/report/paging.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/conventions.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <limits>

namespace kelpo32::report {

namespace {

// The line count stops here: the largest 32-bit value.
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

// Lines counted since the last pause, and the screen rows of the line being
// written.
std::int32_t LinesOnPage = 0;
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
    std::uint8_t answer = crt32_pipe::WaitKey();
    // Stopped at the prompt and back: the prompt again, below what the shell
    // wrote, and the report waits for a key as before.
    while (crt32_pipe::TakeResumed()) {
        out.Write(PagePrompt);
        out.Flush();
        answer = crt32_pipe::WaitKey();
    }
    if (IsStopKey(answer)) StopSequence(false);
    out.Write('\r');
    out.Flush();
    crt32_pipe::ClearToLineEnd();
    LinesOnPage = 0;
}

// The screen rows a line of `columns` columns takes on a screen `width`
// columns wide: at least 1.
std::int32_t RowsFor(std::int64_t columns, std::int32_t width = ScreenWidth) {
    // A line wider than the screen wraps onto the rows below.
    if (width <= 0 || columns <= width) return 1;
    std::int64_t rows = (columns - 1) / width + 1;
    return rows < Int32Max ? static_cast<std::int32_t>(rows) : Int32Max;
}

void AddRows(std::int32_t rows) {
    // The count stops at its largest value: on redirected output and with /N
    // it is never reset, and a long report must not overflow it.
    LinesOnPage = static_cast<std::int32_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(LinesOnPage) + rows, Int32Max));
}

} // namespace

int StopExitCode() {
    return crt32_pipe::IsRedirected() ? PlatformConventions().StopRedirectedExit : 0;
}

void StopSequence(bool lineEnd) {
    crt32_pipe::RestoreAttr();
    auto& out = runtime::StdOut();
    out.Write(' ');
    if (lineEnd) out.WriteLn();
    out.Flush();
    if (LogEnabled && LogFile.IsOpen()) LogFile.Close();
    runtime::Halt(StopExitCode());
}

bool StopAsked() {
    // Only what is pending is read, so input that holds no key (a focus or
    // mouse event) never holds the run.
    std::uint8_t key = 0;
    return crt32_pipe::KeyWaiting() && crt32_pipe::PollKey(key) && IsStopKey(key);
}

void StopExport() {
    // Nothing is added to the export: it ends with its last whole line.
    runtime::StdOut().Flush();
    if (LogEnabled && LogFile.IsOpen()) LogFile.Close();
    runtime::Halt(StopExitCode());
}

void StopExportIfAsked() {
    if (StopAsked()) StopExport();
}

void MakeRoom(std::int64_t columns) {
    LineRows = RowsFor(columns);
    if (MayPause() && LinesOnPage > 0 &&
        static_cast<std::int64_t>(LinesOnPage) + LineRows > PageLines)
        Pause();
}

void CountStartLine(std::int64_t columns) {
    // Before the display profile the screen's width is the console's.
    AddRows(RowsFor(columns, crt32_pipe::WindowExtent().X));
}

void NextLine() {
    AddRows(LineRows);
    LineRows = 1;
    if (StopAsked()) StopSequence(true);
    if (MayPause() && LinesOnPage >= PageLines) Pause();
}

void StartPage(std::int32_t lines) {
    LinesOnPage = lines;
    LineRows = 1;
}

std::int32_t LinesCounted() {
    return LinesOnPage;
}

void AbortIfKeyPending() {
    if (crt32_pipe::KeyWaiting()) StopSequence(true);
    crt32_pipe::MessageBeep();
}

} // namespace kelpo32::report
