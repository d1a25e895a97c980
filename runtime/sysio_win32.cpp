// Win32 implementation of the low-level file and process services (sysio.h).
#include "runtime/sysio.h"

#include "runtime/rtl.h"
#include "runtime/win32_support.h"

#include <algorithm>
#include <string>

namespace runtime {

// Maps a Win32 error code onto the neutral I/O codes of rtl.h; declared in
// win32_support.h for every Win32 file.
int Win32IoError(unsigned long code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return IoFileNotFound;
    case ERROR_ACCESS_DENIED:
        return IoAccessDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return IoDiskFull;
    case ERROR_SUCCESS:
        // A failure without a reason still has to be an error.
        return IoSystemError(static_cast<int>(ERROR_GEN_FAILURE));
    default:
        // Keeps the system's number ("I/O error 32"), never a named code.
        return IoSystemError(static_cast<int>(code & 0x7FFFFFFF));
    }
}

namespace {

HANDLE ToHandle(FileHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

int LastIoError() {
    return Win32IoError(::GetLastError());
}

// Converts text from one code page to another through UTF-16; returns the
// input unchanged when a conversion fails.
std::string Recode(std::string_view text, UINT from, UINT to) {
    if (text.empty()) return std::string(text);
    int len = static_cast<int>(std::min<std::size_t>(text.size(), 0x7FFFFFF));
    int wlen = ::MultiByteToWideChar(from, 0, text.data(), len, nullptr, 0);
    if (wlen <= 0) return std::string(text);
    std::wstring wide(static_cast<std::size_t>(wlen), L'\0');
    ::MultiByteToWideChar(from, 0, text.data(), len, wide.data(), wlen);
    int blen = ::WideCharToMultiByte(to, 0, wide.data(), wlen, nullptr, 0, nullptr, nullptr);
    if (blen <= 0) return std::string(text);
    std::string out(static_cast<std::size_t>(blen), '\0');
    ::WideCharToMultiByte(to, 0, wide.data(), wlen, out.data(), blen, nullptr, nullptr);
    return out;
}

} // namespace

FileHandle StdHandle(StdStream which) {
    DWORD id = STD_ERROR_HANDLE;
    switch (which) {
    case StdStream::Input:
        id = STD_INPUT_HANDLE;
        break;
    case StdStream::Output:
        id = STD_OUTPUT_HANDLE;
        break;
    case StdStream::Error:
        break;
    }
    return reinterpret_cast<FileHandle>(::GetStdHandle(id));
}

void ReserveStdHandles() {
    // Nothing to do: Windows never hands a closed standard handle's value to a
    // file opened later; a missing standard handle stays NULL or invalid and
    // writes to it fail.
}

namespace {
struct LargeStackCall {
    int (*Fn)();
    int Result;
};

DWORD WINAPI RunLargeStackCall(LPVOID arg) {
    auto* call = static_cast<LargeStackCall*>(arg);
    call->Result = call->Fn();
    return 0;
}
} // namespace

int RunOnLargeStack(int (*fn)()) {
    constexpr SIZE_T StackSize = SIZE_T{256} << 20; // reserved, committed as needed
    LargeStackCall call{fn, 0};
    HANDLE thread = ::CreateThread(nullptr, StackSize, RunLargeStackCall, &call,
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr)
        return fn(); // no thread to be had: the ordinary stack still serves most trees
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    return call.Result;
}

int WriteFile(FileHandle h, const char* data, std::size_t size) {
    // Pieces of at most 32 KiB: some console hosts refuse larger writes.
    constexpr std::size_t Piece = 32768;
    while (size > 0) {
        DWORD want = static_cast<DWORD>(std::min(size, Piece));
        DWORD written = 0;
        if (!::WriteFile(ToHandle(h), data, want, &written, nullptr)) return LastIoError();
        if (written == 0) return IoDiskFull; // a device that takes nothing more is full
        data += written;
        size -= written;
    }
    return 0;
}

int CreateFileForWrite(const std::string& name, FileHandle& h) {
    // The name is OEM text like every name of the program; the file is made by
    // the UTF-16 call, relative to a current directory of any name.
    HANDLE f = ::CreateFileW(win32::WideFromOem(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return LastIoError();
    h = reinterpret_cast<FileHandle>(f);
    return 0;
}

int OpenFileForRead(const std::string& name, FileHandle& h, std::string& reason) {
    HANDLE f = ::CreateFileW(win32::WideFromOem(name).c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        DWORD code = ::GetLastError();
        reason = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                     ? "no such file or directory"
                 : code == ERROR_ACCESS_DENIED ? "permission denied"
                                               : "cannot open (error " + std::to_string(code) + ")";
        return Win32IoError(code);
    }
    h = reinterpret_cast<FileHandle>(f);
    return 0;
}

int ReadFile(FileHandle h, char* data, std::size_t size, std::size_t& got) {
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
    DWORD read = 0;
    if (!::ReadFile(ToHandle(h), data, want, &read, nullptr)) {
        // The writing end of a pipe closed: the end of the input.
        if (::GetLastError() == ERROR_BROKEN_PIPE) {
            got = 0;
            return 0;
        }
        return LastIoError();
    }
    got = read;
    return 0;
}

int CloseFile(FileHandle h) {
    if (!::CloseHandle(ToHandle(h))) return LastIoError();
    return 0;
}

bool RegularFileIdentity(FileHandle h, FileIdentity& id) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == NoFile || ::GetFileType(ToHandle(h)) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(ToHandle(h), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    id.Device = info.dwVolumeSerialNumber;
    id.Inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    id.Size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    return true;
}

std::int64_t OpenFileLimit() {
    return std::int64_t{1} << 24; // handles are limited by memory alone
}

std::int64_t FreeFileDescriptors() {
    return OpenFileLimit();
}

std::int32_t OnlineProcessors() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors < 1
               ? 1
               : static_cast<std::int32_t>(std::min<DWORD>(info.dwNumberOfProcessors, 1024));
}

bool PathSizes(const std::string&, const std::string&, std::uint64_t&, std::uint64_t&) {
    // A directory's own size is 0 in every Windows listing.
    return false;
}

bool StdErrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::int32_t StdErrColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) && info.dwSize.X > 0)
        return info.dwSize.X;
    return 80;
}

void WriteStdErrDirect(std::string_view text) {
    // The message is ANSI text; standard error shows it in the OEM code page.
    bool plain = std::all_of(text.begin(), text.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 128; });
    std::string oem = plain ? std::string(text) : Recode(text, CP_ACP, CP_OEMCP);
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    std::string_view rest = oem;
    while (!rest.empty()) {
        DWORD written = 0;
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 32768));
        if (!::WriteFile(err, rest.data(), want, &written, nullptr) || written == 0) return;
        rest.remove_prefix(written);
    }
}

void ReadStdInLine() {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    char c = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(in, &c, 1, &read, nullptr) || read == 0 || c == '\n') return;
    }
}

std::string ProgramModuleName() {
    // Through the wide call, so the name is ANSI whatever the file-API code
    // page (the console layer switches it to OEM).
    wchar_t wpath[MAX_PATH + 1];
    DWORD n = ::GetModuleFileNameW(nullptr, wpath, MAX_PATH + 1);
    std::string full;
    if (n > 0) {
        int len = ::WideCharToMultiByte(CP_ACP, 0, wpath, static_cast<int>(n), nullptr, 0, nullptr,
                                        nullptr);
        if (len > 0) {
            full.assign(static_cast<std::size_t>(len), '\0');
            ::WideCharToMultiByte(CP_ACP, 0, wpath, static_cast<int>(n), full.data(), len, nullptr,
                                  nullptr);
        }
    }
    if (full.empty()) full = ProcessArgCount() > 0 ? ProcessArg(0) : "kelpo32.exe";
    auto sep = full.find_last_of("\\/:");
    return sep == std::string::npos ? full : full.substr(sep + 1);
}

std::uintptr_t CodeOffset(std::uintptr_t address) {
    return address - reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
}

std::string IoErrorReason(int) {
    return std::string(); // the Windows message names the error by its code
}

bool IsBadHandleError(int code) {
    return code == IoSystemError(static_cast<int>(ERROR_INVALID_HANDLE)) ||
           code == IoNotOpenForOutput;
}

const char* OutOfMemoryText() noexcept {
    return "Out of memory.\r\n";
}

std::string UncaughtErrorText(const RunError& err) {
    return FormatRunError(err, ProgramModuleName());
}

bool StdErrInForeground() {
    return true; // a console has no background jobs
}

} // namespace runtime
