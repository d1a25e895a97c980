// Helpers shared by the Win32 files of the runtime, the console layer and the
// command-line source: the one mapping of Win32 errors onto the neutral I/O
// codes, conversions between UTF-16 and the OEM code page, the opaque byte
// form of UTF-16 names, and absolute \\?\ paths. Included by win32 files only.
#pragma once

#include <windows.h> // NOMINMAX and WIN32_LEAN_AND_MEAN come from the build

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace runtime {

// Maps a Win32 error code onto the neutral I/O codes of rtl.h (sysio_win32.cpp).
int Win32IoError(unsigned long code);

namespace win32 {

// A name in the platform's own form: its UTF-16 code units as opaque bytes.
inline std::string NativeBytes(std::wstring_view wide) {
    std::string bytes(wide.size() * sizeof(wchar_t), '\0');
    if (!wide.empty()) std::memcpy(bytes.data(), wide.data(), bytes.size());
    return bytes;
}

inline std::wstring WideFromNative(std::string_view bytes) {
    std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
    if (!wide.empty()) std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(wchar_t));
    return wide;
}

// UTF-16 to the OEM code page exactly as the byte-string file functions
// deliver names: the code page's best fit, "?" for what it cannot hold.
inline std::string OemFromWide(std::wstring_view wide) {
    if (wide.empty()) return std::string();
    int len = static_cast<int>(std::min<std::size_t>(wide.size(), 0x3FFFFFFF));
    int n = ::WideCharToMultiByte(CP_OEMCP, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_OEMCP, 0, wide.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

inline std::wstring WideFromOem(std::string_view text) {
    if (text.empty()) return std::wstring();
    int len = static_cast<int>(std::min<std::size_t>(text.size(), 0x3FFFFFFF));
    int n = ::MultiByteToWideChar(CP_OEMCP, 0, text.data(), len, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_OEMCP, 0, text.data(), len, out.data(), n);
    return out;
}

// The absolute form of a path with the \\?\ prefix (\\?\UNC\ for a share),
// so that no length limit applies and no trailing dot or blank is dropped
// later on. A path that has the prefix already is kept as it is; other paths
// are made absolute by the system's rules (relative to the current directory).
inline std::wstring LongPath(const std::wstring& path) {
    if (path.starts_with(L"\\\\?\\")) return path;
    std::wstring full(MAX_PATH + 1, L'\0');
    for (;;) {
        DWORD n = ::GetFullPathNameW(path.empty() ? L"." : path.c_str(),
                                     static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return path;
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n + 1);
    }
    if (full.starts_with(L"\\\\.\\")) return full; // a device keeps its own form
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Lists every directory by searching its path, as on file systems that
// refuse the listing through a handle; for the tests of that way.
void UseSearchOnly(bool on);
// The call that lists a directory through its handle; tests replace it to
// make a listing fail midway (nullptr restores the system's).
using ListDirCall = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
void ReplaceListCall(ListDirCall call);

// Where the last name of a path begins and ends (separators after it left
// out); begin == end when there is none ("C:", "\\", "").
struct LastName {
    std::size_t Begin = 0;
    std::size_t End = 0;
};
inline LastName FindLastName(std::wstring_view path) {
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    LastName last;
    last.End = path.size();
    while (last.End > 0 && separator(path[last.End - 1]))
        --last.End;
    last.Begin = last.End;
    while (last.Begin > 0 && !separator(path[last.Begin - 1]))
        --last.Begin;
    if (last.Begin == 0 && last.End >= 2 && path[1] == L':') last.Begin = 2; // "C:name"
    return last;
}

// Whether the system's rules would change the last name of a path as typed:
// they drop a final dot or blank from it ("dot." becomes its sibling "dot").
// "." and ".." are no names; a share's own name is left to the system.
inline bool KeepLastName(std::wstring_view path) {
    if (path.starts_with(L"\\\\?\\")) return false;
    LastName last = FindLastName(path);
    std::wstring_view name = path.substr(last.Begin, last.End - last.Begin);
    if (name.empty() || name == L"." || name == L".." ||
        (name.back() != L'.' && name.back() != L' '))
        return false;
    std::wstring_view prefix = path.substr(0, last.Begin);
    return !(prefix.starts_with(L"\\\\") && FindLastName(prefix).Begin <= 2); // \\server\share
}

// Whether the last name of a path is one of the system's device names (NUL,
// CON, PRN, AUX, COM1 to COM9, LPT1 to LPT9), in any case and with an
// extension or a colon after it: such a path names the device, wherever it
// points, and never a directory. A \\?\ path names what it says literally.
inline bool IsDeviceName(std::wstring_view path) {
    if (path.starts_with(L"\\\\?\\")) return false;
    LastName last = FindLastName(path);
    std::wstring_view name = path.substr(last.Begin, last.End - last.Begin);
    name = name.substr(0, name.find_first_of(L".:"));
    while (!name.empty() && name.back() == L' ')
        name.remove_suffix(1);
    auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; };
    std::wstring word;
    for (wchar_t c : name)
        word += static_cast<wchar_t>(upper(c));
    if (word == L"NUL" || word == L"CON" || word == L"PRN" || word == L"AUX") return true;
    return word.size() == 4 && (word.starts_with(L"COM") || word.starts_with(L"LPT")) &&
           word[3] >= L'1' && word[3] <= L'9';
}

// Whether a path is a drive alone ("D:"), which names that drive's current
// directory, not its root.
inline bool IsBareDrive(std::wstring_view path) {
    return path.size() == 2 && path[1] == L':';
}

// LongPath for a path the user typed: a last name the system's rules would
// change is kept as typed, and only what comes before it is made absolute.
inline std::wstring TypedLongPath(const std::wstring& path) {
    if (!KeepLastName(path)) return LongPath(path);
    LastName last = FindLastName(path);
    std::wstring prefix = path.substr(0, last.Begin);
    std::wstring full = LongPath(prefix.empty() ? std::wstring(L".") : prefix);
    if (!full.ends_with(L'\\')) full += L'\\';
    return full.append(path, last.Begin, last.End - last.Begin);
}

} // namespace win32
} // namespace runtime
