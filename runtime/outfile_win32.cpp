// The output file on Windows: UTF-16 calls on absolute \\?\ paths. The
// temporary file is made with CREATE_NEW (an existing name, a link's
// included, is never opened) and takes its place by MoveFileExW with
// replace, once closed.
#include "runtime/outfile.h"

#include "runtime/rtl.h"
#include "runtime/win32_support.h"

#include <string>

namespace runtime {

namespace {

constexpr int ReplaceTries = 20;      // a reader may hold the old file open a moment
constexpr DWORD ReplacePauseMs = 100; // between two tries

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::wstring LongName(const std::string& path) {
    return win32::LongPath(win32::WideFromOem(path));
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/' || path.back() == ':');
}

} // namespace

int outfile::CreateBeside(const std::string& name, TempFile& temp, std::string& what) {
    temp = TempFile{};
    temp.Destination = name;
    what = "cannot write " + Quoted(name);
    DWORD attributes = ::GetFileAttributesW(LongName(name).c_str());
    if (EndsWithSeparator(name) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        return IoAccessDenied;
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        temp.Name = name + "." + UniquePart() + ".tmp";
        HANDLE h = ::CreateFileW(LongName(temp.Name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD code = ::GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
            what = "cannot create " + Quoted(temp.Name);
            return Win32IoError(code);
        }
        temp.Handle = reinterpret_cast<FileHandle>(h);
        return 0;
    }
    what = "cannot create a file beside " + Quoted(name);
    return Win32IoError(ERROR_FILE_EXISTS);
}

int outfile::PutInPlace(TempFile& temp, std::string& what) {
    HANDLE h = reinterpret_cast<HANDLE>(temp.Handle);
    temp.Handle = NoFile;
    DWORD failure = ERROR_SUCCESS;
    if (!::FlushFileBuffers(h)) failure = ::GetLastError();
    if (!::CloseHandle(h) && failure == ERROR_SUCCESS) failure = ::GetLastError();
    std::wstring from = LongName(temp.Name);
    if (failure != ERROR_SUCCESS) {
        what = "cannot write " + Quoted(temp.Name);
    } else {
        std::wstring to = LongName(temp.Destination);
        for (int attempt = 0;; ++attempt) {
            if (::MoveFileExW(from.c_str(), to.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return 0;
            failure = ::GetLastError();
            bool held = failure == ERROR_ACCESS_DENIED || failure == ERROR_SHARING_VIOLATION;
            if (!held || attempt + 1 >= ReplaceTries) break;
            ::Sleep(ReplacePauseMs);
        }
        what = "cannot rename " + Quoted(temp.Name) + " to " + Quoted(temp.Destination);
    }
    ::DeleteFileW(from.c_str());
    return Win32IoError(failure);
}

void outfile::Remove(TempFile& temp) noexcept {
    if (temp.Handle != NoFile) ::CloseHandle(reinterpret_cast<HANDLE>(temp.Handle));
    temp.Handle = NoFile;
    if (temp.Name.empty()) return;
    try {
        ::DeleteFileW(LongName(temp.Name).c_str());
    } catch (...) {
        // No memory for the path: the file stays.
    }
    temp.Name.clear();
}

void RemoveOutputFileNow() noexcept {
    // No signal ends the Windows program past the exit path.
}

} // namespace runtime
