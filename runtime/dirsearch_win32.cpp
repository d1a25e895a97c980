// Win32 implementation of the directory search (dirsearch.h): an open
// directory is the path its entries are searched under, and its entries come
// from FindFirstFileExA and FindNextFileA over "<dir>*.*", which lets every
// entry through (hidden, system and directories alike).
#include "dirsearch.h"

#include <windows.h> // NOMINMAX and WIN32_LEAN_AND_MEAN come from the build

#include <atomic>

namespace rtl {

namespace {

// Identities handed out for directories that cannot be identified: each one
// differs from every other, so the walk's cycle guard never takes two such
// directories for the same one.
std::atomic<std::uint64_t> UnknownCount{0};
constexpr std::uint64_t UnknownVolume = ~std::uint64_t{0};

std::atomic<std::uint64_t> OpenCount{0};
std::atomic<std::uint64_t> EntryCount{0}; // the find data carries every field: no stats

HANDLE ToHandle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

WIN32_FIND_DATAA& FindData(DirReader& reader) {
    if (reader.Buffer.size() < sizeof(WIN32_FIND_DATAA))
        reader.Buffer.resize(sizeof(WIN32_FIND_DATAA));
    return *reinterpret_cast<WIN32_FIND_DATAA*>(reader.Buffer.data());
}

// Identifies a directory; false when there is no directory of that name.
bool IdentifyDir(const std::string& dir, DirIdentity& id) {
    HANDLE h = ::CreateFileA(dir.empty() ? "." : dir.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
    id.Volume = UnknownVolume;
    id.File = UnknownCount.fetch_add(1) + 1;
    return true;
}

DirResult OpenPath(const std::string& path, DirHandle& dir, DirIdentity& id) {
    dir.Fd = -1;
    dir.Path.clear();
    if (!IdentifyDir(path, id)) return DirResult{DirFault::Unreadable, ERROR_PATH_NOT_FOUND};
    dir.Path = path;
    OpenCount.fetch_add(1, std::memory_order_relaxed);
    return DirResult{};
}

} // namespace

DirResult OpenDirPath(const std::string& path, DirHandle& dir, DirIdentity& id) {
    // The search itself finds out whether the directory can be read.
    std::string withSlash = path;
    if (!withSlash.empty() && withSlash.back() != '\\') withSlash += '\\';
    return OpenPath(withSlash.empty() ? std::string(".\\") : withSlash, dir, id);
}

DirResult OpenDirAt(const DirHandle& parent, const std::string& name, DirHandle& dir,
                    DirIdentity& id) {
    return OpenPath(parent.Path + name + '\\', dir, id);
}

void CloseDir(DirHandle& dir) {
    dir.Path.clear();
    dir.Fd = -1;
}

std::string FaultText(int code) {
    return "system error " + std::to_string(code);
}

DirResult StartReading(const DirHandle& dir, DirReader& reader) {
    reader.Search = -1;
    reader.Pending = false;
    if (!dir.IsOpen()) return DirResult{DirFault::Unreadable, ERROR_PATH_NOT_FOUND};
    WIN32_FIND_DATAA& data = FindData(reader);
    std::string pattern = (dir.Path == ".\\" ? std::string() : dir.Path) + "*.*";
    HANDLE h = ::FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                  nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER)
        h = ::FindFirstFileA(pattern.c_str(), &data); // systems before Windows 7
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = ::GetLastError();
        if (e == ERROR_NOT_ENOUGH_MEMORY || e == ERROR_OUTOFMEMORY ||
            e == ERROR_TOO_MANY_OPEN_FILES)
            return DirResult{DirFault::Resource, static_cast<int>(e)};
        return DirResult{DirFault::Unreadable, static_cast<int>(e)};
    }
    reader.Search = reinterpret_cast<std::intptr_t>(h);
    reader.Pending = true;
    return DirResult{};
}

bool ReadEntry(const DirHandle&, DirReader& reader, DirEntry& entry, DirResult& result) {
    result = DirResult{};
    if (reader.Search == -1) return false;
    WIN32_FIND_DATAA& data = FindData(reader);
    for (;;) {
        if (reader.Pending) {
            reader.Pending = false;
        } else if (!::FindNextFileA(ToHandle(reader.Search), &data)) {
            return false;
        }
        const char* name = data.cFileName;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        entry.Name.assign(name);
        entry.Native.clear();
        entry.Attr = data.dwFileAttributes;
        entry.Size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        EntryCount.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
}

void StopReading(DirReader& reader) {
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

} // namespace rtl
