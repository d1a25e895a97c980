// Win32 implementation of the directory search (dirsearch.h) on UTF-16 names.
// An open directory is its absolute \\?\ path, built from the names its
// parents' searches returned, so no length limit applies and no trailing dot
// or blank is dropped. Its entries come from FindFirstFileExW and
// FindNextFileW over "<dir>*", which lets every entry through (hidden, system
// and directories alike). Each entry's name is kept as the search returned it
// (Native, UTF-16) and converted to the OEM code page for the report (Name).
// All state is in the caller's handle and reader, so threads search at once.
#include "runtime/dirsearch.h"

#include "runtime/win32_support.h"

#include <atomic>
#include <utility>

namespace runtime {

namespace {

std::atomic<std::uint64_t> OpenCount{0};
std::atomic<std::uint64_t> EntryCount{0}; // the find data carries every field: no stats

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

// Identifies a directory; false when there is no directory of that name.
bool IdentifyDir(std::wstring dir, DirIdentity& id) {
    // A directory is opened without its final separator; a drive root keeps it.
    if (dir.size() > 1 && dir.back() == L'\\' && dir[dir.size() - 2] != L':') dir.pop_back();
    HANDLE h = ::CreateFileW(dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = ::GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_DIRECTORY ||
            e == ERROR_INVALID_NAME || e == ERROR_BAD_PATHNAME)
            return false;
    } else {
        BY_HANDLE_FILE_INFORMATION info;
        bool ok = ::GetFileInformationByHandle(h, &info) != FALSE;
        ::CloseHandle(h);
        if (ok && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
        if (ok && (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0)) {
            id.Volume = info.dwVolumeSerialNumber;
            id.File = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
            return true;
        }
    }
    // Not identified (no permission to open it, say): its search decides.
    // The unknown identity is the same on every call, so a reopened level is
    // not taken for another directory.
    id = DirIdentity{};
    return true;
}

DirResult OpenNative(std::string path, DirHandle& dir, DirIdentity& id) {
    dir.Fd = -1;
    dir.Path.clear();
    if (!IdentifyDir(win32::WideFromNative(path), id))
        return DirResult{DirFault::Unreadable, ERROR_PATH_NOT_FOUND};
    dir.Path = std::move(path);
    OpenCount.fetch_add(1, std::memory_order_relaxed);
    return DirResult{};
}

} // namespace

std::string NativeDirPath(const std::string& dir, const std::string& native) {
    std::wstring path = native.empty() ? win32::WideFromOem(dir) : win32::WideFromNative(native);
    // The separator goes on first, as the search of the text path adds it:
    // "C:" names the drive's root.
    if (!path.empty() && !path.ends_with(L'\\') && !path.ends_with(L'/')) path += L'\\';
    path = win32::LongPath(path);
    if (!path.ends_with(L'\\')) path += L'\\';
    return win32::NativeBytes(path);
}

DirResult OpenDirPath(const std::string& path, const std::string& native, DirHandle& dir,
                      DirIdentity& id) {
    return OpenNative(NativeDirPath(path, native), dir, id);
}

DirResult OpenDirAt(const DirHandle& parent, const std::string& name, DirHandle& dir,
                    DirIdentity& id) {
    return OpenNative(parent.Path + name + win32::NativeBytes(L"\\"), dir, id);
}

void CloseDir(DirHandle& dir) {
    dir.Path.clear();
    dir.Fd = -1;
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
    if (!dir.IsOpen()) return DirResult{DirFault::Unreadable, ERROR_PATH_NOT_FOUND};
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
    reader.Pending = true;
    return DirResult{};
}

bool ReadEntry(const DirHandle&, DirReader& reader, DirEntry& entry, DirResult& result) {
    result = DirResult{};
    if (reader.Search == -1) return false;
    WIN32_FIND_DATAW& data = FindData(reader);
    for (;;) {
        if (reader.Pending) {
            reader.Pending = false;
        } else if (!::FindNextFileW(ToHandle(reader.Search), &data)) {
            return false;
        }
        std::wstring_view name(data.cFileName);
        if (name == L"." || name == L"..") continue;
        entry.Native = win32::NativeBytes(name);
        entry.Name = win32::OemFromWide(name);
        entry.Attr = data.dwFileAttributes;
        entry.Size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        entry.DiskBytes = entry.Size;
        entry.Device = 0; // the search does not tell
        entry.Inode = 0;
        entry.Links = 1;
        if ((entry.Attr & FILE_ATTRIBUTE_DIRECTORY) != 0)
            entry.Type = EntryType::Directory;
        else if ((entry.Attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            entry.Type = EntryType::Other;
        else
            entry.Type = EntryType::Regular;
        ++reader.Entries;
        return true;
    }
}

void StopReading(DirReader& reader) {
    EntryCount.fetch_add(std::exchange(reader.Entries, 0), std::memory_order_relaxed);
    if (reader.Search != -1) ::FindClose(ToHandle(reader.Search));
    reader.Search = -1;
    reader.Pending = false;
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
