// Win32 implementation of the current-directory services (curdir.h) on UTF-16
// paths, so that a directory of any name can be left and entered again.
#include "runtime/curdir.h"

#include "runtime/rtl.h"
#include "runtime/win32_support.h"

#include <vector>

namespace runtime {

int GetCurrentDir(std::string& dir, std::string& native) {
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0) return Win32IoError(::GetLastError());
        if (n < buf.size()) {
            std::wstring_view wide(buf.data(), n);
            native = win32::NativeBytes(wide);
            dir = win32::OemFromWide(wide);
            return 0;
        }
        buf.resize(n + 1); // n is the size needed, the terminating NUL included
    }
}

int ChangeDir(const std::string& dir, const std::string& native) {
    std::wstring path = native.empty() ? win32::WideFromOem(dir) : win32::WideFromNative(native);
    if (path.empty() || win32::IsDeviceName(path)) return IoFileNotFound;
    // A final dot or blank would be dropped, entering a sibling or nothing.
    if (win32::KeepLastName(path)) path = win32::TypedLongPath(path);
    BOOL ok = ::SetCurrentDirectoryW(path.c_str());
    DWORD code = ok ? ERROR_SUCCESS : ::GetLastError();
    std::wstring full = ok ? std::wstring() : win32::LongPath(path);
    if (!ok && full.size() >= MAX_PATH + 4) {
        // Past the length a current directory can have, the directory is
        // tested by opening it by its absolute \\?\ path instead; it does not
        // become current then, which no caller needs beyond that test.
        HANDLE h = ::CreateFileW(full.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info;
            ok = ::GetFileInformationByHandle(h, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            ::CloseHandle(h);
            if (ok) return 0;
        } else {
            code = ::GetLastError();
        }
    }
    if (ok) return 0;
    // Like the POSIX file: a directory that exists but may not be entered is
    // "access denied", every other failure "not found".
    return code == ERROR_ACCESS_DENIED ? IoAccessDenied : IoFileNotFound;
}

int EnterDir(const std::string& dir, const std::string& native, std::string& reason) {
    int code = ChangeDir(dir, native);
    reason = code == 0                ? ""
             : code == IoAccessDenied ? "permission denied"
                                      : "no such file or directory";
    return code;
}

} // namespace runtime
