// The full screen on a POSIX terminal, through the wide-character curses
// library and the terminfo entry of TERM: the alternate screen, keypad keys,
// the terminal's mode and colours given back on every way out. The console
// layer's signal handlers (terminal_posix.cpp) leave the screen when a
// signal ends or stops the process; this file re-enters it when the job goes on.
#include "crt32_pipe/screen.h"

#include "crt32_pipe/screen_row.h"
#include "crt32_pipe/terminal_posix.h"
#include "runtime/textout.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h> // wcwidth

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <term.h>
// term.h's capability macros would rename members and locals below.
#undef lines
#undef columns

namespace crt32_pipe {

namespace {

constexpr int EscapeDelayMs = 30; // how long the rest of a key's sequence may take

// Colour pairs of the looks that have a colour.
enum : short { PairGrew = 1, PairShrank, PairWarn };

bool ScreenIsOpen = false; // one screen at a time

int Utf8Width(char32_t c) {
    return ::wcwidth(static_cast<wchar_t>(c));
}

int AsciiWidth(char32_t c) {
    return c < 0x80 ? 1 : -1;
}

bool LocaleIsUtf8() {
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr &&
           (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf-8") == 0 ||
            std::strcmp(codeset, "UTF8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The bytes that leave the screen, gathered by tputs (which expands padding)
// at opening, so a signal handler only writes them.
struct LeaveBytes {
    std::array<char, 512> Data{};
    std::size_t Size = 0;
};
LeaveBytes* Gathering = nullptr;

int GatherByte(int c) {
    if (Gathering != nullptr && Gathering->Size < Gathering->Data.size())
        Gathering->Data[Gathering->Size++] = static_cast<char>(c);
    return c;
}

// A string capability of the terminal; nullptr when it has none (terminfo
// answers (char*)-1 for a name that is no string capability).
const char* Capability(const char* name) {
    char* value = ::tigetstr(name);
    if (value == nullptr || reinterpret_cast<std::intptr_t>(value) == -1) return nullptr;
    return value;
}

void Gather(LeaveBytes& into, const char* capability) {
    const char* value = Capability(capability);
    if (value == nullptr) return;
    Gathering = &into;
    ::tputs(value, 1, GatherByte);
    Gathering = nullptr;
}

// Why standard input and output cannot carry a screen; empty when they can.
std::string TerminalProblem() {
    if (::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0)
        return "standard input and standard output must be a terminal";
    struct stat in {};
    struct stat out {};
    if (::fstat(STDIN_FILENO, &in) != 0 || ::fstat(STDOUT_FILENO, &out) != 0 ||
        in.st_rdev != out.st_rdev)
        return "standard input and standard output must be the same terminal";
    pid_t group = ::tcgetpgrp(STDIN_FILENO);
    if (group == -1 || group != ::getpgrp()) return "not in the terminal's foreground";
    return std::string();
}

class TerminalScreen final : public Screen {
  public:
    TerminalScreen(SCREEN* screen, FILE* out, FILE* in, const termios& found,
                   std::unique_ptr<LeaveBytes> leave)
        : screen_(screen), out_(out), in_(in), found_(found), leave_(std::move(leave)) {
        utf8_ = LocaleIsUtf8();
        widthOf_ = utf8_ ? Utf8Width : AsciiWidth;
        ::raw();
        ::noecho();
        ::nonl();
        ::keypad(stdscr, TRUE);
        ::nodelay(stdscr, TRUE);
        ::leaveok(stdscr, TRUE);
        ::curs_set(0);
        if (std::getenv("ESCDELAY") == nullptr) ::set_escdelay(EscapeDelayMs);
        colour_ = !EnvSet("NO_COLOR") && ::has_colors();
        if (colour_ && ::start_color() == OK) {
            ::use_default_colors();
            ::init_pair(PairGrew, COLOR_RED, -1);
            ::init_pair(PairShrank, COLOR_GREEN, -1);
            ::init_pair(PairWarn, COLOR_YELLOW, -1);
        } else {
            colour_ = false;
        }
        ::wnoutrefresh(stdscr);
        ::doupdate(); // the alternate screen, cleared
        ScreenIsOpen = true;
    }

    ~TerminalScreen() override {
        ::endwin();
        posix::ScreenLeft();
        ::delscreen(screen_);
        std::fclose(out_);
        std::fclose(in_);
        ScreenIsOpen = false;
    }

    Extent Size() const override {
        auto clamp = [](int n) {
            return static_cast<std::int16_t>(n < 0 ? 0 : n > 32767 ? 32767 : n);
        };
        return Extent{clamp(getmaxx(stdscr)), clamp(getmaxy(stdscr))};
    }

    bool Unicode() const override { return utf8_; }
    bool Colour() const override { return colour_; }

    int Columns(std::string_view utf8) const override { return ShownColumns(utf8, widthOf_); }

    void Row(int y, std::span<const Span> spans) override {
        Extent size = Size();
        if (y < 0 || y >= size.Y) return;
        int used = 0;
        ::wmove(stdscr, y, 0);
        for (const RowPiece& piece : LayRow(spans, size.X, widthOf_)) {
            ::wattrset(stdscr, static_cast<int>(Look(piece.Look)));
            ::waddnstr(stdscr, piece.Text.data(), static_cast<int>(piece.Text.size()));
            used += piece.Columns;
        }
        ::wattrset(stdscr, A_NORMAL);
        // A full row leaves the cursor on the next one: nothing is left to clear.
        if (used < size.X) {
            ::wmove(stdscr, y, used);
            ::wclrtoeol(stdscr);
        }
    }

    void Show() override {
        ::wnoutrefresh(stdscr);
        ::doupdate();
    }

    ScreenKey WaitKey() override {
        for (;;) {
            ScreenKey key = NextKey();
            if (key.Kind != KeyKind::None) return key;
            struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0},
                                    {posix::WakeDescriptor(), POLLIN, 0}};
            int n = ::poll(fds, fds[1].fd != -1 ? 2 : 1, -1);
            if (n < 0 && errno != EINTR) return ScreenKey{KeyKind::Interrupt};
            if (n <= 0) continue;
            if (fds[1].revents != 0) posix::DrainWake();
            // The terminal went away: nothing more will come.
            if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
                (fds[0].revents & POLLIN) == 0)
                return ScreenKey{KeyKind::Interrupt};
        }
    }

    ScreenKey PollKey() override { return NextKey(); }

    // The terminal's own queue (tcflush) and the library's.
    void FlushInput() override { ::flushinp(); }

  private:
    // The next event noted by a signal handler or key waiting; None when
    // there is neither.
    ScreenKey NextKey() {
        posix::ScreenEvents events = posix::TakeScreenEvents();
        if (events.Resumed) Resume();
        if (events.Interrupted) return ScreenKey{KeyKind::Interrupt};
        if (events.Resumed) return ScreenKey{KeyKind::Resize};
        if (events.Resized) {
            ApplySize();
            return ScreenKey{KeyKind::Resize};
        }
        for (;;) {
            wint_t ch = 0;
            int got = ::wget_wch(stdscr, &ch);
            if (got == ERR) return ScreenKey{};
            ScreenKey key = got == KEY_CODE_YES ? FunctionKey(ch) : CharKey(ch);
            if (key.Kind != KeyKind::None) return key;
        }
    }

    static ScreenKey FunctionKey(wint_t ch) {
        switch (ch) {
        case KEY_UP:
            return {KeyKind::Up};
        case KEY_DOWN:
            return {KeyKind::Down};
        case KEY_PPAGE:
            return {KeyKind::PageUp};
        case KEY_NPAGE:
            return {KeyKind::PageDown};
        case KEY_HOME:
        case KEY_A1:
            return {KeyKind::Home};
        case KEY_END:
        case KEY_C1:
            return {KeyKind::End};
        case KEY_LEFT:
            return {KeyKind::Left};
        case KEY_RIGHT:
            return {KeyKind::Right};
        case KEY_ENTER:
            return {KeyKind::Enter};
        case KEY_BACKSPACE:
            return {KeyKind::Backspace};
        case KEY_DC:
            return {KeyKind::Delete};
        default:
            return {}; // a key the view has no use for
        }
    }

    ScreenKey CharKey(wint_t ch) {
        switch (ch) {
        case 3:
            return {KeyKind::Interrupt};
        case '\r':
        case '\n':
            return {KeyKind::Enter};
        case 8:
        case 127:
            return {KeyKind::Backspace};
        case 27:
            return EscapeKey();
        default:
            break;
        }
        if (ch < 0x20 && posix::IsSuspendKey(static_cast<unsigned char>(ch))) return Suspend();
        if (ch < 0x20) return {}; // other control keys mean nothing here
        return {KeyKind::Char, static_cast<char32_t>(ch)};
    }

    // Esc alone, or the start of a sequence the terminal's entry does not
    // know (a function key with modifiers): such a sequence is read whole and
    // dropped, so it never counts as Esc and its letters never as keys.
    ScreenKey EscapeKey() {
        wint_t next = 0;
        int got = ::wget_wch(stdscr, &next);
        if (got == ERR) return {KeyKind::Escape};
        if (got == OK && next == '[') {
            // CSI: parameters and intermediates up to a final byte 0x40 to 0x7E.
            while (::wget_wch(stdscr, &next) != ERR)
                if (next >= 0x40 && next <= 0x7E) break;
            return {};
        }
        if (got == OK && next == 'O') {
            ::wget_wch(stdscr, &next);
            return {};
        }
        // Esc then another key (Alt with a key): both count.
        if (got == KEY_CODE_YES)
            ::ungetch(static_cast<int>(next));
        else
            ::unget_wch(static_cast<wchar_t>(next));
        return {KeyKind::Escape};
    }

    // The suspend key: the terminal given back, the job stopped; after it
    // goes on the screen is taken again and drawn whole.
    ScreenKey Suspend() {
        ::endwin();
        posix::ScreenEntered(nullptr, 0, found_); // already left: nothing to write
        bool stopped = posix::SuspendJob();
        posix::ScreenEntered(leave_->Data.data(), leave_->Size, found_);
        posix::ScreenEvents events = posix::TakeScreenEvents();
        Resume();
        if (events.Interrupted) return {KeyKind::Interrupt};
        return stopped || events.Resized ? ScreenKey{KeyKind::Resize} : ScreenKey{};
    }

    // Back from a stop: the screen is taken again at the terminal's size now,
    // to be drawn whole.
    void Resume() {
        if (::isendwin() == FALSE) ::endwin();
        ApplySize();
        ::clearok(curscr, TRUE);
        ::wnoutrefresh(stdscr);
        ::doupdate();
    }

    void ApplySize() {
        struct winsize ws {};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
            ::resize_term(ws.ws_row, ws.ws_col);
        ::clearok(curscr, TRUE);
    }

    attr_t Look(Attr look) const {
        switch (look) {
        case Attr::Normal:
            return A_NORMAL;
        case Attr::Selected:
            return A_REVERSE;
        case Attr::Heading:
            return A_REVERSE | A_BOLD;
        case Attr::Dim:
            return A_DIM;
        case Attr::Warn:
            return colour_ ? COLOR_PAIR(PairWarn) | A_BOLD : A_BOLD;
        case Attr::Grew:
            return colour_ ? COLOR_PAIR(PairGrew) : A_NORMAL;
        case Attr::Shrank:
            return colour_ ? COLOR_PAIR(PairShrank) : A_NORMAL;
        }
        return A_NORMAL;
    }

    SCREEN* screen_;
    FILE* out_;
    FILE* in_;
    termios found_;                     // the terminal's mode when the screen was opened
    std::unique_ptr<LeaveBytes> leave_; // what a signal handler writes to leave the screen
    bool utf8_ = false;
    bool colour_ = false;
    CharWidth widthOf_ = AsciiWidth;
};

// A stream on a copy of a standard descriptor, for the curses library to own.
FILE* CopyStream(int fd, const char* mode) {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy == -1) return nullptr;
    FILE* stream = ::fdopen(copy, mode);
    if (stream == nullptr) ::close(copy);
    return stream;
}

} // namespace

std::unique_ptr<Screen> OpenScreen(std::string& why) {
    if (ScreenIsOpen) {
        why = "the screen is open already";
        return nullptr;
    }
    why = TerminalProblem();
    if (!why.empty()) return nullptr;
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0') {
        why = "TERM is not set";
        return nullptr;
    }
    termios found{};
    if (::tcgetattr(STDIN_FILENO, &found) != 0) {
        why = std::string("cannot read the terminal's mode: ") + std::strerror(errno);
        return nullptr;
    }
    // The terminal's entry is read first on its own: a failed opening of a
    // screen would leave memory of the library's behind.
    int entry = 0;
    if (::setupterm(term, STDOUT_FILENO, &entry) != OK) {
        why = "unknown terminal type '" + std::string(term) + "'";
        return nullptr;
    }
    bool canMove = Capability("cup") != nullptr;
    auto leave = std::make_unique<LeaveBytes>();
    for (const char* capability : {"sgr0", "op", "cnorm", "rmkx", "rmcup"})
        Gather(*leave, capability);
    ::del_curterm(cur_term);
    if (!canMove) {
        why = "terminal '" + std::string(term) + "' cannot move the cursor";
        return nullptr;
    }
    // What the program wrote before stays on the main screen.
    runtime::StdOut().Flush();
    FILE* out = CopyStream(STDOUT_FILENO, "w");
    FILE* in = CopyStream(STDIN_FILENO, "r");
    // The console layer's handlers are in place before the library looks, so
    // it installs none of its own (it takes only signals left at their default),
    // and they leave the screen from the moment it may be entered.
    posix::ScreenEntered(leave->Data.data(), leave->Size, found);
    SCREEN* screen = out != nullptr && in != nullptr ? ::newterm(term, out, in) : nullptr;
    if (screen == nullptr) {
        posix::ScreenLeft();
        why = out == nullptr || in == nullptr
                  ? std::string("cannot open the terminal: ") + std::strerror(errno)
                  : "cannot open terminal '" + std::string(term) + "'";
        if (out != nullptr) std::fclose(out);
        if (in != nullptr) std::fclose(in);
        return nullptr;
    }
    return std::make_unique<TerminalScreen>(screen, out, in, found, std::move(leave));
}

} // namespace crt32_pipe
