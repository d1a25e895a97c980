// The console layer on a POSIX terminal, its output side: ANSI colours, the
// terminal's size, its character set and line ends, and the cursor followed so
// that every way out leaves it at the start of a line. The keys, the terminal
// mode and the signal handlers are terminal_posix.cpp's.
#include "crt32_pipe/crt32_pipe.h"

#include "crt32_pipe/present.h"
#include "crt32_pipe/redirect.h"
#include "crt32_pipe/terminal_posix.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace crt32_pipe {

namespace {

constexpr std::uint16_t DefaultAttr = 0x07; // the terminal's default colours
constexpr int EscapeWaitMs = 30;            // how long the rest of a key sequence may take

bool Redirected = false;
bool Utf8Locale = false;
bool ColourOn = false;     // colour sequences wanted (NO_COLOR, TERM=dumb)
bool DumbTerminal = false; // TERM=dumb: no control sequences at all
std::uint16_t CurrentAttr = 0;
std::uint16_t StartAttr = 0;
Extent Window;
Extent Buffer;

// Where the cursor of the output terminal stands, from what has reached it:
// so every way out can leave it at the start of an empty line.
enum : int { LineEmpty, LineStartOverText, LineText };
volatile sig_atomic_t Cursor = LineEmpty;
const char* LineEnd = "\r\n"; // "\n" where the terminal adds the CR itself
int ResetFd = -1;             // the output terminal, non-blocking, for the handlers' colour reset

// Whether the locale's character set (LANG, LC_ALL, LC_CTYPE) is UTF-8.
bool LocaleIsUtf8() {
    if (std::setlocale(LC_CTYPE, "") == nullptr) return false;
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr) return false;
    std::string name;
    for (const char* c = codeset; *c != '\0'; ++c)
        if (*c != '-') name += static_cast<char>(*c >= 'a' && *c <= 'z' ? *c - 32 : *c);
    return name == "UTF8";
}

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The SGR colour of a console foreground colour: light grey is the terminal's default.
int SgrForeground(unsigned colour) {
    static const int base[8] = {30, 34, 32, 36, 31, 35, 33, 37};
    if (colour == ColourLightGrey) return 39;
    return base[colour & 7] + ((colour & 8) != 0 ? 60 : 0);
}

void ApplyAttr() {
    if (Redirected || !ColourOn) return;
    std::string seq;
    if (CurrentAttr == StartAttr) {
        seq = "\x1b[0m";
    } else {
        seq = "\x1b[" + std::to_string(SgrForeground(CurrentAttr & 0x0Fu)) + "m";
    }
    runtime::StdOut().WriteRaw(seq);
    runtime::StdOut().Flush();
}

// Follows the cursor through bytes written to the terminal: a line end
// empties the line, a CR goes to its start, "ESC [ K" there clears it;
// other control sequences and characters do not move it to a new line.
void FollowCursor(const char* data, std::size_t size) {
    static int escape = 0; // 1 after ESC, 2 inside a CSI sequence
    int cursor = Cursor;
    for (std::size_t i = 0; i < size; ++i) {
        auto b = static_cast<unsigned char>(data[i]);
        if (escape == 1) {
            escape = b == '[' ? 2 : 0;
        } else if (escape == 2) {
            if (b >= 0x40 && b <= 0x7E) {
                escape = 0;
                if (b == 'K' && cursor == LineStartOverText) cursor = LineEmpty;
            }
        } else if (b == 0x1B) {
            escape = 1;
        } else if (b == '\n') {
            cursor = LineEmpty;
        } else if (b == '\r') {
            if (cursor == LineText) cursor = LineStartOverText;
        } else if (b >= 0x20) {
            cursor = LineText;
        }
    }
    Cursor = cursor;
}

int WriteToTerminal(runtime::FileHandle h, const char* data, std::size_t size) {
    int code = runtime::WriteFile(h, data, size);
    if (code == 0) FollowCursor(data, size);
    return code;
}

// The display: size, colour, character set and line ends of the terminal.
void SetUpDisplay() {
    struct winsize ws {};
    std::int16_t cols = 80;
    std::int16_t rows = 25;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        cols = static_cast<std::int16_t>(ws.ws_col > 32767 ? 32767 : ws.ws_col);
        rows = static_cast<std::int16_t>(ws.ws_row > 32767 ? 32767 : ws.ws_row);
    }
    Window = Buffer = Extent{cols, rows};
    CurrentAttr = StartAttr = DefaultAttr;
    const char* term = std::getenv("TERM");
    DumbTerminal = term != nullptr && std::strcmp(term, "dumb") == 0;
    ColourOn = !DumbTerminal && !EnvSet("NO_COLOR");
    // The terminal turns LF into CR LF itself when its output processing is on.
    struct termios out {};
    bool addsCr = ::tcgetattr(STDOUT_FILENO, &out) == 0 && (out.c_oflag & OPOST) != 0 &&
                  (out.c_oflag & ONLCR) != 0;
    SetPresentation(Utf8Locale, addsCr);
    if (addsCr) LineEnd = "\n";
    runtime::StdOut().SetTranslator(PresentText);
    runtime::StdOut().SetWriter(WriteToTerminal);
    runtime::StdOut().SetLineFlush(true);
    const char* name = ::ttyname(STDOUT_FILENO);
    if (name != nullptr) ResetFd = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

bool InputReady(int timeoutMs) {
    struct pollfd pfd {
        STDIN_FILENO, POLLIN, 0
    };
    for (;;) {
        int n = ::poll(&pfd, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}

// One byte of input; false at the end of the input or on an error.
bool ReadByte(unsigned char& b) {
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, &b, 1);
        if (n == 1) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

// Reads the rest of an escape sequence, so that a cursor or function key
// counts as one key.
void SkipEscapeSequence() {
    unsigned char b = 0;
    if (!ReadByte(b)) return;
    if (b == '[') {
        // CSI: parameters and intermediates up to a final byte 0x40 to 0x7E.
        while (InputReady(EscapeWaitMs) && ReadByte(b))
            if (b >= 0x40 && b <= 0x7E) return;
    } else if (b == 'O') {
        if (InputReady(EscapeWaitMs)) ReadByte(b);
    }
}

// One key from the terminal; an escape sequence counts as character 0, and
// so does the suspend key after the job has been stopped and gone on.
std::uint8_t ReadKey() {
    unsigned char b = 0;
    if (!ReadByte(b)) return KeyEsc; // the terminal went away: end the report as with Esc
    if (posix::IsSuspendKey(b) && posix::SuspendJob()) return 0;
    if (b == KeyEsc && InputReady(EscapeWaitMs)) {
        SkipEscapeSequence();
        return 0;
    }
    return b;
}

} // namespace

namespace posix {

int HandlerOutput() {
    return ResetFd != -1 ? ResetFd : STDOUT_FILENO;
}

void PutBackOutput() {
    if (ResetFd == -1) return;
    if (ColourOn) {
        static const char reset[] = "\x1b[0m";
        ssize_t ignored = ::write(ResetFd, reset, sizeof reset - 1);
        (void)ignored;
    }
    if (Cursor != LineEmpty && ::write(ResetFd, LineEnd, std::strlen(LineEnd)) > 0)
        Cursor = LineEmpty;
}

} // namespace posix

void ConsoleInit() {
    Redirected = ::isatty(STDOUT_FILENO) == 0;
    // The locale's character set decides the glyphs, and its widths the columns.
    Utf8Locale = LocaleIsUtf8();
    if (!Redirected) SetUpDisplay();
    struct stat out {};
    bool outputSuits = !Redirected || (::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode));
    posix::StartKeyboard(outputSuits);
}

void ConsoleDone() {
    posix::StopKeyboard();
    RestoreAttr();
    // The shell's prompt starts in the first column of a line of its own.
    if (!Redirected && Cursor != LineEmpty) {
        runtime::StdOut().WriteRaw(LineEnd);
        runtime::StdOut().Flush();
    }
}
bool IsRedirected() {
    return Redirected;
}

void BecomeRedirected() {
    Redirected = true;
    ColourOn = false;
}

void UseTextOutput() {
    if (!Redirected) return; // a terminal is shown as text already
    SetPresentation(Utf8Locale, true);
    runtime::StdOut().SetTranslator(PresentFileText);
}

void PresentUtf8() {
    // The text holds no control characters: a terminal may show it as it is.
    runtime::StdOut().SetTranslator(nullptr);
}

void SetForeground(std::uint8_t colour) {
    CurrentAttr = ForegroundAttr(CurrentAttr, colour);
    ApplyAttr();
}

void RestoreAttr() {
    CurrentAttr = StartAttr;
    ApplyAttr();
}

void ClearToLineEnd() {
    if (Redirected) return;
    // A dumb terminal knows no control sequences: blanks over the row, then back.
    if (DumbTerminal)
        runtime::StdOut().WriteRaw(
            std::string(static_cast<std::size_t>(std::max<int>(Window.X - 1, 0)), ' ') + "\r");
    else
        runtime::StdOut().WriteRaw("\x1b[K");
    runtime::StdOut().Flush();
}
bool KeyWaiting() {
    return posix::Interrupted != 0 || (posix::ModeSet != 0 && InputReady(0));
}

std::uint8_t WaitKey() {
    posix::Resumed = 0;
    for (;;) {
        if (posix::Interrupted) return KeyCtrlC;
        if (posix::Resumed) return 0;  // stopped and gone on: the caller shows its prompt again
        if (!posix::ModeSet) return 0; // no user can answer (a background job): never wait
        const int wake = posix::WakeDescriptor();
        struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake, POLLIN, 0}};
        int n = ::poll(fds, wake != -1 ? 2 : 1, -1);
        if (n < 0 && errno != EINTR) return KeyEsc;
        if (n <= 0) continue;
        if (fds[1].revents != 0) posix::DrainWake();
        // A key read after a stop and a move to the background would stop the job
        // again (SIGTTIN): read only while the keyboard is still ours.
        if (fds[0].revents != 0 && posix::ModeSet) return ReadKey();
    }
}

bool PollKey(std::uint8_t& key) {
    if (posix::Interrupted) {
        key = KeyCtrlC;
        return true;
    }
    if (!KeyWaiting()) return false;
    key = ReadKey();
    return true;
}

bool InputIsConsole() {
    return posix::ModeSet != 0;
}

bool TakeResumed() {
    bool resumed = posix::Resumed != 0;
    posix::Resumed = 0;
    return resumed;
}

void SetBufferSize(std::int16_t columns, std::int16_t rows) {
    Window = Extent{columns, rows};
}

void MessageBeep() {
    if (::isatty(STDERR_FILENO) != 0) {
        ssize_t ignored = ::write(STDERR_FILENO, "\a", 1);
        (void)ignored;
    }
}

std::uint16_t TextAttr() {
    return CurrentAttr;
}
Extent WindowExtent() {
    return Window;
}
Extent BufferExtent() {
    return Buffer;
}
std::uint32_t StdOutHandle() {
    return STDOUT_FILENO;
}
bool UnderIDE() {
    return false;
}

} // namespace crt32_pipe
