// Directory search on POSIX. On Linux the entries come straight from
// getdents64 into one large buffer; the directory bit is taken from d_type
// and only other entries are stat'ed, relative to the open directory. Paths
// longer than PATH_MAX are opened piece by piece.
#include "runtime/dirsearch.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <dirent.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

namespace rtl {

namespace {

SearchCounters Counts;

#ifdef __linux__
constexpr std::size_t ReadBufferSize = std::size_t{128} * 1024;
std::vector<char> ReadBuffer;
std::size_t BufferPos = 0;
std::size_t BufferEnd = 0;

struct LinuxDirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};
#else
DIR* OpenDir = nullptr;
#endif

constexpr int DirOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Opens a directory whose path may exceed PATH_MAX: each piece handed to
// openat stays below it, cut at separators.
int OpenLongPath(const std::string& path) {
    int fd = AT_FDCWD;
    std::size_t pos = 0;
    if (path[0] == '/') {
        fd = ::open("/", DirOpenFlags);
        pos = 1;
    }
    while (fd != -1 && pos < path.size()) {
        std::size_t end = pos;
        std::size_t cut = std::string::npos;
        while (end < path.size() && end - pos < PATH_MAX - 1) {
            if (path[end] == '/') cut = end;
            ++end;
        }
        if (end >= path.size()) cut = path.size();
        if (cut == std::string::npos || cut == pos) {
            if (fd != AT_FDCWD) ::close(fd);
            errno = ENAMETOOLONG;
            return -1;
        }
        std::string piece = path.substr(pos, cut - pos);
        int next = ::openat(fd, piece.c_str(), DirOpenFlags);
        if (fd != AT_FDCWD) ::close(fd);
        fd = next;
        pos = cut + 1;
    }
    return fd == AT_FDCWD ? ::open(".", DirOpenFlags) : fd;
}

int OpenDirectory(const std::string& dir) {
    if (dir.empty()) return ::open(".", DirOpenFlags);
    if (dir.size() < PATH_MAX) {
        int fd = ::open(dir.c_str(), DirOpenFlags);
        if (fd != -1 || errno != ENAMETOOLONG) return fd;
    }
    return OpenLongPath(dir);
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Fills in attribute and size; false when the entry vanished meanwhile.
bool Describe(int dirFd, const char* name, bool knownDir, SearchRec& rec) {
    if (knownDir || IsDotOrDotDot(name)) {
        rec.Attr = AttrDirectory;
        rec.Size = 0;
        return true;
    }
    ++Counts.Stats;
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    // Symbolic links are files of their own size; only real directories are walked.
    rec.Attr = S_ISDIR(st.st_mode) ? AttrDirectory : 0;
    rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    return true;
}

} // namespace

std::string NativeDirPath(const std::string&, const std::string&) {
    return std::string(); // the text is the name
}

void AppendNative(std::string&, const std::string&) {}

bool FindOpen(const std::string& dir, SearchRec& rec, const std::string&) {
    int fd = OpenDirectory(dir);
    if (fd == -1) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    ++Counts.Opens;
    rec.Dir =
        DirIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    rec.Handle = fd;
#ifdef __linux__
    if (ReadBuffer.empty()) ReadBuffer.resize(ReadBufferSize);
    BufferPos = BufferEnd = 0;
#else
    OpenDir = ::fdopendir(fd);
    if (OpenDir == nullptr) {
        ::close(fd);
        rec.Handle = -1;
        return false;
    }
#endif
    return true;
}

bool FindNextEntry(SearchRec& rec) {
    if (rec.Handle == -1) return false;
    int fd = static_cast<int>(rec.Handle);
    for (;;) {
#ifdef __linux__
        if (BufferPos >= BufferEnd) {
            long n = ::syscall(SYS_getdents64, fd, ReadBuffer.data(), ReadBuffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false; // the end, or a directory that went away: no more entries
            BufferPos = 0;
            BufferEnd = static_cast<std::size_t>(n);
        }
        const auto* ent = reinterpret_cast<const LinuxDirent64*>(ReadBuffer.data() + BufferPos);
        BufferPos += ent->d_reclen;
        const char* name = ent->d_name;
        bool knownDir = ent->d_type == DT_DIR;
#else
        errno = 0;
        struct dirent* ent = ::readdir(OpenDir);
        if (ent == nullptr) return false;
        const char* name = ent->d_name;
        bool knownDir = false;
#ifdef DT_DIR
        knownDir = ent->d_type == DT_DIR;
#endif
#endif
        if (!Describe(fd, name, knownDir, rec)) continue;
        rec.Name.assign(name);
        ++Counts.Entries;
        return true;
    }
}

void FindClose(SearchRec& rec) {
    if (rec.Handle == -1) return;
#ifdef __linux__
    ::close(static_cast<int>(rec.Handle));
#else
    ::closedir(OpenDir);
    OpenDir = nullptr;
#endif
    rec.Handle = -1;
}

char PathSeparator() {
    return '/';
}

bool PathsIgnoreCase() {
    return false;
}

const SearchCounters& SearchCounts() {
    return Counts;
}

} // namespace rtl
