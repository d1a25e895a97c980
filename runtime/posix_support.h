// Private to the POSIX back ends of the run-time services: the one mapping of
// the system's errno values onto the neutral I/O error codes of rtl.h, and
// the opening of a path of any length.
#pragma once

#include "runtime/rtl.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace runtime {

struct DirIdentity;

namespace posix {

// The call that reads a directory's next batch of entries (getdents64's
// form: bytes read, 0 at the end, -1 with errno). Tests replace it to make a
// listing fail midway, and get the call it replaces; nullptr puts the
// system's back. Where the system lists by readdir nothing can be replaced:
// it returns nullptr.
using DirBatchCall = long (*)(int fd, void* buffer, std::size_t size);
DirBatchCall ReplaceDirBatchCall(DirBatchCall call);

// The identity of an open directory, and whether it is the root of a mount
// (a bind mount of the same file system included, where the system tells);
// with `diskBytes`, the space it takes, asked for in the same call. False
// with errno set when it cannot be had.
bool IdentifyDir(int fd, DirIdentity& id, bool& mountRoot, std::uint64_t* diskBytes = nullptr);

} // namespace posix

// The errno value MapErrno saw last on this thread: the message of an error
// raised from its code names the system's own reason (IoErrorReason).
inline thread_local int LastMappedErrno = 0;

inline int MapErrno(int e) {
    LastMappedErrno = e;
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return IoFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return IoAccessDenied;
    case EMFILE:
    case ENFILE:
        return IoTooManyOpenFiles;
    case ENOMEM:
        return IoNotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return IoDiskFull;
    default:
        // Keeps the system's number (EIO reads "I/O error 5"), never a named code.
        return IoSystemError(e);
    }
}

// How a directory is opened only to be searched or entered (fchdir).
#ifdef O_PATH
inline constexpr int SearchFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
inline constexpr int SearchFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Opens the directory `path` (not empty) with `flags`, however long the path:
// each piece handed to openat stays below PATH_MAX, cut at separators, and the
// directories on the way are opened only to be searched, as a path's
// resolution needs. -1 with errno on failure.
inline int OpenLongPath(const std::string& path, int flags) {
    constexpr int Search = SearchFlags;
    auto closeKeepingErrno = [](int fd) {
        int saved = errno;
        if (fd != AT_FDCWD) ::close(fd);
        errno = saved;
    };
    int fd = AT_FDCWD;
    std::size_t pos = 0;
    if (path[0] == '/') {
        fd = ::open("/", Search);
        pos = 1;
    }
    for (;;) {
        // A piece never starts with a separator: it would be a path from the root.
        while (pos < path.size() && path[pos] == '/')
            ++pos;
        if (fd == -1 || pos >= path.size()) break;
        std::size_t end = pos;
        std::size_t cut = std::string::npos;
        while (end < path.size() && end - pos < PATH_MAX - 1) {
            if (path[end] == '/') cut = end;
            ++end;
        }
        if (end >= path.size()) cut = path.size();
        if (cut == std::string::npos || cut == pos) {
            closeKeepingErrno(fd);
            errno = ENAMETOOLONG;
            return -1;
        }
        std::string piece = path.substr(pos, cut - pos);
        int next = -1;
        do
            next = ::openat(fd, piece.c_str(), Search);
        while (next == -1 && errno == EINTR);
        closeKeepingErrno(fd);
        fd = next;
        pos = cut + 1;
    }
    if (fd == -1 || flags == Search) return fd;
    // The directory itself with the flags asked for.
    int opened = -1;
    do
        opened = ::openat(fd, ".", flags);
    while (opened == -1 && errno == EINTR);
    closeKeepingErrno(fd);
    return opened;
}

} // namespace runtime
