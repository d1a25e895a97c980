// Directory search: open directories and read their entries with name,
// attribute word and size. A directory is opened relative to its parent's
// open directory by the name the parent's listing gave, so the walk never
// rebuilds a path. Every call may run on any thread; all state is in the
// caller's DirHandle and DirReader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace runtime {

inline constexpr std::uint32_t AttrHidden = 2;
inline constexpr std::uint32_t AttrSystem = 4;
inline constexpr std::uint32_t AttrDirectory = 16;
// Windows: a junction, a symbolic link, a mount point, a cloud placeholder.
inline constexpr std::uint32_t AttrReparsePoint = 0x400;

// Identifies a directory (device and inode, or volume serial and file id);
// both zero when the system cannot tell.
struct DirIdentity {
    std::uint64_t Volume = 0;
    std::uint64_t File = 0;
    bool operator==(const DirIdentity&) const = default;
};

// An open directory: a descriptor on POSIX; on Windows the absolute path
// (with the \\?\ prefix, in UTF-16 as opaque bytes) made from the native
// names of its parents and the handle it is listed through (-1 when it is
// searched by its path). Also the volume or device it is on, which the
// directories opened below it share unless they are reached through a link
// or are mount roots.
struct DirHandle {
    std::intptr_t Fd = -1;
    std::string Path;
    std::uint64_t Volume = 0; // 0 when unknown
    // The root of a file system mounted on its name, or (Windows) the target
    // of a link: its identity is not the one its parent's listing gave.
    bool MountRoot = false;
    // The inode numbers a listing gives are the ones an open gives. Not so on
    // some file systems (FUSE without inode numbers of its own, overlays of
    // several file systems, SMB without server inode numbers), where a
    // mismatch says nothing about the directory having been replaced.
    bool ListedInodes = true;
    // POSIX: its file system gives every directory the device of its mount
    // (no subvolumes), so below it only a mount root is on another device.
    bool OneDevice = false;
    // POSIX: the inode the parent's listing gave, taken as the identity
    // without asking the system; the listing checks it against the directory's
    // own "." entry before it delivers an entry. 0 when the system was asked.
    std::uint64_t Unverified = 0;
    // POSIX: the space it takes itself, when its open asked the system for
    // its identity and learnt that too.
    std::uint64_t DiskBytes = 0;
    bool DiskBytesKnown = false;
    bool IsOpen() const { return Fd != -1 || !Path.empty(); }
};

enum class DirFault : std::uint8_t {
    None,
    Unreadable, // the tree's own reason: missing, no permission, not a directory (a link now)
    Unexpected, // any other failure of the file system (Code tells which)
    Resource,   // the program's own resources ran out (Code is the I/O error to raise)
};

struct DirResult {
    DirFault Fault = DirFault::None;
    int Code = 0;
};

// Opens the start directory by its path (empty: the current directory);
// `native`, when not empty, is the same path in the platform's own form (as
// typed on the command line) and is what is opened.
DirResult OpenDirPath(const std::string& path, const std::string& native, DirHandle& dir,
                      DirIdentity& id);
// Opens the subdirectory `name` (the platform's own form) of `parent`; a name
// that is a symbolic link now is never followed. `listed` is the inode the
// parent's listing gave (0: unknown, or the identity must be the system's
// own): where the file system can be trusted with it, it is the identity, and
// a directory replaced meanwhile is found by its listing instead (the first
// ReadEntry fails as Unreadable with code 0).
DirResult OpenDirAt(const DirHandle& parent, const std::string& name, std::uint64_t listed,
                    DirHandle& dir, DirIdentity& id);
void CloseDir(DirHandle& dir);
// The platform's own form of a directory path, as opaque bytes: on Windows its
// absolute \\?\ path in UTF-16 with a final separator, made from `native`
// or else from `dir`; empty on POSIX, where the text itself is opened.
std::string NativeDirPath(const std::string& dir, const std::string& native);
// The text of an Unexpected fault's code, for a message.
std::string FaultText(int code);
// Why a directory is Unreadable, in short English ("permission denied",
// "no such file or directory", "not a directory", else the system's text).
std::string UnreadableText(int code);

enum class EntryType : std::uint8_t {
    Regular,
    Directory,
    Other, // symbolic link, FIFO, device, socket
};

// What an entry of type Other is, where the listing tells.
enum class SpecialType : std::uint8_t { Unknown, SymbolicLink, Fifo, Socket, Device };

struct DirEntry {
    std::string Name;   // the bytes the report writes
    std::string Native; // the platform's own form of the name; empty when it is Name
    std::uint32_t Attr = 0;
    std::uint64_t Size = 0;
    std::uint64_t DiskBytes = 0; // space taken on disk (Size where the system does not tell)
    std::uint64_t Device = 0;    // device or volume serial; zero when unknown
    std::uint64_t Inode = 0;     // inode or file id; zero when unknown
    // The number of links; 0 when the listing does not tell (Windows), so the
    // disk usage counts such a file once by its inode.
    std::uint32_t Links = 1;
    EntryType Type = EntryType::Regular;
    SpecialType Special = SpecialType::Unknown; // for Type Other
    // When the entry itself last changed (created, renamed, written, its
    // links or mode changed: POSIX ctime, Windows' change time), in
    // nanoseconds since 1970; 0 when the listing does not tell.
    std::int64_t Changed = 0;
    // A directory that is a link to another (Windows: a junction, directory
    // symbolic link or volume mount point). Never on POSIX, where a symbolic
    // link is an entry of its own.
    bool Link = false;
    // Why the entry's own metadata could not be read (Fault None when they
    // were): it is then what the listing says, a directory or a file of size 0.
    DirResult Unexamined{};
};

// The reading state of one thread; reused from directory to directory.
struct DirReader {
    std::intptr_t Search = -1;
    std::vector<char> Buffer;
    std::size_t Pos = 0;
    std::size_t End = 0;
    bool Pending = false;
    // Directories' own metadata too (their sizes), at one call each.
    bool StatDirectories = false;
    // StartReading also tells the space the directory itself takes
    // (SelfDiskBytes): POSIX its st_blocks * 512, Windows the allocation of
    // its handle; 0 where the system does not tell. One call a directory.
    bool MeasureSelf = false;
    std::uint64_t SelfDiskBytes = 0;
    bool Searching = false; // Windows: a search by path, not a listing through the handle
    // POSIX: the inode the directory's "." entry must have (DirHandle::Unverified);
    // 0 once checked.
    std::uint64_t Verify = 0;
    // POSIX: read from the first entry again, for a handle listed before
    // (a listing through a handle on Windows always starts at the first).
    bool Rewind = false;
    // This listing's share of SearchCounts, added in at StopReading, so that
    // threads do not contend for the counters on every entry.
    std::uint64_t Entries = 0;
    std::uint64_t Stats = 0;
};

// Starts reading the entries of `dir`.
DirResult StartReading(const DirHandle& dir, DirReader& reader);
// The next entry, "." and ".." left out; false at the end or on a fault,
// which is then in `result`. An entry that cannot be examined is still
// delivered (see DirEntry::Unexamined); one gone meanwhile is left out.
bool ReadEntry(const DirHandle& dir, DirReader& reader, DirEntry& entry, DirResult& result);
void StopReading(DirReader& reader);

// Every entry of `dir` with its own metadata (a directory's sizes, links and
// identity included, where the system tells them: see DirEntry), in the
// order of the listing, from the first entry even when `dir` was listed
// before. A fault ends the list and is returned; the entries read up to it
// are kept.
DirResult ListDirectory(const DirHandle& dir, std::vector<DirEntry>& entries);

// What the searches have cost so far; tests use it to guard the fast path.
struct SearchCounters {
    std::uint64_t Opens = 0;   // directories opened
    std::uint64_t Entries = 0; // entries delivered
    std::uint64_t Stats = 0;   // entries whose metadata needed a call of its own
    // Directories opened below another whose identity needed a call of its own.
    std::uint64_t Identities = 0;
};
SearchCounters SearchCounts();

// The platform's path separator, appended by the walk between levels.
char PathSeparator();
// Whether the file system ignores the case of names (start directories are
// then upper-cased).
bool PathsIgnoreCase();

} // namespace runtime
