// What standard error needs on every platform: the hook that runs before a
// message, and the line a signal must blank before the program stops.
#include "runtime/sysio.h"

#include <algorithm>
#include <csignal>

namespace runtime {

namespace {

void (*StdErrHook)(void*) = nullptr;
void* StdErrHookContext = nullptr;
// Columns of the line on standard error that is redrawn in place; read in
// signal handlers.
volatile std::sig_atomic_t StdErrLine = 0;

} // namespace

void SetStdErrHook(void (*hook)(void* context), void* context) {
    StdErrHook = hook;
    StdErrHookContext = context;
}

void WriteStdErr(std::string_view text) {
    if (StdErrHook != nullptr) StdErrHook(StdErrHookContext);
    WriteStdErrDirect(text);
}

void SetStdErrLine(std::int32_t columns) noexcept {
    StdErrLine = columns > 0 ? columns : 0;
}

void EraseStdErrLine() noexcept {
    std::sig_atomic_t left = StdErrLine;
    if (left <= 0) return;
    StdErrLine = 0;
    static constexpr char Blanks[] =
        "                                                                ";
    WriteStdErrDirect("\r");
    for (; left > 0; left -= static_cast<std::sig_atomic_t>(sizeof Blanks - 1))
        WriteStdErrDirect(std::string_view(
            Blanks, std::min<std::size_t>(static_cast<std::size_t>(left), sizeof Blanks - 1)));
    WriteStdErrDirect("\r");
}

} // namespace runtime
