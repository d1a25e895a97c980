// Win32 implementation of the directory search (dirsearch.h) on UTF-16 names:
// FindFirstFileExW and FindNextFileW over the pattern "<dir>*", where <dir> is
// the directory's absolute \\?\ path, which lets every entry through ("." and
// ".." included, hidden, system and directories alike) at any path length.
// Each entry's name is kept as the search returned it (Native, UTF-16) and
// converted to the OEM code page for the report (Name).
#include "dirsearch.h"

#include "win32_support.h"

namespace rtl {

namespace {

// Only one search is open at a time: the first entry, read by FindOpen, waits
// here for the first FindNextEntry.
WIN32_FIND_DATAW gData;
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
    std::wstring_view name(gData.cFileName);
    rec.Native = win32::NativeBytes(name);
    rec.Name = win32::OemFromWide(name);
    rec.Attr = gData.dwFileAttributes;
    rec.Size = (std::uint64_t{gData.nFileSizeHigh} << 32) | gData.nFileSizeLow;
}

DirIdentity IdentifyDir(std::wstring dir) {
    DirIdentity id;
    // A directory is opened without its final separator; a drive root keeps it.
    if (dir.size() > 1 && dir.back() == L'\\' && dir[dir.size() - 2] != L':') dir.pop_back();
    HANDLE h = ::CreateFileW(dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

std::string NativeDirPath(const std::string& dir, const std::string& native) {
    std::wstring path = native.empty() ? win32::WideFromOem(dir) : win32::WideFromNative(native);
    // The separator goes on first, as the search of the text path adds it:
    // "C:" names the drive's root.
    if (!path.empty() && !path.ends_with(L'\\') && !path.ends_with(L'/')) path += L'\\';
    path = win32::LongPath(path);
    if (!path.ends_with(L'\\')) path += L'\\';
    return win32::NativeBytes(path);
}

void AppendNative(std::string& nativeDir, const std::string& nativeName) {
    if (nativeDir.empty() || nativeName.empty()) return;
    nativeDir += nativeName;
    nativeDir += win32::NativeBytes(L"\\");
}

bool FindOpen(const std::string& dir, SearchRec& rec, const std::string& native) {
    rec.Handle = -1;
    gFirstPending = false;
    std::wstring path = win32::WideFromNative(native.empty() ? NativeDirPath(dir, native) : native);
    std::wstring pattern = path + L"*";
    HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &gData, FindExSearchNameMatch,
                                  nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER)
        h = ::FindFirstFileW(pattern.c_str(), &gData); // systems before Windows 7
    if (h == INVALID_HANDLE_VALUE) return false;
    rec.Handle = reinterpret_cast<std::intptr_t>(h);
    gFirstPending = true;
    ++gCounts.Opens;
    rec.Dir = IdentifyDir(path);
    return true;
}

bool FindNextEntry(SearchRec& rec) {
    if (rec.Handle == -1) return false;
    if (gFirstPending) {
        gFirstPending = false;
    } else if (!::FindNextFileW(ToHandle(rec.Handle), &gData)) {
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
