// Win32 implementation of the current-directory services (curdir.h).
#include "curdir.h"

#include "rtl.h"

#include <windows.h> // NOMINMAX and WIN32_LEAN_AND_MEAN come from the build

#include <vector>

namespace rtl {

int Win32IoError(unsigned long code); // sysio_win32.cpp

int GetCurrentDir(std::string& dir) {
    std::vector<char> buf(MAX_PATH + 1);
    for (;;) {
        DWORD n = ::GetCurrentDirectoryA(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0) return Win32IoError(::GetLastError());
        if (n < buf.size()) {
            dir.assign(buf.data(), n);
            return 0;
        }
        buf.resize(n + 1); // n is the size needed, the terminating NUL included
    }
}

int ChangeDir(const std::string& dir) {
    if (dir.empty()) return IoFileNotFound;
    if (::SetCurrentDirectoryA(dir.c_str())) return 0;
    DWORD code = ::GetLastError();
    // Like the POSIX file: a directory that exists but may not be entered is
    // "access denied", every other failure "not found".
    return code == ERROR_ACCESS_DENIED ? IoAccessDenied : IoFileNotFound;
}

} // namespace rtl
