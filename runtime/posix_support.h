// Private to the POSIX back ends of the run-time services: the one mapping of
// the system's errno values onto the neutral I/O error codes of rtl.h.
#pragma once

#include "runtime/rtl.h"

#include <cerrno>
#include <cstddef>

namespace runtime {

namespace posix {

// The call that reads a directory's next batch of entries (getdents64's
// form: bytes read, 0 at the end, -1 with errno). Tests replace it to make a
// listing fail midway, and get the call it replaces; nullptr puts the
// system's back. Where the system lists by readdir nothing can be replaced:
// it returns nullptr.
using DirBatchCall = long (*)(int fd, void* buffer, std::size_t size);
DirBatchCall ReplaceDirBatchCall(DirBatchCall call);

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

} // namespace runtime
