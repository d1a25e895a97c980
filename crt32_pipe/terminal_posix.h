// Private to the POSIX console layer: what the full screen (screen_posix.cpp)
// needs of the terminal mode and the signal handlers that terminal_posix.cpp
// owns, and what the console's two sides (crt32_pipe_posix.cpp, the output;
// terminal_posix.cpp, the keyboard) give each other. One owner of the
// handlers; what they do stays async-signal-safe.
#pragma once

#include <csignal>
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

// The keyboard side's start and end: takes the keyboard where standard input
// is a terminal and standard output suits (`outputSuits`: a terminal or a
// regular file), and installs the handlers; gives the keyboard back.
void StartKeyboard(bool outputSuits);
void StopKeyboard();

// What the handlers note, which the keys read and clear.
extern volatile sig_atomic_t ModeSet;     // the terminal is in the keys' mode
extern volatile sig_atomic_t Interrupted; // SIGINT arrived: the report stops
extern volatile sig_atomic_t Resumed;     // the job was stopped and has gone on

// The output side, for the handlers (async-signal-safe): the descriptor
// their writes go to, and the terminal's colours and the cursor's line put
// back.
int HandlerOutput();
void PutBackOutput();

} // namespace crt32_pipe::posix
