#include "kelpo32/paging.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"

#include <limits>

namespace kelpo32 {

namespace {

// The line count stops here: the largest 32-bit value.
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

bool IsStopKey(std::uint8_t c) {
    return c == crt32_pipe::KeyCtrlC || c == crt32_pipe::KeyEsc;
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

void NextLine() {
    // The count stops at its largest value: on redirected output and with /N
    // it is never reset, and a long report must not overflow it.
    if (LinesOnPage < Int32Max) ++LinesOnPage;
    // The early check reads only what is pending, so input that holds no key
    // (a focus or mouse event) never holds the report.
    std::uint8_t key = 0;
    if (crt32_pipe::KeyWaiting() && crt32_pipe::PollKey(key) && IsStopKey(key)) StopSequence(true);
    // No pause where nobody could answer it.
    if (NoWait || crt32_pipe::IsRedirected() || !crt32_pipe::InputIsConsole() ||
        LinesOnPage < PageLines)
        return;
    auto& out = runtime::StdOut();
    out.Write(PagePrompt);
    out.Flush();
    std::uint8_t answer = crt32_pipe::WaitKey();
    // Stopped at the prompt and back: the prompt again, below what the shell wrote.
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

void AbortIfKeyPending() {
    if (crt32_pipe::KeyWaiting()) StopSequence(true);
    crt32_pipe::MessageBeep();
}

} // namespace kelpo32
