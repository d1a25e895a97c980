// The console layer: standard handles, detection of redirected output, colours,
// clearing the rest of a row, key input and the screen buffer size. The Win32
// console and a POSIX terminal are served by crt32_pipe_win32.cpp and
// crt32_pipe_posix.cpp with terminal_posix.cpp behind this one interface.
#pragma once

#include "runtime/sysio.h"

#include <cstdint>

namespace crt32_pipe {

// Console colours: the low four bits of a text attribute.
inline constexpr std::uint8_t ColourLightGrey = 7; // the normal text (a terminal's default)
inline constexpr std::uint8_t ColourLightGreen = 10;
inline constexpr std::uint8_t ColourLightRed = 12;

// The characters of the two keys that stop the report.
inline constexpr std::uint8_t KeyCtrlC = 3;
inline constexpr std::uint8_t KeyEsc = 27;

struct Extent {
    std::int16_t X = 0; // columns
    std::int16_t Y = 0; // rows
};

// Start-up and shut-down entries of the module. They nest: only the first
// start-up runs ConsoleInit and only the balancing shut-down runs ConsoleDone.
void ConsoleStartup();
void ConsoleShutdown();
void ConsoleInit();
void ConsoleDone();

bool IsRedirected();
// Redirected output becomes text of the user's locale where the platform's
// tools expect it (POSIX): the glyph bytes as characters of the locale, the
// byte 0 of an indent as a blank, lines ended by LF. Where the program's
// bytes are the platform's own form (Windows) it changes nothing.
void UseTextOutput();
// From now on standard output is the file `file` (which it owns), as though
// the program had been started with its output redirected there: no colour,
// no pages, no control sequences; the keys still come from the console.
// Before anything is written to standard output.
void OutputToFile(runtime::FileHandle file);
// From now on standard output carries UTF-8 text of its own (an export): a
// file or pipe gets its bytes unchanged, a console shows its characters.
void PresentUtf8();
void SetForeground(std::uint8_t colour);
void RestoreAttr();
void ClearToLineEnd();
bool KeyWaiting();
std::uint8_t WaitKey();
// Reads pending input without blocking: true with the character of the first
// key event found; input that holds no key is dropped.
bool PollKey(std::uint8_t& key);
// Whether a user at a console can answer a prompt (standard input is one).
bool InputIsConsole();
// Whether the job was stopped (the terminal's suspend key, a stop signal) and
// has gone on since WaitKey began; the key WaitKey then returned means
// nothing, and the prompt is shown again. Clears what it reports.
bool TakeResumed();
void SetBufferSize(std::int16_t columns, std::int16_t rows);
void MessageBeep();

// Read-only console state.
std::uint16_t TextAttr();
Extent WindowExtent();
Extent BufferExtent();
std::uint32_t StdOutHandle();
bool UnderIDE();

// The attribute SetForeground makes from the current one: the colour's low
// four bits become the foreground, the background stays, bits 8 to 15 clear.
constexpr std::uint16_t ForegroundAttr(std::uint16_t attr, std::uint8_t colour) {
    return static_cast<std::uint16_t>((colour & 0x0F) | (attr & 0x00F0));
}

} // namespace crt32_pipe
