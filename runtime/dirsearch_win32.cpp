// Win32 implementation of the directory search (dirsearch.h) on UTF-16 names.
// An open directory is its absolute \\?\ path, built from the names its
// parents' listings returned, so no length limit applies and no trailing dot
// or blank is dropped, and a handle opened on that path once. The handle
// gives the directory's identity and its entries: names, attributes, sizes
// and file ids in 64 KiB batches (GetFileInformationByHandleEx). A directory
// below another shares its volume, so its identity costs no volume query;
// only one reached through a link (a reparse point) is asked for its own.
// Where a file system refuses the listing call (some shares, FAT), that
// directory is searched by its path instead (FindFirstFileExW over
// "<dir>*"). Each entry's name is kept as the system returned it (Native,
// UTF-16) and converted to the OEM code page for the report (Name). All state
// is in the caller's handle and reader, so threads list at once.
#include "runtime/dirsearch.h"

#include "runtime/win32_support.h"

#include <winternl.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <utility>

namespace runtime {

namespace {

std::atomic<std::uint64_t> OpenCount{0};
std::atomic<std::uint64_t> EntryCount{0}; // the listing carries every field: no stats
std::atomic<bool> SearchOnly{false};

constexpr std::size_t ListBytes = std::size_t{64} * 1024;
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE ToHandle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

WIN32_FIND_DATAW& FindData(DirReader& reader) {
    if (reader.Buffer.size() < sizeof(WIN32_FIND_DATAW))
        reader.Buffer.resize(sizeof(WIN32_FIND_DATAW));
    return *reinterpret_cast<WIN32_FIND_DATAW*>(reader.Buffer.data());
}

bool IsResourceError(DWORD e) {
    return e == ERROR_NOT_ENOUGH_MEMORY || e == ERROR_OUTOFMEMORY ||
           e == ERROR_TOO_MANY_OPEN_FILES || e == ERROR_NO_SYSTEM_RESOURCES;
}

bool IsMissing(DWORD e) {
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_DIRECTORY ||
           e == ERROR_INVALID_NAME || e == ERROR_BAD_PATHNAME;
}

// A failure of the listing call that means "not here": the directory is
// searched by its path instead.
bool IsRefused(DWORD e) {
    return e == ERROR_INVALID_PARAMETER || e == ERROR_INVALID_LEVEL || e == ERROR_NOT_SUPPORTED ||
           e == ERROR_INVALID_FUNCTION || e == ERROR_CALL_NOT_IMPLEMENTED;
}

// A listing's failure after it started: never a quiet end.
DirResult ListingFault(DWORD e) {
    if (IsResourceError(e)) return DirResult{DirFault::Resource, Win32IoError(e)};
    return DirResult{DirFault::Unexpected, static_cast<int>(e)};
}

// The listing and query calls, looked up once: the first is absent before
// Windows Vista, the second is the system's own.
using ListFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
using QueryFn = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, PVOID, ULONG, FILE_INFORMATION_CLASS);

template <typename Fn> Fn Lookup(const wchar_t* module, const char* name) {
    HMODULE m = ::GetModuleHandleW(module);
    FARPROC p = m == nullptr ? nullptr : ::GetProcAddress(m, name);
    Fn fn;
    static_assert(sizeof fn == sizeof p);
    std::memcpy(&fn, &p, sizeof fn);
    return fn;
}

std::atomic<ListFn> ListReplaced{nullptr};

ListFn ListCall() {
    static const ListFn fn = Lookup<ListFn>(L"kernel32.dll", "GetFileInformationByHandleEx");
    ListFn replaced = ListReplaced.load(std::memory_order_relaxed);
    return replaced != nullptr ? replaced : fn;
}

QueryFn QueryCall() {
    static const QueryFn fn = Lookup<QueryFn>(L"ntdll.dll", "NtQueryInformationFile");
    return fn;
}

std::wstring WithoutSeparator(std::wstring dir) {
    // A directory is opened without its final separator; a drive root keeps it.
    if (dir.size() > 1 && dir.back() == L'\\' && dir[dir.size() - 2] != L':') dir.pop_back();
    return dir;
}

// The identity of the directory behind `h`, volume serial included.
bool IdentifyHandle(HANDLE h, DirIdentity& id, bool& isDir) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info)) return false;
    isDir = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0) return false;
    id.Volume = info.dwVolumeSerialNumber;
    id.File = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

// A directory that cannot be identified has the zero identity, the same on
// every call, so a reopened level is not taken for another directory.
void UnknownIdentity(DirIdentity& id) {
    id = DirIdentity{};
}

// For a directory that cannot be opened for listing: identified by an open
// without access rights; false when there is no such directory.
bool IdentifyByPath(const std::wstring& dir, DirIdentity& id) {
    HANDLE h = ::CreateFileW(dir.c_str(), 0, ShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (IsMissing(::GetLastError())) return false;
    } else {
        bool isDir = true;
        bool ok = IdentifyHandle(h, id, isDir);
        ::CloseHandle(h);
        if (!isDir) return false;
        if (ok) return true;
    }
    UnknownIdentity(id); // not identified (no permission to open it, say): its search decides
    return true;
}

// The file id of an open directory, or 0.
std::uint64_t FileIndex(HANDLE h) {
    QueryFn query = QueryCall();
    if (query == nullptr) return 0;
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER index{};
    if (query(h, &io, &index, sizeof index, FileInternalInformation) != 0) return 0;
    return static_cast<std::uint64_t>(index.QuadPart);
}

// Opens the directory at `path` (opaque UTF-16 bytes ending in a separator)
// once. `volume` is its parent's volume, or 0 for a start directory, whose
// volume is asked for.
DirResult OpenNative(std::string path, std::uint64_t volume, DirHandle& dir, DirIdentity& id) {
    dir = DirHandle{};
    std::wstring wide = WithoutSeparator(win32::WideFromNative(path));
    OpenCount.fetch_add(1, std::memory_order_relaxed);
    // Below a known volume the link itself is opened first: a directory that
    // is no link shares its parent's volume and needs only its file id.
    bool below = volume != 0 && ListCall() != nullptr;
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (below ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = ::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, ShareAll, nullptr,
                             OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = ::GetLastError();
        if (IsResourceError(e)) return DirResult{DirFault::Resource, Win32IoError(e)};
        if (IsMissing(e)) return DirResult{DirFault::Unreadable, static_cast<int>(e)};
        // Not open for listing: searched by its path, which decides.
        if (!IdentifyByPath(wide, id)) return DirResult{DirFault::Unreadable, ERROR_PATH_NOT_FOUND};
        dir.Path = std::move(path);
        dir.Volume = id.Volume;
        return DirResult{};
    }
    bool known = false;
    bool isDir = true;
    if (below) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (ListCall()(h, FileAttributeTagInfo, &tag, sizeof tag)) {
            isDir = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isDir && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                // A link: what it leads to is listed, and identified on its own.
                ::CloseHandle(h);
                OpenCount.fetch_add(1, std::memory_order_relaxed);
                h = ::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE, ShareAll,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
                if (h == INVALID_HANDLE_VALUE) {
                    DWORD e = ::GetLastError();
                    if (IsResourceError(e)) return DirResult{DirFault::Resource, Win32IoError(e)};
                    return DirResult{DirFault::Unreadable, static_cast<int>(e)};
                }
                dir.MountRoot = true; // the listing gave the link's own file id
            } else if (isDir) {
                id.File = FileIndex(h);
                id.Volume = volume;
                known = id.File != 0;
            }
        }
    }
    if (isDir && !known) {
        known = IdentifyHandle(h, id, isDir);
        if (!known) UnknownIdentity(id);
    }
    if (!isDir) {
        ::CloseHandle(h);
        return DirResult{DirFault::Unreadable, ERROR_DIRECTORY};
    }
    dir.Fd = reinterpret_cast<std::intptr_t>(h);
    dir.Path = std::move(path);
    dir.Volume = id.Volume;
    return DirResult{};
}

DirResult StartSearch(const DirHandle& dir, DirReader& reader) {
    WIN32_FIND_DATAW& data = FindData(reader);
    std::wstring pattern = win32::WideFromNative(dir.Path) + L"*";
    HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                  nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER)
        h = ::FindFirstFileW(pattern.c_str(), &data); // systems before Windows 7
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = ::GetLastError();
        if (IsResourceError(e)) return DirResult{DirFault::Resource, Win32IoError(e)};
        return DirResult{DirFault::Unreadable, static_cast<int>(e)};
    }
    reader.Search = reinterpret_cast<std::intptr_t>(h);
    reader.Searching = true;
    reader.Pending = true;
    return DirResult{};
}

// Fills the reader's buffer with the next batch of the listing; false at its
// end or on a fault, which is then in `result`.
bool NextBatch(DirReader& reader, bool first, DirResult& result) {
    if (reader.Buffer.size() < ListBytes) reader.Buffer.resize(ListBytes);
    reader.Pos = reader.End = 0;
    if (ListCall()(ToHandle(reader.Search),
                   first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                   reader.Buffer.data(), static_cast<DWORD>(ListBytes))) {
        reader.End = ListBytes;
        return true;
    }
    DWORD e = ::GetLastError();
    // A first batch finds nothing at all in a directory without "." and ".."
    // (an empty drive root on FAT): that is an empty listing.
    if (e != ERROR_NO_MORE_FILES && !(first && e == ERROR_FILE_NOT_FOUND)) result = ListingFault(e);
    return false;
}

// Whether a directory entry with these attributes and reparse tag is a link
// to another directory. A reparse tag that is a name surrogate (junction,
// volume mount point, symbolic link) stands for another directory; others
// (cloud files, for one) are the directory itself. Tag 0 is a system that
// does not tell the tag (Wine shows a host symbolic link so): a link.
bool IsDirectoryLink(std::uint32_t attr, std::uint32_t tag) {
    constexpr std::uint32_t NameSurrogate = 0x20000000;
    return (attr & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (tag == 0 || (tag & NameSurrogate) != 0);
}

// What a file takes on disk: its allocation, and nothing when its data is
// elsewhere (offline storage, a cloud placeholder).
std::uint64_t DiskBytesOf(std::uint32_t attr, std::uint64_t allocation) {
    constexpr std::uint32_t RecallOnDataAccess = 0x00400000;
    if ((attr & (FILE_ATTRIBUTE_OFFLINE | RecallOnDataAccess)) != 0) return 0;
    return allocation;
}

// The fields a listing gives; `tag` is the reparse tag (0 when none or not told).
struct Listed {
    std::uint32_t Attr;
    std::uint32_t Tag;
    std::uint64_t Size;
    std::uint64_t Allocation;
    std::uint64_t File;   // 0 when unknown
    std::int64_t Changed; // 100 ns since 1601; 0 when unknown
};

// 100 ns since 1601 as nanoseconds since 1970; 0 stays unknown.
std::int64_t UnixNanos(std::int64_t fileTime) {
    constexpr std::int64_t From1601 = 116444736000000000; // 1970 - 1601 in 100 ns
    if (fileTime <= From1601) return 0;
    return (fileTime - From1601) * 100;
}

void Fill(DirEntry& entry, std::wstring_view name, const Listed& l, std::uint64_t volume) {
    entry.Native = win32::NativeBytes(name);
    entry.Name = win32::OemFromWide(name);
    entry.Attr = l.Attr;
    entry.Size = l.Size;
    entry.DiskBytes = DiskBytesOf(l.Attr, l.Allocation);
    entry.Device = volume;
    entry.Inode = l.File;
    // The listing gives no link count: with a file id each file is counted
    // once by it, without one (the search by path) every name counts.
    entry.Links = l.File != 0 ? 0 : 1;
    entry.Link = IsDirectoryLink(l.Attr, l.Tag);
    entry.Type = (l.Attr & FILE_ATTRIBUTE_DIRECTORY) != 0       ? EntryType::Directory
                 : (l.Attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryType::Other
                                                                : EntryType::Regular;
    entry.Special =
        entry.Type == EntryType::Other ? SpecialType::SymbolicLink : SpecialType::Unknown;
    entry.Changed = UnixNanos(l.Changed);
}

bool IsDots(std::wstring_view name) {
    return name == L"." || name == L"..";
}

bool ReadSearch(const DirHandle& dir, DirReader& reader, DirEntry& entry, DirResult& result) {
    WIN32_FIND_DATAW& data = FindData(reader);
    for (;;) {
        if (reader.Pending) {
            reader.Pending = false;
        } else if (!::FindNextFileW(ToHandle(reader.Search), &data)) {
            DWORD e = ::GetLastError();
            if (e != ERROR_NO_MORE_FILES) result = ListingFault(e);
            return false;
        }
        std::wstring_view name(data.cFileName);
        if (IsDots(name)) continue;
        // The search tells no allocation: a file's disk usage is its size.
        std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        Fill(entry, name,
             Listed{data.dwFileAttributes, reparse ? data.dwReserved0 : 0, size, size, 0, 0},
             dir.Volume);
        return true;
    }
}

} // namespace

namespace win32 {

void UseSearchOnly(bool on) {
    SearchOnly.store(on);
}

void ReplaceListCall(ListDirCall call) {
    ListReplaced.store(call);
}

} // namespace win32

std::string NativeDirPath(const std::string& dir, const std::string& native) {
    std::wstring path = native.empty() ? win32::WideFromOem(dir) : win32::WideFromNative(native);
    // The separator goes on first, as the search of the text path adds it;
    // not to a drive alone: "D:" is D's current directory, "D:\" its root.
    if (!path.empty() && !path.ends_with(L'\\') && !path.ends_with(L'/') &&
        !win32::IsBareDrive(path))
        path += L'\\';
    path = win32::TypedLongPath(path);
    if (!path.ends_with(L'\\')) path += L'\\';
    return win32::NativeBytes(path);
}

DirResult OpenDirPath(const std::string& path, const std::string& native, DirHandle& dir,
                      DirIdentity& id) {
    return OpenNative(NativeDirPath(path, native), 0, dir, id);
}

DirResult OpenDirAt(const DirHandle& parent, const std::string& name, std::uint64_t, DirHandle& dir,
                    DirIdentity& id) {
    // Below a directory that could not be identified (volume 0), each one is
    // asked for its own.
    return OpenNative(parent.Path + name + win32::NativeBytes(L"\\"), parent.Volume, dir, id);
}

void CloseDir(DirHandle& dir) {
    if (dir.Fd != -1) ::CloseHandle(ToHandle(dir.Fd));
    dir = DirHandle{};
}

std::string FaultText(int code) {
    return "system error " + std::to_string(code);
}

std::string UnreadableText(int code) {
    switch (code) {
    case ERROR_ACCESS_DENIED:
        return "permission denied";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such file or directory";
    case ERROR_DIRECTORY:
        return "not a directory";
    default:
        return FaultText(code);
    }
}

DirResult StartReading(const DirHandle& dir, DirReader& reader) {
    reader.Search = -1;
    reader.Pending = false;
    reader.Searching = false;
    reader.Pos = reader.End = 0;
    reader.SelfDiskBytes = 0;
    if (!dir.IsOpen()) return DirResult{DirFault::Unreadable, ERROR_PATH_NOT_FOUND};
    // The listings give a directory's own allocation as 0: its handle tells
    // it (the index the file system keeps for it).
    FILE_STANDARD_INFO standard;
    if (reader.MeasureSelf && dir.Fd != -1 && ListCall() != nullptr &&
        ListCall()(ToHandle(dir.Fd), FileStandardInfo, &standard, sizeof standard))
        reader.SelfDiskBytes = static_cast<std::uint64_t>(standard.AllocationSize.QuadPart);
    if (dir.Fd == -1 || ListCall() == nullptr || SearchOnly.load(std::memory_order_relaxed))
        return StartSearch(dir, reader);
    reader.Search = dir.Fd; // borrowed: the handle is the directory's
    DirResult result;
    if (NextBatch(reader, true, result)) return result;
    reader.Search = -1;
    if (result.Fault == DirFault::None) return result; // nothing at all, not even "."
    if (result.Fault == DirFault::Unexpected && IsRefused(static_cast<DWORD>(result.Code)))
        return StartSearch(dir, reader);
    if (result.Code == ERROR_ACCESS_DENIED) result.Fault = DirFault::Unreadable;
    return result;
}

bool ReadEntry(const DirHandle& dir, DirReader& reader, DirEntry& entry, DirResult& result) {
    result = DirResult{};
    if (reader.Search == -1) return false;
    if (reader.Searching) {
        if (!ReadSearch(dir, reader, entry, result)) return false;
        ++reader.Entries;
        return true;
    }
    for (;;) {
        if (reader.Pos >= reader.End) {
            if (!NextBatch(reader, false, result)) {
                reader.Search = -1;
                return false;
            }
        }
        FILE_ID_BOTH_DIR_INFO info;
        const char* at = reader.Buffer.data() + reader.Pos;
        constexpr std::size_t head = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
        std::memcpy(&info, at, head);
        std::size_t chars = info.FileNameLength / sizeof(wchar_t);
        if (head + info.FileNameLength > ListBytes - reader.Pos) {
            result = DirResult{DirFault::Unexpected, ERROR_INVALID_DATA};
            reader.Search = -1;
            return false;
        }
        std::wstring name(chars, L'\0');
        std::memcpy(name.data(), at + head, chars * sizeof(wchar_t));
        std::size_t next = info.NextEntryOffset;
        reader.Pos = next == 0 || next > reader.End - reader.Pos ? reader.End : reader.Pos + next;
        if (IsDots(name)) continue;
        // A reparse point's tag is where the extended attributes' size would be.
        bool reparse = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        Fill(entry, name,
             Listed{info.FileAttributes, reparse ? info.EaSize : 0,
                    static_cast<std::uint64_t>(info.EndOfFile.QuadPart),
                    static_cast<std::uint64_t>(info.AllocationSize.QuadPart),
                    static_cast<std::uint64_t>(info.FileId.QuadPart),
                    static_cast<std::int64_t>(info.ChangeTime.QuadPart)},
             dir.Volume);
        ++reader.Entries;
        return true;
    }
}

void StopReading(DirReader& reader) {
    EntryCount.fetch_add(std::exchange(reader.Entries, 0), std::memory_order_relaxed);
    if (reader.Search != -1 && reader.Searching) ::FindClose(ToHandle(reader.Search));
    reader.Search = -1;
    reader.Searching = false;
    reader.Pending = false;
    reader.Pos = reader.End = 0;
}

SearchCounters SearchCounts() {
    return SearchCounters{OpenCount.load(), EntryCount.load(), 0};
}

char PathSeparator() {
    return '\\';
}

bool PathsIgnoreCase() {
    return true;
}

} // namespace runtime
