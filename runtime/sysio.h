// Low-level file and process services of the platform. The POSIX and the
// Win32 implementation live in sysio_posix.cpp and sysio_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

// An open file: a file descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle NoFile = -1;

enum class StdStream { Input, Output, Error };

FileHandle StdHandle(StdStream which);

// Keeps a closed standard handle from being taken by a file the program opens
// later (a closed standard output would otherwise receive the log's lines):
// writes to it then fail as they should.
void ReserveStdHandles();

// Each returns 0 on success or a neutral I/O error code (rtl.h).
int WriteFile(FileHandle h, const char* data, std::size_t size);
int CreateFileForWrite(const std::string& name, FileHandle& h);
int CloseFile(FileHandle h);
// Opens a file for reading; on failure `reason` says why in a few words
// ("no such file or directory", "permission denied", "is a directory").
int OpenFileForRead(const std::string& name, FileHandle& h, std::string& reason);
// Reads up to `size` bytes; `got` is 0 at the end of the file.
int ReadFile(FileHandle h, char* data, std::size_t size, std::size_t& got);

// Runs fn with a stack large enough for the walk of a very deep tree (one
// frame per level) and returns its result.
int RunOnLargeStack(int (*fn)());

// Where an open regular file lives (device and inode, or volume serial and
// file index) and its size; false when it is no regular file or cannot be told.
struct FileIdentity {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
};
bool RegularFileIdentity(FileHandle h, FileIdentity& id);

// How many files the process may hold open at once (a large number where
// there is no limit).
std::int64_t OpenFileLimit();
// How many more files the process may open now: the limit less every file
// already open, those inherited from the parent included.
std::int64_t FreeFileDescriptors();

// The size and the space on disk of the file or directory at `path` (empty:
// the current directory; `native`, when not empty, is the same in the
// platform's own form), as the walk opens it; false when
// the system does not tell.
bool PathSizes(const std::string& path, const std::string& native, std::uint64_t& size,
               std::uint64_t& diskBytes);

// The number of processors online (at least 1).
std::int32_t OnlineProcessors();

// Writes a message to standard error, unbuffered; failures are ignored.
// The hook, when set, runs first with its context (the status line erases
// itself there).
void WriteStdErr(std::string_view text);
void SetStdErrHook(void (*hook)(void* context), void* context);
// Writes to standard error without running the hook.
void WriteStdErrDirect(std::string_view text);
// The columns of a line on standard error that is redrawn in place (the
// status line), or 0; a signal that ends or stops the program blanks it
// first with EraseStdErrLine, which is safe in a signal handler.
void SetStdErrLine(std::int32_t columns) noexcept;
void EraseStdErrLine() noexcept;
// Whether standard error is a terminal (POSIX) or a console (Windows), and
// its width in columns (80 when it tells none).
bool StdErrIsTerminal();
std::int32_t StdErrColumns();
// Whether the process may draw on standard error's terminal: it is in that
// terminal's foreground process group (always on Windows). A background job
// that drew there would write over the shell's prompt and what the user types.
bool StdErrInForeground();

// Reads one line from standard input and discards it (waits for Enter).
void ReadStdInLine();

// The program file's name without its directory.
std::string ProgramModuleName();

// The system's words for an I/O error code that was just returned (empty
// where the platform's message has none of its own).
std::string IoErrorReason(int code);
// Whether an I/O error code means the handle is no open file at all (a
// standard output the program was started without).
bool IsBadHandleError(int code);
// The message of an uncaught error in the platform's form, line end included.
struct RunError;
std::string UncaughtErrorText(const RunError& err);
// The message of an uncaught error when not even its text can be made.
const char* OutOfMemoryText() noexcept;

// The offset of a code address within the program image.
std::uintptr_t CodeOffset(std::uintptr_t address);

// Keeps the command line of the process for the platform's command-line source.
void SetProcessArgs(int argc, char** argv);
int ProcessArgCount();
const char* ProcessArg(int i);
const char* const* ProcessArgv();

} // namespace runtime
