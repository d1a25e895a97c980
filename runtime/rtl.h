// Run-time support shared by every module: uncaught errors, the exit path with
// module shut-downs, and checked arithmetic for counts, widths and indexes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace runtime {

// LibraryError is an exception of the C++ library that nothing caught (a
// std::length_error, a std::system_error, ...), UnknownError any other throw.
enum class ErrorClass {
    RangeError,
    IntOverflow,
    InOutError,
    OutOfMemory,
    LibraryError,
    UnknownError
};

// An uncaught run-time error. It unwinds to the exit path, which writes one
// message on standard error and ends the process with exit code 1.
struct RunError {
    ErrorClass Class;
    int Code;              // I/O error code of an EInOutError, 0 otherwise
    std::uintptr_t Offset; // where the failing code lies in the program image
    std::string Detail{};  // what an ELibraryError reported, one line
    std::string What{};    // what failed ("cannot create 'logfile.txt'"); may be empty
    std::string Reason{};  // the system's words for an EInOutError, where it has them
};

// An explicit end of the process from any module; unwinds to the exit path.
struct HaltRequest {
    int ExitCode;
};

// Neutral I/O error codes; the platform maps its own codes onto these. The
// first five have their own meaning (and the first three their own message).
inline constexpr int IoFileNotFound = 2;
inline constexpr int IoAccessDenied = 5;
inline constexpr int IoDiskFull = 101;
inline constexpr int IoFileNotOpen = 103;      // a write to a file that is not open
inline constexpr int IoNotOpenForOutput = 105; // a standard handle that cannot be written
// The program's own resources, where the platform tells them apart (POSIX).
inline constexpr int IoTooManyOpenFiles = 4;
inline constexpr int IoNotEnoughMemory = 8;

// Any other failure keeps the system's own number, marked so that it never
// reads as one of the codes above (EIO and IoAccessDenied are both 5); its
// message is "I/O error" and that number.
inline constexpr int IoSystemFlag = 0x40000000;
constexpr int IoSystemError(int systemCode) {
    return IoSystemFlag | (systemCode & (IoSystemFlag - 1));
}
// The number an I/O error code shows in its message.
constexpr int IoErrorNumber(int code) {
    return code & ~IoSystemFlag;
}

[[noreturn]] void RaiseRangeError();
[[noreturn]] void RaiseIntOverflow();
[[noreturn]] void RaiseIoError(int code);
// The same, naming what failed for the platform's form of the message.
[[noreturn]] void RaiseIoError(int code, std::string what);
// The I/O code of a resource that ran out: out of memory is an error of its
// own class, anything else an I/O error.
[[noreturn]] void RaiseResourceError(int code);
[[noreturn]] void Halt(int exitCode);

// The class name and message text of an error, and the whole report line pair.
std::string_view ErrorClassName(ErrorClass cls);
std::string ErrorMessage(const RunError& err);
std::string FormatRunError(const RunError& err, std::string_view module);
// The POSIX form: "kelpo32: WHAT: REASON" (or "kelpo32: REASON" when nothing
// is named, a reason's first letter then in lower case) and LF.
std::string FormatPosixRunError(const RunError& err);

// Module shut-downs run in reverse order of registration on every end of the process.
void AddExitProc(void (*proc)());

// Runs the program body and then the exit path; returns the process exit code.
int RunProgram(void (*body)());

template <class T> T CheckedAdd(T a, T b) {
    T r;
    if (__builtin_add_overflow(a, b, &r)) RaiseIntOverflow();
    return r;
}

template <class T> T CheckedSub(T a, T b) {
    T r;
    if (__builtin_sub_overflow(a, b, &r)) RaiseIntOverflow();
    return r;
}

// Narrows a value into a smaller type; a value outside its range is a range error.
template <class To, class From> To CheckedRange(From v) {
    if (!std::in_range<To>(v)) RaiseRangeError();
    return static_cast<To>(v);
}

} // namespace runtime
