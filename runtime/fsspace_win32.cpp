#include "runtime/fsspace.h"

#include "runtime/dirsearch.h"
#include "runtime/win32_support.h"

namespace runtime {

bool SpaceOf(const std::string& path, const std::string& native, FileSystemSpace& space) {
    // The directory's \\?\ path with its separator, as the walk opens it.
    std::wstring wide = win32::WideFromNative(NativeDirPath(path, native));
    ULARGE_INTEGER avail{};
    ULARGE_INTEGER total{};
    if (!::GetDiskFreeSpaceExW(wide.c_str(), &avail, &total, nullptr)) return false;
    space.Size = total.QuadPart;
    space.Free = avail.QuadPart;
    return true;
}

std::string AbsolutePath(const std::string& path, const std::string& native) {
    std::wstring wide = win32::WideFromNative(NativeDirPath(path, native));
    if (wide.starts_with(L"\\\\?\\UNC\\"))
        wide = L"\\\\" + wide.substr(8);
    else if (wide.starts_with(L"\\\\?\\"))
        wide = wide.substr(4);
    if (wide.size() > 3 && wide.ends_with(L'\\')) wide.pop_back();
    int len = static_cast<int>(std::min<std::size_t>(wide.size(), 0x3FFFFFFF));
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

int MakeDirectory(const std::string& path, std::string& reason) {
    std::wstring wide = win32::LongPath(win32::WideFromOem(path));
    if (::CreateDirectoryW(wide.c_str(), nullptr)) return 0;
    DWORD code = ::GetLastError();
    DWORD attr = ::GetFileAttributesW(wide.c_str());
    if (code == ERROR_ALREADY_EXISTS && attr != INVALID_FILE_ATTRIBUTES &&
        (attr & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return 0;
    reason = code == ERROR_PATH_NOT_FOUND   ? "no such file or directory"
             : code == ERROR_ACCESS_DENIED  ? "permission denied"
             : code == ERROR_ALREADY_EXISTS ? "not a directory"
                                            : "error " + std::to_string(code);
    return Win32IoError(code);
}

} // namespace runtime
