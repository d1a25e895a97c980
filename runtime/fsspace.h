// The file system beside the walk: the size of the one that holds a
// directory and its free space (statvfs on POSIX, GetDiskFreeSpaceExW on
// Windows), and a directory made where it is missing (fsspace_posix.cpp,
// fsspace_win32.cpp).
#pragma once

#include <cstdint>
#include <string>

namespace runtime {

struct FileSystemSpace {
    std::uint64_t Size = 0; // bytes the file system holds in all
    std::uint64_t Free = 0; // bytes a program without privileges may still write
};

// Of the directory `path` (empty: the current one; `native`, when not
// empty, the same in the platform's own form); false when the system does
// not tell.
bool SpaceOf(const std::string& path, const std::string& native, FileSystemSpace& space);

// The absolute path of the directory `path` (as SpaceOf takes it), links
// resolved where the system does (POSIX); UTF-8 on Windows. Empty when the
// system does not tell.
std::string AbsolutePath(const std::string& path, const std::string& native);

// Makes the directory `path` unless it is one already (its parent must
// be); 0 or an I/O error code, `reason` then says why in a few words.
int MakeDirectory(const std::string& path, std::string& reason);

} // namespace runtime
