// The output file on Windows: UTF-16 calls on absolute \\?\ paths. The
// temporary file is made with CREATE_NEW (an existing name, a link's
// included, is never opened) and takes its place by MoveFileExW with
// replace, once closed. A device (NUL, CON, COM1, "\\.\" paths) is opened
// by its name as typed and written into.
#include "runtime/outfile.h"

#include "runtime/rtl.h"
#include "runtime/textsafe.h"
#include "runtime/win32_support.h"

#include <string>

namespace runtime {

namespace {

constexpr int ReplaceTries = 20;      // a reader may hold the old file open a moment
constexpr DWORD ReplacePauseMs = 100; // between two tries

std::string Quoted(const std::string& path) {
    std::string quoted = "'";
    AppendSafeText(quoted, path, StdErrSink());
    return quoted.append("'");
}

std::wstring LongName(const std::string& path) {
    return win32::LongPath(win32::WideFromOem(path));
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/' || path.back() == ':');
}

// A device's name (the system's, or a path in its device space): it names
// no file to replace.
bool IsDevice(const std::wstring& name) {
    return win32::IsDeviceName(name) || name.starts_with(L"\\\\.\\") || name.starts_with(L"//./");
}

// The name's directory part, as typed ("" for a name alone).
std::string DirectoryOf(const std::string& name) {
    auto cut = name.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
}

bool TooLong(DWORD code) {
    return code == ERROR_FILENAME_EXCED_RANGE || code == ERROR_INVALID_NAME;
}

// Whether FILE's name and the part of the temporary's own fit in one name
// of the file system (255 UTF-16 units).
bool FitsWithPart(const std::wstring& typed) {
    constexpr std::size_t MaxName = 255;
    constexpr std::size_t Part = 13; // ".XXXXXXXX.tmp"
    win32::LastName last = win32::FindLastName(typed);
    return last.End - last.Begin + Part <= MaxName;
}

} // namespace

void outfile::AllowUnnamed(bool) {
    // Windows makes no unnamed files.
}

int outfile::CreateBeside(const std::string& name, TempFile& temp, std::string& what) {
    temp = TempFile{};
    temp.Destination = name;
    what = "cannot write " + Quoted(name);
    std::wstring typed = win32::WideFromOem(name);
    if (IsDevice(typed)) {
        HANDLE h = ::CreateFileW(typed.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Win32IoError(::GetLastError());
        temp.Handle = reinterpret_cast<FileHandle>(h);
        temp.Direct = true;
        return 0;
    }
    DWORD attributes = ::GetFileAttributesW(LongName(name).c_str());
    if (EndsWithSeparator(name) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        return IoAccessDenied;
    DWORD code = ERROR_FILE_EXISTS;
    // FILE's name and a part of its own, or where that is too long a name,
    // the part alone.
    for (bool shortForm : {false, true}) {
        if (!shortForm && !FitsWithPart(typed)) continue;
        for (int attempt = 0; attempt < NameAttempts; ++attempt) {
            temp.Name = shortForm ? DirectoryOf(name) : name;
            temp.Name.append(".").append(UniquePart()).append(".tmp");
            HANDLE h = ::CreateFileW(LongName(temp.Name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                temp.Handle = reinterpret_cast<FileHandle>(h);
                return 0;
            }
            code = ::GetLastError();
            if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
        }
        if (!TooLong(code) || shortForm) break;
    }
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
        what = "cannot create a file beside " + Quoted(name);
    } else {
        what = "cannot create " + Quoted(temp.Name);
    }
    temp.Name.clear();
    return Win32IoError(code);
}

int outfile::PutInPlace(TempFile& temp, std::string& what) {
    HANDLE h = reinterpret_cast<HANDLE>(temp.Handle);
    temp.Handle = NoFile;
    if (temp.Direct) {
        if (::CloseHandle(h)) return 0;
        what = "cannot write " + Quoted(temp.Destination);
        return Win32IoError(::GetLastError());
    }
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
