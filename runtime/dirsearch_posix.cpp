// Directory search on POSIX. A subdirectory is opened with openat relative to
// its parent's descriptor, without following a symbolic link. On Linux the
// entries come straight from getdents64 into the reader's buffer; the
// directory bit is taken from d_type and only other entries are stat'ed,
// relative to the open directory. Where the file system allows, a
// subdirectory costs no call for its identity either: it is opened without
// crossing a mount (openat2), so it is on its parent's device, and its inode is
// the one the parent's listing gave, checked against its own "." entry.
#include "runtime/dirsearch.h"

#include "runtime/posix_support.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#endif
#include <unistd.h>
#include <utility>

#include <dirent.h>
#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace runtime {

namespace {

std::atomic<std::uint64_t> OpenCount{0};
std::atomic<std::uint64_t> EntryCount{0};
std::atomic<std::uint64_t> StatCount{0};
std::atomic<std::uint64_t> IdentityCount{0};

constexpr int DirOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The program's own resources, not a property of the tree.
bool IsResourceErrno(int e) {
    return e == EMFILE || e == ENFILE || e == ENOMEM;
}

// What the tree itself can cause: no permission, removed or renamed meanwhile,
// not a directory any more, a symbolic link now.
bool IsTreeErrno(int e) {
    return e == EACCES || e == EPERM || e == ENOENT || e == ENOTDIR || e == ELOOP || e == ESTALE ||
           e == ENAMETOOLONG;
}

// A resource fault carries the I/O error to raise, the others the system's
// code for a message.
DirResult Fault(int e) {
    if (IsResourceErrno(e)) return DirResult{DirFault::Resource, MapErrno(e)};
    if (IsTreeErrno(e)) return DirResult{DirFault::Unreadable, e};
    return DirResult{DirFault::Unexpected, e};
}

// What the file system of `fd` can be trusted with: only file systems known
// for it are.
struct FsTraits {
    bool ListedInodes = false; // readdir's inode numbers are stat's
    bool OneDevice = false;    // every directory has the device of its mount
};

FsTraits TraitsOf(int fd) {
#ifdef __linux__
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return FsTraits{};
    switch (static_cast<std::uint32_t>(fs.f_type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
    case 0x52654973: // reiserfs
    case 0x3153464A: // jfs
        return FsTraits{true, true};
    case 0x9123683E: // btrfs: subvolumes have devices of their own
    case 0xCA451A4E: // bcachefs: the same
    case 0x2FC12FC1: // zfs
    case 0x6969:     // nfs
        return FsTraits{true, false};
    default:
        return FsTraits{};
    }
#else
    (void)fd;
    return FsTraits{true, false};
#endif
}

#ifdef __linux__
constexpr std::size_t ReadBufferSize = std::size_t{64} * 1024;

long SystemReadBatch(int fd, void* buffer, std::size_t size) {
    return ::syscall(SYS_getdents64, fd, buffer, size);
}

std::atomic<posix::DirBatchCall> ReadBatchCall{SystemReadBatch};

long ReadBatch(int fd, void* buffer, std::size_t size) {
    return ReadBatchCall.load(std::memory_order_relaxed)(fd, buffer, size);
}

struct LinuxDirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};
#endif

} // namespace

bool posix::IdentifyDir(int fd, DirIdentity& id, bool& mountRoot, std::uint64_t* diskBytes) {
    mountRoot = false;
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx sx;
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BLOCKS, &sx) == 0) {
        mountRoot = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
                    (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
        id = DirIdentity{static_cast<std::uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor)),
                         sx.stx_ino};
        if (diskBytes != nullptr) *diskBytes = sx.stx_blocks * 512;
        return true;
    }
#endif
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    id = DirIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    if (diskBytes != nullptr) *diskBytes = static_cast<std::uint64_t>(st.st_blocks) * 512;
    return true;
}

namespace {

// `parent` is null for a start directory; below it a directory is on its
// parent's file system unless it is a mount root.
DirResult Finish(int fd, DirHandle& dir, DirIdentity& id, const DirHandle* parent) {
    if (fd == -1) return Fault(errno);
    bool mountRoot = false;
    std::uint64_t diskBytes = 0;
    if (!posix::IdentifyDir(fd, id, mountRoot, &diskBytes)) {
        int e = errno;
        ::close(fd);
        return Fault(e);
    }
    OpenCount.fetch_add(1, std::memory_order_relaxed);
    if (parent != nullptr) IdentityCount.fetch_add(1, std::memory_order_relaxed);
    dir.Fd = fd;
    dir.Volume = id.Volume;
    dir.MountRoot = mountRoot;
    dir.Unverified = 0;
    dir.DiskBytes = diskBytes;
    dir.DiskBytesKnown = true;
    if (parent == nullptr || mountRoot) {
        FsTraits traits = TraitsOf(fd);
        dir.ListedInodes = traits.ListedInodes;
        dir.OneDevice = traits.OneDevice;
    } else {
        dir.ListedInodes = parent->ListedInodes;
        dir.OneDevice = parent->OneDevice;
    }
    return DirResult{};
}

#ifdef __linux__
// Cleared when the kernel has no openat2.
std::atomic<bool> HaveOpenat2{true};

// Opens `name` below `parent` only if that crosses no mount; -1 when it does,
// or on any failure, which the plain open then meets and reports itself.
int OpenSameMount(const DirHandle& parent, const char* name) {
    if (!HaveOpenat2.load(std::memory_order_relaxed)) return -1;
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(DirOpenFlags | O_NOFOLLOW);
    how.resolve = RESOLVE_NO_XDEV;
    for (;;) {
        long fd = ::syscall(SYS_openat2, static_cast<int>(parent.Fd), name, &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        if (errno == EINTR) continue;
        if (errno == ENOSYS) HaveOpenat2.store(false, std::memory_order_relaxed);
        return -1;
    }
}

// Whether the directory being listed has the inode `expected`: by its "."
// entry in the batch just read, or else by the system's word.
DirResult CheckOwnInode(int fd, const char* batch, std::size_t size, std::uint64_t expected) {
    const DirResult replaced{DirFault::Unreadable, 0};
    for (std::size_t pos = 0; pos < size;) {
        const auto* ent = reinterpret_cast<const LinuxDirent64*>(batch + pos);
        if (ent->d_name[0] == '.' && ent->d_name[1] == '\0')
            return ent->d_ino == expected ? DirResult{} : replaced;
        pos += ent->d_reclen;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) return Fault(errno);
    return static_cast<std::uint64_t>(st.st_ino) == expected ? DirResult{} : replaced;
}
#endif

int OpenRetrying(int parent, const char* name, int flags) {
    for (;;) {
        int fd = ::openat(parent, name, flags);
        if (fd != -1 || errno != EINTR) return fd;
    }
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// What the listing alone tells of an entry: a directory by its type, else a
// file of unknown size (0).
void FromListing(DirEntry& entry, unsigned char type, std::uint64_t inode) {
    bool dir = type == DT_DIR;
    entry.Attr = dir ? AttrDirectory : 0;
    entry.Size = 0;
    entry.DiskBytes = 0;
    entry.Device = 0; // the listing does not tell
    entry.Inode = inode;
    entry.Links = 1;
    entry.Type = dir                                    ? EntryType::Directory
                 : type == DT_REG || type == DT_UNKNOWN ? EntryType::Regular
                                                        : EntryType::Other;
    entry.Special = type == DT_LNK                     ? SpecialType::SymbolicLink
                    : type == DT_FIFO                  ? SpecialType::Fifo
                    : type == DT_SOCK                  ? SpecialType::Socket
                    : type == DT_CHR || type == DT_BLK ? SpecialType::Device
                                                       : SpecialType::Unknown;
    entry.Changed = 0;
}

SpecialType SpecialOf(mode_t mode) {
    if (S_ISLNK(mode)) return SpecialType::SymbolicLink;
    if (S_ISFIFO(mode)) return SpecialType::Fifo;
    if (S_ISSOCK(mode)) return SpecialType::Socket;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return SpecialType::Device;
    return SpecialType::Unknown;
}

} // namespace

namespace posix {

DirBatchCall ReplaceDirBatchCall(DirBatchCall call) {
#ifdef __linux__
    return ReadBatchCall.exchange(call != nullptr ? call : SystemReadBatch);
#else
    (void)call;
    return nullptr; // listed by readdir
#endif
}

} // namespace posix

std::string NativeDirPath(const std::string&, const std::string&) {
    return std::string(); // the text is the name
}

DirResult OpenDirPath(const std::string& path, const std::string&, DirHandle& dir,
                      DirIdentity& id) {
    int fd = -1;
    if (path.empty()) {
        fd = OpenRetrying(AT_FDCWD, ".", DirOpenFlags);
    } else {
        fd = path.size() < PATH_MAX ? OpenRetrying(AT_FDCWD, path.c_str(), DirOpenFlags) : -1;
        if (fd == -1 && (path.size() >= PATH_MAX || errno == ENAMETOOLONG))
            fd = OpenLongPath(path, DirOpenFlags);
    }
    return Finish(fd, dir, id, nullptr);
}

DirResult OpenDirAt(const DirHandle& parent, const std::string& name, std::uint64_t listed,
                    DirHandle& dir, DirIdentity& id) {
#ifdef __linux__
    if (listed != 0 && parent.OneDevice && parent.ListedInodes && parent.Volume != 0) {
        int fd = OpenSameMount(parent, name.c_str());
        if (fd != -1) {
            OpenCount.fetch_add(1, std::memory_order_relaxed);
            dir.Fd = fd;
            dir.Volume = parent.Volume;
            dir.MountRoot = false;
            dir.ListedInodes = true;
            dir.OneDevice = true;
            dir.Unverified = listed;
            dir.DiskBytesKnown = false;
            id = DirIdentity{parent.Volume, listed};
            return DirResult{};
        }
    }
#else
    (void)listed;
#endif
    int fd = OpenRetrying(static_cast<int>(parent.Fd), name.c_str(), DirOpenFlags | O_NOFOLLOW);
    return Finish(fd, dir, id, &parent);
}

void CloseDir(DirHandle& dir) {
    if (dir.Fd != -1) ::close(static_cast<int>(dir.Fd));
    dir.Fd = -1;
}

std::string FaultText(int code) {
    return std::strerror(code);
}

std::string UnreadableText(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
        return "permission denied";
    case ENOENT:
    case ESTALE:
        return "no such file or directory";
    case ENOTDIR:
    case ELOOP:
        return "not a directory";
    default:
        return std::strerror(code);
    }
}

DirResult StartReading(const DirHandle& dir, DirReader& reader) {
    reader.Pos = reader.End = 0;
    reader.SelfDiskBytes = dir.DiskBytes;
    if (reader.MeasureSelf && !dir.DiskBytesKnown) {
        // The blocks du counts for the directory itself, where its open
        // did not tell them; a directory that cannot tell them still lists.
        struct stat st;
        if (::fstat(static_cast<int>(dir.Fd), &st) == 0)
            reader.SelfDiskBytes = static_cast<std::uint64_t>(st.st_blocks) * 512;
    }
#ifdef __linux__
    if (reader.Buffer.size() < ReadBufferSize) reader.Buffer.resize(ReadBufferSize);
    reader.Search = dir.Fd;
    reader.Verify = dir.Unverified;
    if (reader.Rewind && ::lseek(static_cast<int>(dir.Fd), 0, SEEK_SET) == -1) {
        reader.Search = -1;
        return Fault(errno);
    }
#else
    // readdir needs a stream of its own; the descriptor stays the directory's.
    int fd = ::dup(static_cast<int>(dir.Fd));
    DIR* stream = fd == -1 ? nullptr : ::fdopendir(fd);
    if (stream == nullptr) {
        int e = errno;
        if (fd != -1) ::close(fd);
        return Fault(e);
    }
    if (reader.Rewind) ::rewinddir(stream); // the copy shares the position
    reader.Search = reinterpret_cast<std::intptr_t>(stream);
#endif
    return DirResult{};
}

bool ReadEntry(const DirHandle& dir, DirReader& reader, DirEntry& entry, DirResult& result) {
    result = DirResult{};
    if (reader.Search == -1) return false;
    int fd = static_cast<int>(dir.Fd);
    for (;;) {
#ifdef __linux__
        if (reader.Pos >= reader.End) {
            long n = ReadBatch(fd, reader.Buffer.data(), reader.Buffer.size());
            if (n < 0 && errno == EINTR) continue;
            // Any failure of the listing is one, ENOENT too: a directory
            // removed meanwhile, or a network file system that says so
            // midway, may hold more than was read. Only an entry's own
            // metadata saying ENOENT means the entry is gone.
            if (n < 0) result = Fault(errno);
            if (n <= 0) return false;
            reader.Pos = 0;
            reader.End = static_cast<std::size_t>(n);
            // Before the first entry: is this the directory the parent listed?
            if (reader.Verify != 0) {
                result = CheckOwnInode(fd, reader.Buffer.data(), reader.End,
                                       std::exchange(reader.Verify, 0));
                if (result.Fault != DirFault::None) return false;
            }
        }
        const auto* ent = reinterpret_cast<const LinuxDirent64*>(reader.Buffer.data() + reader.Pos);
        reader.Pos += ent->d_reclen;
        const char* name = ent->d_name;
        unsigned char type = ent->d_type;
#else
        errno = 0;
        struct dirent* ent = ::readdir(reinterpret_cast<DIR*>(reader.Search));
        if (ent == nullptr) {
            if (errno != 0) result = Fault(errno);
            return false;
        }
        const char* name = ent->d_name;
        unsigned char type = ent->d_type;
#endif
        if (IsDotOrDotDot(name)) continue;
        entry.Unexamined = DirResult{};
        if (type == DT_DIR && !reader.StatDirectories) {
            FromListing(entry, type, ent->d_ino);
        } else {
            ++reader.Stats;
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                int e = errno;
                if (e == ENOENT) continue; // gone meanwhile
                // A stale handle is no missing directory here: its reason is
                // the system's own.
                DirResult fault = e == ESTALE ? DirResult{DirFault::Unexpected, e} : Fault(e);
                if (fault.Fault == DirFault::Resource) {
                    result = fault;
                    return false;
                }
                // No permission to look (a directory readable but not
                // searchable), a stale handle, a failing disk: the entry is
                // still there, and the rest of the listing with it.
                FromListing(entry, type, ent->d_ino);
                entry.Unexamined = fault;
            } else {
                // Symbolic links are files of their own size; only real
                // directories are walked.
                entry.Attr = S_ISDIR(st.st_mode) ? AttrDirectory : 0;
                entry.Size = static_cast<std::uint64_t>(st.st_size);
                entry.DiskBytes = static_cast<std::uint64_t>(st.st_blocks) * 512;
                entry.Device = static_cast<std::uint64_t>(st.st_dev);
                entry.Inode = static_cast<std::uint64_t>(st.st_ino);
                entry.Links = static_cast<std::uint32_t>(
                    std::min<std::uint64_t>(st.st_nlink, std::uint64_t{0xFFFFFFFF}));
                entry.Type = S_ISDIR(st.st_mode)   ? EntryType::Directory
                             : S_ISREG(st.st_mode) ? EntryType::Regular
                                                   : EntryType::Other;
                entry.Special = SpecialOf(st.st_mode);
                entry.Changed =
                    static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
            }
        }
        entry.Name.assign(name);
        entry.Native.clear();
        ++reader.Entries;
        return true;
    }
}

void StopReading(DirReader& reader) {
    EntryCount.fetch_add(std::exchange(reader.Entries, 0), std::memory_order_relaxed);
    StatCount.fetch_add(std::exchange(reader.Stats, 0), std::memory_order_relaxed);
#ifndef __linux__
    if (reader.Search != -1) ::closedir(reinterpret_cast<DIR*>(reader.Search));
#endif
    reader.Search = -1;
    reader.Verify = 0;
    reader.Pos = reader.End = 0;
}

char PathSeparator() {
    return '/';
}

bool PathsIgnoreCase() {
    return false;
}

SearchCounters SearchCounts() {
    return SearchCounters{OpenCount.load(), EntryCount.load(), StatCount.load(),
                          IdentityCount.load()};
}

} // namespace runtime
