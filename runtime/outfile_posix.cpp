// The output file on POSIX. FILE's directory is held open and every name is
// taken in it (openat, linkat, renameat, unlinkat), so a change of the
// current directory or of the path's parents meanwhile changes nothing. A
// FILE that is a device, a FIFO or a socket is written into as a shell's ">"
// would; a symbolic link is followed to the file it names, which is the one
// replaced. The new file is made unnamed where the system can (O_TMPFILE),
// given a name only at the end, or else with a name of its own made with
// O_EXCL, which follows no link of that name; either name is short enough
// wherever FILE's name fits.
#include "runtime/outfile.h"

#include "runtime/posix_support.h"
#include "runtime/textsafe.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace runtime {

namespace {

// What a signal handler needs to remove the temporary file: no allocation,
// no lock.
volatile sig_atomic_t Armed = 0;
int ArmedDirectory = -1;
char ArmedName[NAME_MAX + 1];

std::atomic<bool> UnnamedAllowed{true};

void Arm(int directory, const std::string& name) {
    if (name.size() > NAME_MAX) return;
    Armed = 0;
    std::memcpy(ArmedName, name.c_str(), name.size() + 1);
    ArmedDirectory = directory;
    Armed = 1;
}

void Disarm() {
    Armed = 0;
}

// The directory of a path and the last name in it ("" when it ends with a
// separator).
void SplitPath(const std::string& path, std::string& directory, std::string& name) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        directory = ".";
        name = path;
    } else {
        directory = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

std::string Quoted(const std::string& path) {
    return "'" + SafeText(path, StdErrSink()) + "'";
}

int OpenDirectory(int at, const std::string& path) {
#ifdef O_PATH
    constexpr int Flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int Flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    return ::openat(at, path.c_str(), Flags);
}

// The name a temporary file takes in its directory: FILE's name and a part
// of its own, or where that would be too long, the part alone.
std::string TempName(const std::string& last, bool shortForm) {
    return (shortForm ? std::string() : last) + "." + outfile::UniquePart() + ".tmp";
}

constexpr int MaxLinks = 40; // as the system follows them

// Follows `last` in `dir` while it is a symbolic link, to the name the file
// it names has (which may not exist yet): `dir` and `last` are then that
// name's, and `shown` the path of that directory for messages ("" or ending
// with "/"). A link in a sticky directory that others may write is followed
// only when its owner is the directory's or the program's, as the system
// itself follows one there. 0 or an errno value.
int FollowLinks(int& dir, std::string& last, std::string& shown, struct stat& st, bool& existing) {
    for (int hops = 0;; ++hops) {
        existing = ::fstatat(dir, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!existing) return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode)) return 0;
        if (hops == MaxLinks) return ELOOP;
        struct stat parent {};
        if (::fstat(dir, &parent) != 0) return errno;
        if ((parent.st_mode & S_ISVTX) != 0 && (parent.st_mode & S_IWOTH) != 0 &&
            st.st_uid != parent.st_uid && st.st_uid != ::geteuid())
            return EACCES;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        ssize_t n = ::readlinkat(dir, last.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        target.resize(static_cast<std::size_t>(n));
        std::string directory;
        SplitPath(target, directory, last);
        if (last.empty() || last == "." || last == "..") return EISDIR;
        bool absolute = target.front() == '/';
        int next = OpenDirectory(absolute ? AT_FDCWD : dir, directory);
        if (next < 0) return errno;
        ::close(dir);
        dir = next;
        shown = (absolute ? std::string() : shown) + target.substr(0, target.size() - last.size());
    }
}

// FILE is no regular file: the output goes into it as it is, unless it turned
// into one meanwhile (then false, and nothing is open).
bool OpenDirect(int dir, const std::string& last, outfile::TempFile& temp, int& error) {
    int fd = ::openat(dir, last.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    if (fd < 0) return true;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    temp.Handle = fd;
    temp.Direct = true;
    return true;
}

// Makes the new file in `dir`, unnamed where the system can; -1 and errno
// on failure.
int CreateIn(int dir, const std::string& last, outfile::TempFile& temp) {
#ifdef O_TMPFILE
    if (UnnamedAllowed.load()) {
        int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp.Unnamed = true;
            return fd;
        }
        // Refused by the file system or the system: a named one instead.
    }
#endif
    int e = EEXIST;
    for (bool shortForm : {false, true}) {
        for (int attempt = 0; attempt < outfile::NameAttempts; ++attempt) {
            std::string local = TempName(last, shortForm);
            temp.Name = local;
            Arm(dir, local);
            int fd = ::openat(dir, local.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) return fd;
            e = errno;
            Disarm();
            if (e != EEXIST) break;
        }
        if (e != ENAMETOOLONG) break;
    }
    errno = e;
    return -1;
}

// Gives the unnamed file a name in its directory: linked in under a
// temporary name first, as a name cannot be replaced by a link.
int LinkUnnamed(outfile::TempFile& temp, const std::string& last) {
    int fd = static_cast<int>(temp.Handle);
    int dir = static_cast<int>(temp.Directory);
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    int e = EEXIST;
    for (bool shortForm : {false, true}) {
        for (int attempt = 0; attempt < outfile::NameAttempts; ++attempt) {
            std::string local = TempName(last, shortForm);
            int linked = ::linkat(AT_FDCWD, self.c_str(), dir, local.c_str(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
            // No /proc: by the descriptor itself, where the program may.
            if (linked != 0 && errno == ENOENT)
                linked = ::linkat(fd, "", dir, local.c_str(), AT_EMPTY_PATH);
#endif
            if (linked == 0) {
                Arm(dir, local);
                temp.Name = temp.Place + local;
                return 0;
            }
            e = errno;
            if (e != EEXIST) break;
        }
        if (e != ENAMETOOLONG) break;
    }
    return e;
}

} // namespace

void outfile::AllowUnnamed(bool allowed) {
    UnnamedAllowed.store(allowed);
}

int outfile::CreateBeside(const std::string& name, TempFile& temp, std::string& what) {
    std::string directory;
    std::string last;
    SplitPath(name, directory, last);
    temp = TempFile{};
    temp.Destination = name;
    what = "cannot write " + Quoted(name);
    if (last.empty() || last == "." || last == "..") return MapErrno(EISDIR);
    int dir = OpenDirectory(AT_FDCWD, directory);
    if (dir < 0) return MapErrno(errno);
    // What FILE is, through its links: a directory could never be replaced
    // (said now, not after the whole walk); a device, FIFO or socket is
    // written into, as it is, through the links.
    struct stat st {};
    if (::fstatat(dir, last.c_str(), &st, 0) == 0 && !S_ISREG(st.st_mode)) {
        int error = 0;
        if (S_ISDIR(st.st_mode) || OpenDirect(dir, last, temp, error)) {
            ::close(dir);
            return temp.Direct ? 0 : MapErrno(S_ISDIR(st.st_mode) ? EISDIR : error);
        }
    }
    bool existing = false;
    temp.Place = name.substr(0, name.size() - last.size());
    if (int e = FollowLinks(dir, last, temp.Place, st, existing); e != 0) {
        ::close(dir);
        return MapErrno(e);
    }
    if (existing && !S_ISREG(st.st_mode)) {
        // Changed since it was looked at: not replaced.
        ::close(dir);
        return MapErrno(S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
    }
    int fd = CreateIn(dir, last, temp);
    if (!temp.Name.empty()) temp.Name = temp.Place + temp.Name;
    if (fd < 0) {
        int e = errno;
        ::close(dir);
        what = e == EEXIST ? "cannot create a file beside " + Quoted(name)
                           : "cannot create " + Quoted(temp.Name.empty() ? name : temp.Name);
        temp.Name.clear();
        return MapErrno(e);
    }
    if (existing) {
        // The owner, group and permissions of the file it replaces, where
        // the program may give them (the owner only as root); the mode
        // last, as a change of owner clears set-user-ID bits.
        int owned = ::fchown(fd, st.st_uid, st.st_gid);
        int moded = ::fchmod(fd, st.st_mode & 07777);
        (void)owned;
        (void)moded;
    }
    temp.Handle = fd;
    temp.Directory = dir;
    temp.DestName = last;
    return 0;
}

int outfile::PutInPlace(TempFile& temp, std::string& what) {
    int fd = static_cast<int>(temp.Handle);
    temp.Handle = NoFile;
    if (temp.Direct) {
        if (::close(fd) == 0 || errno == EINTR) return 0;
        what = "cannot write " + Quoted(temp.Destination);
        return MapErrno(errno);
    }
    int code = 0;
    auto fail = [&](const std::string& doing, int e) {
        if (code == 0) {
            code = MapErrno(e);
            what = doing;
        }
    };
    int dir = static_cast<int>(temp.Directory);
    if (::fsync(fd) != 0 && errno != EINVAL)
        fail("cannot write " + Quoted(temp.Destination), errno);
    if (code == 0 && temp.Unnamed) {
        temp.Handle = fd;
        if (int e = LinkUnnamed(temp, temp.DestName); e != 0)
            fail("cannot write " + Quoted(temp.Destination), e);
        temp.Handle = NoFile;
    }
    if (::close(fd) != 0 && errno != EINTR) fail("cannot write " + Quoted(temp.Destination), errno);
    std::string directory;
    std::string local;
    SplitPath(temp.Name, directory, local);
    if (code == 0 && ::renameat(dir, local.c_str(), dir, temp.DestName.c_str()) != 0)
        fail("cannot rename " + Quoted(temp.Name) + " to " + Quoted(temp.Destination), errno);
    if (code != 0 && !local.empty()) ::unlinkat(dir, local.c_str(), 0);
    Disarm();
    ::close(dir);
    temp.Directory = NoFile;
    return code;
}

void outfile::Remove(TempFile& temp) noexcept {
    Disarm();
    if (temp.Handle != NoFile) ::close(static_cast<int>(temp.Handle));
    temp.Handle = NoFile;
    if (temp.Directory == NoFile) return;
    int dir = static_cast<int>(temp.Directory);
    // An unnamed file goes with its descriptor.
    if (!temp.Name.empty()) {
        auto slash = temp.Name.rfind('/');
        ::unlinkat(dir, temp.Name.c_str() + (slash == std::string::npos ? 0 : slash + 1), 0);
    }
    ::close(dir);
    temp.Directory = NoFile;
}

void RemoveOutputFileNow() noexcept {
    if (!Armed) return;
    Armed = 0;
    int savedErrno = errno;
    ::unlinkat(ArmedDirectory, ArmedName, 0);
    errno = savedErrno;
}

} // namespace runtime
