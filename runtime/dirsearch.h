// Directory search: the entries of one directory with name, attribute word and
// size. Only one search is open at a time; the walk closes each directory's
// search before it descends.
#pragma once

#include <cstdint>
#include <string>

namespace rtl {

inline constexpr std::uint32_t AttrReadOnly = 1;
inline constexpr std::uint32_t AttrHidden = 2;
inline constexpr std::uint32_t AttrSystem = 4;
inline constexpr std::uint32_t AttrVolumeId = 8;
inline constexpr std::uint32_t AttrDirectory = 16;
inline constexpr std::uint32_t AttrArchive = 32;

// Identifies a directory (device and inode, or volume serial and file id).
struct DirIdentity {
    std::uint64_t Volume = 0;
    std::uint64_t File = 0;
    bool operator==(const DirIdentity&) const = default;
};

struct SearchRec {
    std::string Name;   // as the report and the log write it
    std::string Native; // the platform's own form (opaque; empty where it equals Name)
    std::uint32_t Attr = 0;
    std::uint64_t Size = 0;
    DirIdentity Dir;           // the directory being searched, set by FindOpen
    std::intptr_t Handle = -1; // platform handle of the open search
};

// Opens the search of `dir`, a path that is empty (the current directory) or
// ends in the platform separator. `native`, when not empty, is the same
// directory as NativeDirPath and AppendNative give it, and is what is opened.
// False when the search cannot be started.
bool FindOpen(const std::string& dir, SearchRec& rec, const std::string& native = std::string());

// The platform's own form of a directory path, as opaque bytes: on Windows its
// absolute \\?\ path in UTF-16, made from `native` (a path in the platform's
// own form, such as a command-line argument) or else from `dir`; empty on
// POSIX, where the text itself is opened.
std::string NativeDirPath(const std::string& dir, const std::string& native);
// Appends a subdirectory's native name (SearchRec::Native) and a separator to
// a directory's native path; leaves an empty path empty.
void AppendNative(std::string& nativeDir, const std::string& nativeName);
// Loads the next entry ("." and ".." included); false at the end.
bool FindNextEntry(SearchRec& rec);
void FindClose(SearchRec& rec);

// What the searches have cost so far; tests use it to guard the fast path.
struct SearchCounters {
    std::uint64_t Opens = 0;   // directories opened
    std::uint64_t Entries = 0; // entries delivered
    std::uint64_t Stats = 0;   // entries whose metadata needed a call of its own
};
const SearchCounters& SearchCounts();

// The platform's path separator, appended by the walk between levels.
char PathSeparator();
// Whether the file system ignores the case of names (start directories are
// then upper-cased).
bool PathsIgnoreCase();

} // namespace rtl
