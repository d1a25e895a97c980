// The console layer on a POSIX terminal: ANSI colours, the terminal's size,
// keys read in non-canonical mode, and the terminal mode put back on every exit.
#include "crt32_pipe/crt32_pipe.h"

#include "crt32_pipe/present.h"
#include "runtime/textout.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace crt32_pipe {

namespace {

constexpr std::uint16_t DefaultAttr = 0x07; // the terminal's default colours
constexpr int EscapeWaitMs = 30;            // how long the rest of a key sequence may take

bool Redirected = false;
std::uint16_t CurrentAttr = 0;
std::uint16_t StartAttr = 0;
Extent Window;
Extent Buffer;

bool KeysFromTerminal = false; // standard input is a terminal in our mode
struct termios SavedMode;
volatile sig_atomic_t ModeChanged = 0;

// Restores the terminal: safe inside a signal handler.
void RestoreTerminal() {
    if (ModeChanged) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedMode);
        ModeChanged = 0;
    }
}

void OnFatalSignal(int sig) {
    RestoreTerminal();
    if (!Redirected) {
        static const char reset[] = "\x1b[0m";
        ssize_t ignored = ::write(STDOUT_FILENO, reset, sizeof reset - 1);
        (void)ignored;
    }
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

void InstallSignalHandlers() {
    for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGABRT}) {
        struct sigaction sa {};
        sa.sa_handler = OnFatalSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = static_cast<int>(SA_RESETHAND);
        ::sigaction(sig, &sa, nullptr);
    }
}

// The SGR colour of a console foreground colour: 7 is the terminal's default.
int SgrForeground(unsigned colour) {
    static const int base[8] = {30, 34, 32, 36, 31, 35, 33, 37};
    if (colour == 7) return 39;
    return base[colour & 7] + ((colour & 8) != 0 ? 60 : 0);
}

void ApplyAttr() {
    if (Redirected) return;
    std::string seq;
    if (CurrentAttr == StartAttr) {
        seq = "\x1b[0m";
    } else {
        seq = "\x1b[" + std::to_string(SgrForeground(CurrentAttr & 0x0Fu)) + "m";
    }
    rtl::StdOut().WriteRaw(seq);
    rtl::StdOut().Flush();
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

} // namespace

void ConsoleInit() {
    std::signal(SIGPIPE, SIG_IGN); // a vanished reader is a failed write, not a kill
    Redirected = ::isatty(STDOUT_FILENO) == 0;
    if (!Redirected) {
        struct winsize ws {};
        std::int16_t cols = 80;
        std::int16_t rows = 25;
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
            cols = static_cast<std::int16_t>(ws.ws_col > 32767 ? 32767 : ws.ws_col);
            rows = static_cast<std::int16_t>(ws.ws_row > 32767 ? 32767 : ws.ws_row);
        }
        Window = Buffer = Extent{cols, rows};
        CurrentAttr = StartAttr = DefaultAttr;
        rtl::StdOut().SetTranslator(PresentText);
        rtl::StdOut().SetLineFlush(true);
    }
    if (::isatty(STDIN_FILENO) != 0 && ::tcgetattr(STDIN_FILENO, &SavedMode) == 0) {
        struct termios mode = SavedMode;
        mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
        mode.c_cc[VMIN] = 1;
        mode.c_cc[VTIME] = 0;
        InstallSignalHandlers();
        if (::tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0) {
            ModeChanged = 1;
            KeysFromTerminal = true;
        }
    }
}

void ConsoleDone() {
    RestoreTerminal();
    KeysFromTerminal = false;
    RestoreAttr();
}

bool IsRedirected() {
    return Redirected;
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
    rtl::StdOut().WriteRaw("\x1b[K");
    rtl::StdOut().Flush();
}

bool KeyWaiting() {
    return KeysFromTerminal && InputReady(0);
}

std::uint8_t WaitKey() {
    if (!KeysFromTerminal) return 0; // no user can answer: never wait
    unsigned char b = 0;
    if (!ReadByte(b)) return 27; // the terminal went away: end the report as with Esc
    if (b == 27 && InputReady(EscapeWaitMs)) {
        SkipEscapeSequence();
        return 0;
    }
    return b;
}

bool PollKey(std::uint8_t& key) {
    if (!KeyWaiting()) return false;
    key = WaitKey();
    return true;
}

bool InputIsConsole() {
    return KeysFromTerminal;
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
