// The console layer on a POSIX terminal, its keyboard side: keys read in
// non-canonical mode, the terminal mode put back on every exit and around
// every stop of the job by the signal handlers, and what the full screen
// needs of them (terminal_posix.h).
#include "crt32_pipe/crt32_pipe.h"

#include "crt32_pipe/terminal_posix.h"
#include "runtime/outfile.h"
#include "runtime/sysio.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace crt32_pipe {

namespace {

// The keyboard is ours only while standard input is a terminal, standard output
// a terminal or a regular file, and the job is in the terminal's foreground.
bool KeyboardWanted = false;
struct termios SavedMode;
struct termios KeyMode;
int WakePipe[2] = {-1, -1};    // lets a signal end a wait for a key
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

// Everything below up to the handlers is safe inside a signal handler.

bool InForeground() {
    pid_t group = ::tcgetpgrp(STDIN_FILENO);
    return group != -1 && group == ::getpgrp();
}

void TakeKeyboard() {
    if (!KeyboardWanted || posix::ModeSet || !InForeground()) return;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &KeyMode) == 0) posix::ModeSet = 1;
}

void RestoreTerminal() {
    if (!posix::ModeSet) return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &SavedMode);
    posix::ModeSet = 0;
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
        ssize_t ignored = ::write(posix::HandlerOutput(), ScreenLeave, ScreenLeaveSize);
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
    posix::PutBackOutput();
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
    if (posix::Interrupted) {
        OnEndSignal(sig);
        return;
    }
    posix::Interrupted = 1;
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
    posix::Resumed = 1;
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

// The suspend key stops the job as the terminal itself would with its signal
// keys on; false where a stop is not wanted (SIGTSTP ignored: no job control).
bool StopJob() {
    struct sigaction current {};
    if (::sigaction(SIGTSTP, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return false;
    ::raise(SIGTSTP); // the handler restores the terminal and stops the job
    return true;
}

void DrainWakePipe() {
    char buf[64];
    while (::read(WakePipe[0], buf, sizeof buf) > 0) {
    }
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

} // namespace

namespace posix {

volatile sig_atomic_t ModeSet = 0;
volatile sig_atomic_t Interrupted = 0;
volatile sig_atomic_t Resumed = 0;

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
    ScreenEvents events{posix::Interrupted != 0, ScreenResized != 0, ScreenResumed != 0};
    posix::Interrupted = 0;
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

void StartKeyboard(bool outputSuits) {
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

void StopKeyboard() {
    SignalsHeld held;
    RestoreTerminal();
    KeyboardWanted = false;
}

} // namespace posix

} // namespace crt32_pipe
