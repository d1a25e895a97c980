#include "runtime/sysio.h"

#include "runtime/posix_support.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Start of the program image, defined by GNU linkers.
extern "C" char __executable_start; // NOLINT(bugprone-reserved-identifier)

namespace runtime {

FileHandle StdHandle(StdStream which) {
    switch (which) {
    case StdStream::Input:
        return STDIN_FILENO;
    case StdStream::Output:
        return STDOUT_FILENO;
    case StdStream::Error:
        break;
    }
    return STDERR_FILENO;
}

void ReserveStdHandles() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Opened for reading only: a write to it fails with EBADF.
        int reserved = ::open("/dev/null", O_RDONLY);
        if (reserved != -1 && reserved != fd) {
            ::dup2(reserved, fd);
            ::close(reserved);
        }
    }
}

int WriteFile(FileHandle h, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(h), data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return MapErrno(errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

namespace {

// Checks that an open file is a regular file, empties it and makes its writes
// blocking again; 0 or an I/O error code.
int PrepareRegularFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return MapErrno(errno);
    if (!S_ISREG(st.st_mode)) return IoAccessDenied;
    if (::ftruncate(fd, 0) != 0) return MapErrno(errno);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) return MapErrno(errno);
    return 0;
}

} // namespace

// The file is written only as a regular file: a symbolic link of its name is
// not followed (nor its target created), and a FIFO or a device is never waited
// for. It is emptied only once it is known to be a regular file.
int CreateFileForWrite(const std::string& name, FileHandle& h) {
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        // ELOOP: a symbolic link; ENXIO: a FIFO without a reader, a socket or
        // a device without its hardware; EISDIR: a directory.
        int e = errno;
        bool notAFile = e == ELOOP || e == ENXIO || e == EAGAIN || e == EISDIR;
        return notAFile ? IoAccessDenied : MapErrno(e);
    }
    if (int code = PrepareRegularFile(fd); code != 0) {
        ::close(fd);
        return code;
    }
    h = fd;
    return 0;
}

int OpenFileForRead(const std::string& name, FileHandle& h, std::string& reason) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        fd = -1;
        errno = EISDIR;
    }
    if (fd < 0) {
        int e = errno;
        reason = std::strerror(e);
        if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] += 'a' - 'A';
        return MapErrno(e);
    }
    h = fd;
    return 0;
}

int ReadFile(FileHandle h, char* data, std::size_t size, std::size_t& got) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(h), data, size);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno != EINTR) return MapErrno(errno);
    }
}

int CloseFile(FileHandle h) {
    if (::close(static_cast<int>(h)) != 0 && errno != EINTR) return MapErrno(errno);
    return 0;
}

namespace {
constexpr rlim_t LargeStack = rlim_t{120} << 20;

// The main thread's stack grows on demand up to the soft stack limit, and the
// kernel keeps at least 128 MiB free below it: raising the limit to just under
// that lets the walk go very deep on the main thread.
bool RaiseStackLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_STACK, &limit) != 0) return false;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= LargeStack) return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < LargeStack) return false;
    limit.rlim_cur = LargeStack;
    return ::setrlimit(RLIMIT_STACK, &limit) == 0;
}
} // namespace

int RunOnLargeStack(int (*fn)()) {
    // A second thread would make every call on a directory handle dearer, so
    // it is only the way out when the limit cannot be raised.
    if (RaiseStackLimit()) return fn();
    struct Call {
        int (*Fn)();
        int Result;
    } call{fn, 0};
    pthread_attr_t attr;
    pthread_t thread;
    bool started = pthread_attr_init(&attr) == 0 &&
                   pthread_attr_setstacksize(&attr, LargeStack) == 0 &&
                   pthread_create(
                       &thread, &attr,
                       [](void* arg) -> void* {
                           auto* c = static_cast<Call*>(arg);
                           c->Result = c->Fn();
                           return nullptr;
                       },
                       &call) == 0;
    pthread_attr_destroy(&attr);
    if (!started) return fn();
    pthread_join(thread, nullptr);
    return call.Result;
}

bool RegularFileIdentity(FileHandle h, FileIdentity& id) {
    struct stat st {};
    if (h == NoFile || ::fstat(static_cast<int>(h), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id.Device = static_cast<std::uint64_t>(st.st_dev);
    id.Inode = static_cast<std::uint64_t>(st.st_ino);
    id.Size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::int64_t OpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > (rlim_t{1} << 30))
        return std::int64_t{1} << 30;
    return static_cast<std::int64_t>(limit.rlim_cur);
}

namespace {

// The descriptors open now, from the system's list where there is one.
std::int64_t OpenDescriptors(std::int64_t limit) {
    if (DIR* list = ::opendir("/proc/self/fd")) {
        std::int64_t used = -1; // the list's own descriptor
        while (const struct dirent* ent = ::readdir(list))
            if (ent->d_name[0] != '.') ++used;
        ::closedir(list);
        if (used >= 0) return used;
    }
    // Otherwise probe each number; descriptors above the highest one worth
    // probing are rare enough to ignore.
    constexpr std::int64_t ProbeLimit = 65536;
    std::int64_t used = 0;
    for (std::int64_t fd = 0; fd < std::min(limit, ProbeLimit); ++fd)
        if (::fcntl(static_cast<int>(fd), F_GETFD) != -1) ++used;
    return used;
}

} // namespace

std::int64_t FreeFileDescriptors() {
    std::int64_t limit = OpenFileLimit();
    return std::max<std::int64_t>(0, limit - OpenDescriptors(limit));
}

std::int32_t OnlineProcessors() {
    long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : static_cast<std::int32_t>(std::min(n, 1024L));
}

bool PathSizes(const std::string& path, const std::string&, std::uint64_t& size,
               std::uint64_t& diskBytes) {
    struct stat st {};
    if (::stat(path.empty() ? "." : path.c_str(), &st) != 0) {
        // A path beyond the system's limit is looked at piece by piece.
        if (errno != ENAMETOOLONG) return false;
        int fd = OpenLongPath(path, SearchFlags);
        if (fd == -1) return false;
        bool ok = ::fstat(fd, &st) == 0;
        ::close(fd);
        if (!ok) return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    diskBytes = static_cast<std::uint64_t>(st.st_blocks) * 512;
    return true;
}

bool StdErrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::int32_t StdErrColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool StdErrInForeground() {
    // A terminal that is not the process's controlling one has no jobs of it.
    pid_t group = ::tcgetpgrp(STDERR_FILENO);
    return group == -1 || group == ::getpgrp();
}

void WriteStdErrDirect(std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ReadStdInLine() {
    char c = 0;
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') return;
    }
}

std::string ProgramModuleName() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string full;
    if (n > 0)
        full.assign(path, static_cast<std::size_t>(n));
    else if (ProcessArgCount() > 0)
        full = ProcessArg(0);
    else
        full = "kelpo32";
    auto slash = full.find_last_of('/');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

std::string IoErrorReason(int code) {
    int e = LastMappedErrno;
    if (e == 0 || MapErrno(e) != code) {
        // Not the last error seen here: the errno the code stands for.
        switch (code) {
        case IoFileNotFound:
            e = ENOENT;
            break;
        case IoAccessDenied:
            e = EACCES;
            break;
        case IoDiskFull:
            e = ENOSPC;
            break;
        case IoFileNotOpen:
        case IoNotOpenForOutput:
            e = EBADF;
            break;
        // Met on another thread (a walk's worker): the code's own errno,
        // never the plain number, which is another errno's.
        case IoTooManyOpenFiles:
            e = EMFILE;
            break;
        case IoNotEnoughMemory:
            e = ENOMEM;
            break;
        default:
            e = IoErrorNumber(code);
        }
    }
    LastMappedErrno = 0;
    return std::strerror(e);
}

bool IsBadHandleError(int code) {
    return code == IoSystemError(EBADF) || code == IoNotOpenForOutput;
}

const char* OutOfMemoryText() noexcept {
    return "kelpo32: out of memory\n";
}

std::string UncaughtErrorText(const RunError& err) {
    return FormatPosixRunError(err);
}

std::uintptr_t CodeOffset(std::uintptr_t address) {
    return address - reinterpret_cast<std::uintptr_t>(&__executable_start);
}

} // namespace runtime
