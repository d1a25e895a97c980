// The console layer on a POSIX terminal: ANSI colours, the terminal's size,
// keys read in non-canonical mode, and the terminal mode put back on every exit
// and around every stop of the job.
#include "crt32_pipe/crt32_pipe.h"

#include "crt32_pipe/present.h"
#include "crt32_pipe/redirect.h"
#include "crt32_pipe/terminal_posix.h"
#include "runtime/outfile.h"
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

// The keyboard is ours only while standard input is a terminal, standard output
// a terminal or a regular file, and the job is in the terminal's foreground.
bool KeyboardWanted = false;
struct termios SavedMode;
struct termios KeyMode;
volatile sig_atomic_t ModeSet = 0;     // the terminal is in KeyMode
volatile sig_atomic_t Interrupted = 0; // SIGINT arrived: the report stops
volatile sig_atomic_t Resumed = 0;     // the job was stopped and has gone on
int WakePipe[2] = {-1, -1};            // lets a signal end a wait for a key
int ResetFd = -1;              // the output terminal, non-blocking, for handlers' colour reset
unsigned char SuspendChar = 0; // the terminal's suspend key (Ctrl+Z) while keys are read
bool SuspendKey = false;       // the terminal has one and its signal keys were on

// The full screen while it is open: what a handler writes to leave it, and the
// terminal's mode when it was opened. Set with every signal held.
volatile sig_atomic_t ScreenOpen = 0;
const char* ScreenLeave = nullptr;
std::size_t ScreenLeaveSize = 0;
struct termios ScreenMode;
volatile sig_atomic_t ScreenResized = 0; // SIGWINCH since the screen last looked
volatile sig_atomic_t ScreenResumed = 0; // stopped and gone on since then
struct sigaction SavedWinch;             // SIGWINCH's action before the screen took it
bool WinchTaken = false;

// Where the cursor of the output terminal stands, from what has reached it:
// so every way out can leave it at the start of an empty line.
enum : int { LineEmpty, LineStartOverText, LineText };
volatile sig_atomic_t Cursor = LineEmpty;
const char* LineEnd = "\r\n"; // "\n" where the terminal adds the CR itself

// Everything below up to the handlers is safe inside a signal handler.

bool InForeground() {
    pid_t group = ::tcgetpgrp(STDIN_FILENO);
    return group != -1 && group == ::getpgrp();
}

void TakeKeyboard() {
    if (!KeyboardWanted || ModeSet || !InForeground()) return;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &KeyMode) == 0) ModeSet = 1;
}

void RestoreTerminal() {
    if (!ModeSet) return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedMode);
    ModeSet = 0;
}

void Wake() {
    if (WakePipe[1] == -1) return;
    ssize_t ignored = ::write(WakePipe[1], "", 1);
    (void)ignored;
}

// Leaves the full screen: its bytes to the terminal, the mode it found back.
void LeaveScreen() {
    if (!ScreenOpen) return;
    if (ScreenLeave != nullptr) {
        ssize_t ignored =
            ::write(ResetFd != -1 ? ResetFd : STDOUT_FILENO, ScreenLeave, ScreenLeaveSize);
        (void)ignored;
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &ScreenMode);
}

// Puts the terminal back as the program found it, the cursor at the start of
// an empty line. The writes go through a non-blocking descriptor: a terminal
// stopped with Ctrl+S must not hold up the end of the process.
void LeaveTerminal() {
    runtime::EraseStdErrLine();
    LeaveScreen();
    RestoreTerminal();
    if (ResetFd == -1) return;
    if (ColourOn) {
        static const char reset[] = "\x1b[0m";
        ssize_t ignored = ::write(ResetFd, reset, sizeof reset - 1);
        (void)ignored;
    }
    if (Cursor != LineEmpty && ::write(ResetFd, LineEnd, std::strlen(LineEnd)) > 0)
        Cursor = LineEmpty;
}

void Unblock(int sig) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// A signal whose default action ends the process: terminal back, then the
// default action, so the parent sees the signal.
void OnEndSignal(int sig) {
    LeaveTerminal();
    // A run that ends here is not whole: the output file keeps its last version.
    runtime::RemoveOutputFileNow();
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(sig, &dfl, nullptr);
    Unblock(sig);
    ::raise(sig);
}

// SIGINT: the report stops at its next line by the stop sequence; a second one
// while the first is still pending ends the process.
void OnInterrupt(int sig) {
    if (Interrupted) {
        OnEndSignal(sig);
        return;
    }
    Interrupted = 1;
    Wake();
}

// SIGTSTP, SIGTTIN, SIGTTOU: stop with the terminal restored.
void OnStopSignal(int sig) {
    int savedErrno = errno;
    LeaveTerminal();
    struct sigaction dfl {};
    struct sigaction mine {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(sig, &dfl, &mine);
    Unblock(sig);
    ::raise(sig); // the job stops here until SIGCONT
    // cppcheck-suppress unreachableCode ; raise returns once the job goes on
    ::sigaction(sig, &mine, nullptr);
    Resumed = 1;
    if (ScreenOpen) ScreenResumed = 1;
    errno = savedErrno;
}

// SIGWINCH while the screen is open: it draws again at the new size.
void OnResize(int) {
    int savedErrno = errno;
    ScreenResized = 1;
    Wake();
    errno = savedErrno;
}

// Back from a stop: the keyboard is taken again if the job is in the foreground.
void OnContinue(int) {
    int savedErrno = errno;
    TakeKeyboard();
    Wake();
    errno = savedErrno;
}

void Handle(int sig, void (*handler)(int)) {
    struct sigaction old {};
    // A signal ignored by the parent (a background job's SIGINT) stays ignored.
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigfillset(&sa.sa_mask); // handlers never nest, and SIGTTOU cannot stop them
    sa.sa_flags = SA_RESTART;
    ::sigaction(sig, &sa, nullptr);
}

void InstallSignalHandlers() {
    // Every signal whose default action ends the process.
    for (int sig : {SIGHUP, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV,
                    SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGSYS, SIGPROF, SIGVTALRM})
        Handle(sig, OnEndSignal);
        // Linux's own, beside the POSIX ones.
#ifdef SIGPOLL
    Handle(SIGPOLL, OnEndSignal);
#endif
#ifdef SIGSTKFLT
    Handle(SIGSTKFLT, OnEndSignal);
#endif
#ifdef SIGPWR
    Handle(SIGPWR, OnEndSignal);
#endif
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        Handle(sig, OnEndSignal);
#endif
    Handle(SIGINT, OnInterrupt);
    for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU})
        Handle(sig, OnStopSignal);
    Handle(SIGCONT, OnContinue);
    // An over-large output file is a failed write ("Disk full"), not a kill.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Keeps the handlers out while the normal code changes the terminal mode; a
// blocked SIGTTOU also lets the change through should the job have been
// moved to the background meanwhile.
struct SignalsHeld {
    sigset_t Saved;
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &Saved);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &Saved, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

void MakeNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

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

// The suspend key stops the job as the terminal itself would with its signal
// keys on; false where a stop is not wanted (SIGTSTP ignored: no job control).
bool StopJob() {
    struct sigaction current {};
    if (::sigaction(SIGTSTP, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return false;
    ::raise(SIGTSTP); // the handler restores the terminal and stops the job
    return true;
}

// One key from the terminal; an escape sequence counts as character 0, and
// so does the suspend key after the job has been stopped and gone on.
std::uint8_t ReadKey() {
    unsigned char b = 0;
    if (!ReadByte(b)) return KeyEsc; // the terminal went away: end the report as with Esc
    if (SuspendKey && b == SuspendChar && StopJob()) return 0;
    if (b == KeyEsc && InputReady(EscapeWaitMs)) {
        SkipEscapeSequence();
        return 0;
    }
    return b;
}

void DrainWakePipe() {
    char buf[64];
    while (::read(WakePipe[0], buf, sizeof buf) > 0) {
    }
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

} // namespace

namespace posix {

void ScreenEntered(const char* leave, std::size_t size, const termios& mode) {
    SignalsHeld held;
    ScreenLeave = leave;
    ScreenLeaveSize = size;
    ScreenMode = mode;
    if (!ScreenOpen) {
        ScreenResized = 0;
        ScreenResumed = 0;
        struct sigaction sa {};
        sa.sa_handler = OnResize;
        sigfillset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        WinchTaken = ::sigaction(SIGWINCH, &sa, &SavedWinch) == 0;
    }
    ScreenOpen = 1;
}

void ScreenLeft() {
    SignalsHeld held;
    ScreenOpen = 0;
    ScreenLeave = nullptr;
    ScreenLeaveSize = 0;
    if (WinchTaken) ::sigaction(SIGWINCH, &SavedWinch, nullptr);
    WinchTaken = false;
}

ScreenEvents TakeScreenEvents() {
    SignalsHeld held;
    ScreenEvents events{Interrupted != 0, ScreenResized != 0, ScreenResumed != 0};
    Interrupted = 0;
    ScreenResized = 0;
    ScreenResumed = 0;
    return events;
}

int WakeDescriptor() {
    return WakePipe[0];
}

void DrainWake() {
    if (WakePipe[0] != -1) DrainWakePipe();
}

bool IsSuspendKey(unsigned char c) {
    return SuspendKey && c == SuspendChar;
}

bool SuspendJob() {
    return StopJob();
}

} // namespace posix

void ConsoleInit() {
    Redirected = ::isatty(STDOUT_FILENO) == 0;
    // The locale's character set decides the glyphs, and its widths the columns.
    Utf8Locale = LocaleIsUtf8();
    if (!Redirected) SetUpDisplay();
    struct stat out {};
    bool outputSuits = !Redirected || (::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode));
    if (outputSuits && ::isatty(STDIN_FILENO) != 0 && ::tcgetattr(STDIN_FILENO, &SavedMode) == 0) {
        KeyMode = SavedMode;
        KeyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
        KeyMode.c_cc[VMIN] = 1;
        KeyMode.c_cc[VTIME] = 0;
        KeyboardWanted = true;
        SuspendChar = SavedMode.c_cc[VSUSP];
        SuspendKey = (SavedMode.c_lflag & ISIG) != 0 && SuspendChar != _POSIX_VDISABLE;
    }
    // Only a run that may wait for a key needs the pipe that ends the wait
    // (its two descriptors are the walk's otherwise).
    if (KeyboardWanted && ::pipe(WakePipe) == 0) {
        MakeNonBlocking(WakePipe[0]);
        MakeNonBlocking(WakePipe[1]);
    } else {
        WakePipe[0] = WakePipe[1] = -1;
    }
    SignalsHeld held;
    InstallSignalHandlers();
    TakeKeyboard();
}

void ConsoleDone() {
    {
        SignalsHeld held;
        RestoreTerminal();
        KeyboardWanted = false;
    }
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
    return Interrupted != 0 || (ModeSet != 0 && InputReady(0));
}

std::uint8_t WaitKey() {
    Resumed = 0;
    for (;;) {
        if (Interrupted) return KeyCtrlC;
        if (Resumed) return 0;  // stopped and gone on: the caller shows its prompt again
        if (!ModeSet) return 0; // no user can answer (a background job): never wait
        struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {WakePipe[0], POLLIN, 0}};
        int n = ::poll(fds, WakePipe[0] != -1 ? 2 : 1, -1);
        if (n < 0 && errno != EINTR) return KeyEsc;
        if (n <= 0) continue;
        if (fds[1].revents != 0) DrainWakePipe();
        // A key read after a stop and a move to the background would stop the job
        // again (SIGTTIN): read only while the keyboard is still ours.
        if (fds[0].revents != 0 && ModeSet) return ReadKey();
    }
}

bool PollKey(std::uint8_t& key) {
    if (Interrupted) {
        key = KeyCtrlC;
        return true;
    }
    if (!KeyWaiting()) return false;
    key = ReadKey();
    return true;
}

bool InputIsConsole() {
    return ModeSet != 0;
}

bool TakeResumed() {
    bool resumed = Resumed != 0;
    Resumed = 0;
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
