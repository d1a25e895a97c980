// Removal on POSIX, by descriptors. Each level is opened relative to the one
// above it with O_NOFOLLOW and checked by its device and inode (and, where the
// system tells, that it is no mount root) before it is listed; entries are
// removed with unlinkat relative to it, and a level with unlinkat(AT_REMOVEDIR)
// relative to its parent once empty. Only the deepest levels keep their
// descriptors: a level given up is opened again as ".." of the one below it
// and must have the identity it had.
#include "runtime/remove_backend.h"

#include "runtime/posix_support.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif
#include <unistd.h>

namespace runtime::removal {

namespace {

constexpr int DirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsResourceErrno(int e) {
    return e == EMFILE || e == ENFILE || e == ENOMEM;
}

Outcome FromErrno(int e) {
    return Outcome{RemoveReason::System, e, IsResourceErrno(e)};
}

Outcome FromResult(const DirResult& r) {
    if (r.Fault == DirFault::None) return Outcome{};
    // A resource fault carries the neutral I/O code; the errno behind it is
    // the one mapped last on this thread.
    if (r.Fault == DirFault::Resource) return FromErrno(LastMappedErrno);
    return FromErrno(r.Code);
}

int OpenDir(int at, const char* name) {
    for (;;) {
        int fd = ::openat(at, name, DirFlags);
        if (fd != -1 || errno != EINTR) return fd;
    }
}

DirIdentity IdentityOf(const struct stat& st) {
    return DirIdentity{static_cast<std::uint64_t>(st.st_dev),
                       static_cast<std::uint64_t>(st.st_ino)};
}

class PosixBackend final : public Backend {
  public:
    PosixBackend(int parent, std::uint64_t volume, std::uint32_t maxOpen)
        : parent_(parent), volume_(volume), maxOpen_(maxOpen) {}

    ~PosixBackend() override {
        for (Level& l : levels_)
            Close(l);
    }

    Outcome Enter(const Child& child) override {
        if (child.Unexamined != 0) return FromErrno(child.Unexamined);
        // A mount point's own device shows in its parent's listing: not opened.
        if (OtherDevice(child.Identity)) return Outcome{RemoveReason::OtherFileSystem};
        int fd = OpenDir(Current(), child.NativeName().c_str());
        if (fd == -1) {
            int e = errno;
            // A symbolic link now, or no directory any more.
            if (e == ELOOP || e == ENOTDIR) return Outcome{RemoveReason::Replaced, e};
            return FromErrno(e);
        }
        Level level{fd, DirIdentity{}};
        bool mountRoot = false;
        if (!posix::IdentifyDir(fd, level.Id, mountRoot)) {
            int e = errno;
            Close(level);
            return FromErrno(e);
        }
        Outcome o;
        if (mountRoot || OtherDevice(level.Id))
            o = Outcome{RemoveReason::OtherFileSystem};
        else if (!SameIdentity(child.Identity, level.Id))
            o = Outcome{RemoveReason::Replaced};
        if (!o.Ok()) {
            Close(level);
            return o;
        }
        levels_.push_back(level);
        if (levels_.size() > maxOpen_) Close(levels_[levels_.size() - maxOpen_ - 1]);
        return Outcome{};
    }

    Outcome List(std::vector<Child>& entries) override {
        DirHandle dir;
        dir.Fd = Current();
        reader_.StatDirectories = true; // the identities of the subdirectories
        DirResult r = StartReading(dir, reader_);
        if (r.Fault != DirFault::None) return FromResult(r);
        DirEntry e;
        while (ReadEntry(dir, reader_, e, r)) {
            Child c;
            c.Name = e.Name;
            c.Directory = e.Type == EntryType::Directory;
            c.Identity = DirIdentity{e.Device, e.Inode};
            c.Size = e.Size;
            c.DiskBytes = e.DiskBytes;
            if (e.Unexamined.Fault != DirFault::None) c.Unexamined = e.Unexamined.Code;
            entries.push_back(std::move(c));
        }
        StopReading(reader_);
        return FromResult(r);
    }

    Outcome Remove(Child& child, bool target) override {
        const char* name = child.NativeName().c_str();
        if (target) {
            struct stat st;
            if (::fstatat(Current(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
            // A directory now: it is removed only as one, after its own checks.
            if (S_ISDIR(st.st_mode)) return Outcome{RemoveReason::Replaced, EISDIR};
            if (child.Identity.File != 0 && !SameIdentity(child.Identity, IdentityOf(st)))
                return Outcome{RemoveReason::Replaced};
            child.Size = static_cast<std::uint64_t>(st.st_size);
            child.DiskBytes = static_cast<std::uint64_t>(st.st_blocks) * 512;
        }
        if (::unlinkat(Current(), name, 0) != 0) return FromErrno(errno);
        return Outcome{};
    }

    Outcome Leave(const Child& self, bool remove) override {
        Level me = levels_.back();
        levels_.pop_back();
        // The parent stays the current level: open it again if it was given up.
        Outcome o = Reopen(me.Fd);
        if (o.Ok() && remove) o = RemoveLevel(self.NativeName().c_str(), me.Id);
        Close(me);
        return o;
    }

  private:
    struct Level {
        int Fd = -1;
        DirIdentity Id;
    };

    int parent_; // the caller's, never closed here
    std::uint64_t volume_;
    std::size_t maxOpen_;
    std::vector<Level> levels_; // below the parent, the current level last
    DirReader reader_;

    int Current() const { return levels_.empty() ? parent_ : levels_.back().Fd; }

    bool OtherDevice(const DirIdentity& id) const {
        return volume_ != 0 && id.Volume != 0 && id.Volume != volume_;
    }

    static void Close(Level& l) {
        if (l.Fd != -1) ::close(l.Fd);
        l.Fd = -1;
    }

    // Removes the emptied directory `name` of the current level, if it is still
    // the one that was entered.
    Outcome RemoveLevel(const char* name, const DirIdentity& id) const {
        struct stat st;
        if (::fstatat(Current(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
        if (!S_ISDIR(st.st_mode) || !SameIdentity(id, IdentityOf(st)))
            return Outcome{RemoveReason::Replaced};
        if (::unlinkat(Current(), name, AT_REMOVEDIR) != 0) return FromErrno(errno);
        return Outcome{};
    }

    // Opens the current level again as ".." of `child`, if it was given up;
    // another directory there means the tree was moved meanwhile: stop.
    Outcome Reopen(int child) {
        if (levels_.empty() || levels_.back().Fd != -1) return Outcome{};
        Level& level = levels_.back();
        int fd = OpenDir(child, "..");
        if (fd == -1) {
            int e = errno;
            if (IsResourceErrno(e)) return FromErrno(e);
            return Outcome{RemoveReason::Replaced, e, true};
        }
        DirIdentity id;
        bool mountRoot = false;
        if (!posix::IdentifyDir(fd, id, mountRoot) || !(id == level.Id)) {
            ::close(fd);
            return Outcome{RemoveReason::Replaced, 0, true};
        }
        level.Fd = fd;
        return Outcome{};
    }
};

} // namespace

std::unique_ptr<Backend> NewBackend(const DirHandle& parent, std::uint64_t volume,
                                    std::uint32_t maxOpen) {
    return std::make_unique<PosixBackend>(static_cast<int>(parent.Fd), volume, maxOpen);
}

bool IsEntryName(const std::string& native) {
    return !native.empty() && native != "." && native != ".." &&
           native.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::string SystemText(int code) {
    return std::strerror(code);
}

} // namespace runtime::removal
