// The output file on POSIX: the destination's directory is held open and
// every name is taken in it (openat, renameat, unlinkat), so a change of the
// current directory or of the path's parents meanwhile changes nothing. The
// temporary file is made with O_EXCL, which follows no link of that name.
#include "runtime/outfile.h"

#include "runtime/posix_support.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runtime {

namespace {

// What a signal handler needs to remove the temporary file: no allocation,
// no lock.
volatile sig_atomic_t Armed = 0;
int ArmedDirectory = -1;
char ArmedName[NAME_MAX + 1];

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
    return "'" + path + "'";
}

int OpenDirectory(const std::string& path) {
#ifdef O_PATH
    constexpr int Flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int Flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    return ::open(path.c_str(), Flags);
}

std::string NameIn(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int outfile::CreateBeside(const std::string& name, TempFile& temp, std::string& what) {
    std::string directory;
    std::string last;
    SplitPath(name, directory, last);
    temp = TempFile{};
    temp.Destination = name;
    what = "cannot write " + Quoted(name);
    if (last.empty() || last == "." || last == "..") return MapErrno(EISDIR);
    int dir = OpenDirectory(directory);
    if (dir < 0) return MapErrno(errno);
    // A directory of that name could never be replaced: said now, not after
    // the whole walk. A file's permissions go to the one that replaces it.
    struct stat st {};
    bool existing = ::fstatat(dir, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (existing && S_ISDIR(st.st_mode)) {
        ::close(dir);
        return MapErrno(EISDIR);
    }
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        std::string local = last + "." + UniquePart() + ".tmp";
        temp.Name = name.substr(0, name.size() - last.size()) + local;
        Arm(dir, local);
        int fd = ::openat(dir, local.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0666);
        if (fd < 0) {
            int e = errno;
            Disarm();
            if (e == EEXIST) continue;
            ::close(dir);
            what = "cannot create " + Quoted(temp.Name);
            return MapErrno(e);
        }
        if (existing && S_ISREG(st.st_mode)) {
            // Not ours to keep when it cannot be had (another owner's bits).
            int ignored = ::fchmod(fd, st.st_mode & 07777);
            (void)ignored;
        }
        temp.Handle = fd;
        temp.Directory = dir;
        return 0;
    }
    ::close(dir);
    what = "cannot create a file beside " + Quoted(name);
    return MapErrno(EEXIST);
}

int outfile::PutInPlace(TempFile& temp, std::string& what) {
    int code = 0;
    auto fail = [&](const std::string& doing) {
        if (code == 0) {
            code = MapErrno(errno);
            what = doing;
        }
    };
    int fd = static_cast<int>(temp.Handle);
    temp.Handle = NoFile;
    if (::fsync(fd) != 0 && errno != EINVAL) fail("cannot write " + Quoted(temp.Name));
    if (::close(fd) != 0 && errno != EINTR) fail("cannot write " + Quoted(temp.Name));
    int dir = static_cast<int>(temp.Directory);
    std::string local = NameIn(temp.Name);
    if (code == 0 && ::renameat(dir, local.c_str(), dir, NameIn(temp.Destination).c_str()) != 0)
        fail("cannot rename " + Quoted(temp.Name) + " to " + Quoted(temp.Destination));
    if (code != 0) ::unlinkat(dir, local.c_str(), 0);
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
    ::unlinkat(dir, NameIn(temp.Name).c_str(), 0);
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
