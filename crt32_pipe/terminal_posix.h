// Private to the POSIX console layer: what the full screen (screen_posix.cpp)
// needs of the terminal mode and the signal handlers that crt32_pipe_posix.cpp
// owns. One owner of the handlers; what they do stays async-signal-safe.
#pragma once

#include <cstddef>
#include <termios.h>

namespace crt32_pipe::posix {

// While a screen is open, a signal that ends or stops the process first
// writes `leave` (the bytes that leave the alternate screen and give back the
// cursor, the colours and the keypad), then puts back `mode`, the terminal's
// mode when the screen was opened; SIGWINCH is noted for the screen. `leave`
// must stay valid until ScreenLeft. ScreenEntered(nullptr, 0, ...) while the
// screen is left for a stop of the job writes nothing.
void ScreenEntered(const char* leave, std::size_t size, const termios& mode);
void ScreenLeft();

// What the signal handlers noted for the screen since the last call.
struct ScreenEvents {
    bool Interrupted = false; // SIGINT
    bool Resized = false;     // SIGWINCH
    bool Resumed = false;     // the job was stopped and went on
};
ScreenEvents TakeScreenEvents();

// A descriptor that becomes readable when a handler noted something (-1 when
// there is none), and the reading of what it holds.
int WakeDescriptor();
void DrainWake();

// Whether `c` is the terminal's suspend key (Ctrl+Z) with job control on.
bool IsSuspendKey(unsigned char c);
// Stops the job as the suspend key would, the terminal restored by the
// handler; returns once it goes on (false when stops are ignored).
bool SuspendJob();

} // namespace crt32_pipe::posix
