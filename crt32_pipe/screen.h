// The full-screen service of the console layer: one screen of rows drawn whole,
// keys and size changes read one at a time. A POSIX terminal is served through
// its terminfo on the alternate screen (screen_posix.cpp), the Win32 console
// through a screen buffer of the program's own (screen_win32.cpp). Either one
// gives the terminal or console back exactly as it found it, however the
// program ends.
#pragma once

#include "crt32_pipe/crt32_pipe.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace crt32_pipe {

// How a piece of a row looks. Each one stays distinct where it must without
// colour: Selected and Heading in reverse video.
enum class Attr : std::uint8_t {
    Normal,
    Selected, // the cursor's row: reverse video
    Heading,  // the header and footer bars
    Dim,      // greyed rows
    Warn,     // a mark such as an unreadable directory
    Grew,     // a change column: red with colour, plain without
    Shrank,   // a change column: green with colour, plain without
};

// A piece of a row: UTF-8 text in one look.
struct Span {
    std::string_view Text; // UTF-8; anything else is shown as "?"
    Attr Look = Attr::Normal;
};

enum class KeyKind : std::uint8_t {
    None, // a poll found nothing
    Char, // a character key: ScreenKey::Char
    Up,
    Down,
    PageUp,
    PageDown,
    Home,
    End,
    Enter,
    Left,
    Right,
    Backspace,
    Delete,
    Escape,
    Interrupt, // Ctrl+C, or the terminal went away: the view ends
    Resize,    // the size changed, or the job went on after a stop: draw every row again
};

struct ScreenKey {
    KeyKind Kind = KeyKind::None;
    char32_t Char = 0; // the character of a Char key
};

class Screen {
  public:
    virtual ~Screen() = default;
    Screen() = default;
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;
    Screen(Screen&&) = delete;
    Screen& operator=(Screen&&) = delete;

    // Columns and rows of the screen now.
    virtual Extent Size() const = 0;
    // The character set shows box-drawing and block characters; else the view
    // draws with ASCII.
    virtual bool Unicode() const = 0;
    // Colours are wanted and shown (not with NO_COLOR set and not empty).
    virtual bool Colour() const = 0;
    // The columns `utf8` takes as Row shows it.
    virtual int Columns(std::string_view utf8) const = 0;
    // Draws row y (from 0, top) whole: the spans from the left, cut at the
    // width at a character boundary, the rest of the row blank. Any control
    // character, bidirectional control or byte that is no character shows as
    // "?". A row outside the screen is ignored.
    virtual void Row(int y, std::span<const Span> spans) = 0;
    // Sends what changed since the last frame.
    virtual void Show() = 0;
    // The next key; blocks. Resize comes at once when the size changes and
    // after the job was stopped and went on.
    virtual ScreenKey WaitKey() = 0;
    // The next key if one is waiting, else a key of kind None.
    virtual ScreenKey PollKey() = 0;
    // Throws away every key typed and not yet read, so that what follows
    // answers only keys typed after it (a size change is still reported).
    virtual void FlushInput() = 0;
};

// Takes the terminal or console for a full screen (the console layer must have
// started). nullptr with the reason in `why` when there is none to take:
// standard input and output not on the same terminal or console, not in the
// foreground, or a terminal that cannot move its cursor. The screen is given
// back when the object is destroyed, and by the console layer on a signal
// that ends or stops the process.
std::unique_ptr<Screen> OpenScreen(std::string& why);

} // namespace crt32_pipe
