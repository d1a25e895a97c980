// Win32 implementation of the directory search (dirsearch.h): FindFirstFileExA
// and FindNextFileA over the pattern "<dir>*.*", which lets every entry
// through ("." and ".." included, hidden, system and directories alike).
#include "dirsearch.h"

#include <windows.h> // NOMINMAX and WIN32_LEAN_AND_MEAN come from the build

namespace rtl {

namespace {

// Only one search is open at a time: the first entry, read by FindOpen, waits
// here for the first FindNextEntry.
WIN32_FIND_DATAA gData;
bool gFirstPending = false;

// Identities handed out for directories that cannot be identified: each one
// differs from every other, so the walk's cycle guard never takes two such
// directories for the same one.
std::uint64_t gUnknownCount = 0;
constexpr std::uint64_t UnknownVolume = ~std::uint64_t{0};

SearchCounters gCounts; // the find data carries every field: Stats stays 0

HANDLE ToHandle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

void LoadEntry(SearchRec& rec) {
    rec.Name = gData.cFileName;
    rec.Attr = gData.dwFileAttributes;
    rec.Size = (std::uint64_t{gData.nFileSizeHigh} << 32) | gData.nFileSizeLow;
}

DirIdentity IdentifyDir(const std::string& dir) {
    DirIdentity id;
    HANDLE h = ::CreateFileA(dir.empty() ? "." : dir.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        bool ok = ::GetFileInformationByHandle(h, &info) != FALSE;
        ::CloseHandle(h);
        if (ok && (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0)) {
            id.Volume = info.dwVolumeSerialNumber;
            id.File = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
            return id;
        }
    }
    id.Volume = UnknownVolume;
    id.File = ++gUnknownCount;
    return id;
}

} // namespace

bool FindOpen(const std::string& dir, SearchRec& rec) {
    rec.Handle = -1;
    gFirstPending = false;
    std::string pattern = dir + "*.*";
    HANDLE h = ::FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &gData, FindExSearchNameMatch,
                                  nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER)
        h = ::FindFirstFileA(pattern.c_str(), &gData); // systems before Windows 7
    if (h == INVALID_HANDLE_VALUE) return false;
    rec.Handle = reinterpret_cast<std::intptr_t>(h);
    gFirstPending = true;
    ++gCounts.Opens;
    rec.Dir = IdentifyDir(dir);
    return true;
}

bool FindNextEntry(SearchRec& rec) {
    if (rec.Handle == -1) return false;
    if (gFirstPending) {
        gFirstPending = false;
    } else if (!::FindNextFileA(ToHandle(rec.Handle), &gData)) {
        return false;
    }
    LoadEntry(rec);
    ++gCounts.Entries;
    return true;
}

void FindClose(SearchRec& rec) {
    if (rec.Handle != -1) ::FindClose(ToHandle(rec.Handle));
    rec.Handle = -1;
    gFirstPending = false;
}

const SearchCounters& SearchCounts() {
    return gCounts;
}

char PathSeparator() {
    return '\\';
}

bool PathsIgnoreCase() {
    return true;
}

} // namespace rtl
