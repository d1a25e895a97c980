// Removal on Windows, by handles opened on the full \\?\ path of each entry
// with FILE_FLAG_OPEN_REPARSE_POINT: a junction, directory symbolic link or
// mount point opens as itself and is removed as itself, never through. Each
// handle is checked before anything is done through it: a directory must be
// no reparse point and have the volume serial and file id it was recorded
// with, any other entry the file id its verified parent's listing gave (so a
// path that leads elsewhere since, through a directory swapped for a link
// above it, removes nothing). Removal is the delete disposition set on that
// handle. A read-only entry goes too, as a Windows user expects after
// confirming the delete: its read-only attribute is cleared first on the same
// handle, and set again if the entry cannot be removed.
#include "runtime/remove_backend.h"

#include "runtime/win32_support.h"

#include <cwchar>

namespace runtime::removal {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD OpenAsItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

bool IsResourceError(DWORD e) {
    return e == ERROR_NOT_ENOUGH_MEMORY || e == ERROR_OUTOFMEMORY ||
           e == ERROR_TOO_MANY_OPEN_FILES || e == ERROR_NO_SYSTEM_RESOURCES;
}

Outcome FromError(DWORD e) {
    return Outcome{RemoveReason::System, static_cast<int>(e), IsResourceError(e)};
}

Outcome FromResult(const DirResult& r) {
    if (r.Fault == DirFault::None) return Outcome{};
    if (r.Fault == DirFault::Resource)
        return Outcome{RemoveReason::System, ERROR_OUTOFMEMORY, true};
    return Outcome{RemoveReason::System, r.Code};
}

// What a handle shows of what it was opened on.
struct Found {
    DWORD Attr = 0;
    DirIdentity Id;
    bool RealDirectory() const {
        return (Attr & FILE_ATTRIBUTE_DIRECTORY) != 0 && (Attr & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    }
};

bool Examine(HANDLE h, Found& found) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info)) return false;
    found.Attr = info.dwFileAttributes;
    found.Id = DirIdentity{info.dwVolumeSerialNumber,
                           (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return true;
}

// Opens an entry as itself for its removal; without the right to change its
// attributes where that is refused (a read-only one then stays).
HANDLE OpenForDelete(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(),
                             DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                             ShareAll, nullptr, OPEN_EXISTING, OpenAsItself, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        h = ::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, ShareAll,
                          nullptr, OPEN_EXISTING, OpenAsItself, nullptr);
    return h;
}

bool SetAttributes(HANDLE h, DWORD attr) {
    FILE_BASIC_INFO basic{}; // times of zero are left as they are
    basic.FileAttributes = attr != 0 ? attr : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks the entry behind `h` for deletion; it goes when the handle is closed.
Outcome Dispose(HANDLE h, DWORD attr) {
    constexpr DWORD Settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                               FILE_ATTRIBUTE_OFFLINE;
    bool cleared = (attr & FILE_ATTRIBUTE_READONLY) != 0 &&
                   SetAttributes(h, attr & Settable & ~DWORD{FILE_ATTRIBUTE_READONLY});
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition))
        return Outcome{};
    DWORD e = ::GetLastError();
    if (cleared) SetAttributes(h, attr & Settable);
    return FromError(e);
}

class Win32Backend final : public Backend {
  public:
    Win32Backend(const DirHandle& parent, std::uint64_t volume)
        : path_(win32::WideFromNative(parent.Path)), volume_(volume) {
        if (!path_.empty() && path_.back() != L'\\') path_ += L'\\';
    }

    // Only a parent's full \\?\ path is used: never one the system would
    // resolve relative to the current directory.
    bool Usable() const { return path_.starts_with(L"\\\\?\\"); }

    ~Win32Backend() override { CloseListing(); }

    Outcome Enter(const Child& child) override {
        if (!Usable()) return FromError(ERROR_INVALID_HANDLE);
        std::wstring full = path_ + win32::WideFromNative(child.NativeName());
        HANDLE h =
            ::CreateFileW(full.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                          ShareAll, nullptr, OPEN_EXISTING, OpenAsItself, nullptr);
        if (h == INVALID_HANDLE_VALUE) return FromError(::GetLastError());
        Found found;
        Outcome o;
        if (!Examine(h, found))
            o = FromError(::GetLastError());
        else if (!found.RealDirectory()) // a link or a file now
            o = Outcome{RemoveReason::Replaced};
        else if (volume_ != 0 && found.Id.Volume != volume_)
            o = Outcome{RemoveReason::OtherFileSystem};
        else if (!Matches(child.Identity, found.Id))
            o = Outcome{RemoveReason::Replaced};
        if (!o.Ok()) {
            ::CloseHandle(h);
            return o;
        }
        CloseListing();
        listing_ = h;
        marks_.push_back(path_.size());
        ids_.push_back(found.Id);
        path_ = full + L'\\';
        return Outcome{};
    }

    Outcome List(std::vector<Child>& entries) override {
        DirHandle dir;
        dir.Fd = reinterpret_cast<std::intptr_t>(listing_);
        dir.Path = win32::NativeBytes(path_);
        dir.Volume = ids_.empty() ? volume_ : ids_.back().Volume;
        DirReader reader;
        DirResult r = StartReading(dir, reader);
        DirEntry e;
        while (r.Fault == DirFault::None && ReadEntry(dir, reader, e, r)) {
            Child c;
            c.Name = e.Name;
            c.Native = e.Native;
            c.Directory = e.Type == EntryType::Directory && (e.Attr & AttrReparsePoint) == 0;
            c.Identity = DirIdentity{e.Device, e.Inode};
            c.Size = e.Size;
            c.DiskBytes = e.DiskBytes;
            entries.push_back(std::move(c));
        }
        StopReading(reader);
        CloseListing();
        return FromResult(r);
    }

    Outcome Remove(Child& child, bool target) override {
        if (!Usable()) return FromError(ERROR_INVALID_HANDLE);
        std::wstring full = path_ + win32::WideFromNative(child.NativeName());
        HANDLE h = OpenForDelete(full);
        if (h == INVALID_HANDLE_VALUE) return FromError(::GetLastError());
        Found found;
        Outcome o;
        if (!Examine(h, found))
            o = FromError(::GetLastError());
        else if (found.RealDirectory()) // removed only as a directory, after its own checks
            o = Outcome{RemoveReason::Replaced};
        else if (!Matches(child.Identity, found.Id))
            o = Outcome{RemoveReason::Replaced};
        if (o.Ok() && target) {
            FILE_STANDARD_INFO standard{};
            if (::GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard)) {
                child.Size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
                child.DiskBytes = static_cast<std::uint64_t>(standard.AllocationSize.QuadPart);
            }
        }
        if (o.Ok()) o = Dispose(h, found.Attr);
        ::CloseHandle(h);
        return o;
    }

    Outcome Leave(const Child&, bool remove) override {
        CloseListing();
        std::wstring self = path_.substr(0, path_.size() - 1);
        DirIdentity id = ids_.back();
        path_.resize(marks_.back());
        marks_.pop_back();
        ids_.pop_back();
        if (!remove) return Outcome{};
        HANDLE h = OpenForDelete(self);
        if (h == INVALID_HANDLE_VALUE) return FromError(::GetLastError());
        Found found;
        Outcome o;
        if (!Examine(h, found))
            o = FromError(::GetLastError());
        else if (!found.RealDirectory() || !(found.Id == id))
            o = Outcome{RemoveReason::Replaced};
        else
            o = Dispose(h, found.Attr);
        ::CloseHandle(h);
        return o;
    }

  private:
    std::wstring path_; // the current level's, with a final separator
    std::uint64_t volume_;
    std::vector<std::size_t> marks_; // the length of path_ before each level's name
    std::vector<DirIdentity> ids_;   // each level's identity as entered
    HANDLE listing_ = INVALID_HANDLE_VALUE;

    // An identity not told (a listing by path gives no file ids) checks nothing.
    static bool Matches(const DirIdentity& recorded, const DirIdentity& found) {
        return recorded.File == 0 || SameIdentity(recorded, found);
    }

    void CloseListing() {
        if (listing_ != INVALID_HANDLE_VALUE) ::CloseHandle(listing_);
        listing_ = INVALID_HANDLE_VALUE;
    }
};

} // namespace

std::unique_ptr<Backend> NewBackend(const DirHandle& parent, std::uint64_t volume, std::uint32_t) {
    return std::make_unique<Win32Backend>(parent, volume);
}

bool IsEntryName(const std::string& native) {
    if (native.size() % sizeof(wchar_t) != 0) return false;
    std::wstring name = win32::WideFromNative(native);
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
}

std::string SystemText(int code) {
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = n != 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    if (text != nullptr) ::LocalFree(text);
    // The message's line end and final full stop go.
    while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' ||
                              words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    if (words.empty()) return "system error " + std::to_string(code);
    return win32::OemFromWide(words);
}

} // namespace runtime::removal
