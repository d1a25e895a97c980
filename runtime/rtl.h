// Run-time support shared by every module: uncaught errors, the exit path with
// module shut-downs, and checked arithmetic for counts, widths and indexes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace rtl {

enum class ErrorClass { RangeError, IntOverflow, InOutError, OutOfMemory };

// An uncaught run-time error. It unwinds to the exit path, which writes one
// message on standard error and ends the process with exit code 1.
struct RunError {
    ErrorClass Class;
    int Code;              // I/O error code of an EInOutError, 0 otherwise
    std::uintptr_t Offset; // where the failing code lies in the program image
};

// An explicit end of the process from any module; unwinds to the exit path.
struct HaltRequest {
    int ExitCode;
};

// Neutral I/O error codes; the platform maps its own codes onto these.
inline constexpr int IoFileNotFound = 2;
inline constexpr int IoAccessDenied = 5;
inline constexpr int IoDiskFull = 101;

[[noreturn]] void RaiseRangeError();
[[noreturn]] void RaiseIntOverflow();
[[noreturn]] void RaiseIoError(int code);
[[noreturn]] void RaiseOutOfMemory();
[[noreturn]] void Halt(int exitCode);

// The class name and message text of an error, and the whole report line pair.
std::string_view ErrorClassName(ErrorClass cls);
std::string ErrorMessage(const RunError& err);
std::string FormatRunError(const RunError& err, std::string_view module);

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

template <class T> T CheckedMul(T a, T b) {
    T r;
    if (__builtin_mul_overflow(a, b, &r)) RaiseIntOverflow();
    return r;
}

// Narrows a value into a smaller type; a value outside its range is a range error.
template <class To, class From> To CheckedRange(From v) {
    if (!std::in_range<To>(v)) RaiseRangeError();
    return static_cast<To>(v);
}

// Checks lo <= i <= hi and returns i.
template <class T> T CheckedIndex(T i, T lo, T hi) {
    if (i < lo || i > hi) RaiseRangeError();
    return i;
}

} // namespace rtl
