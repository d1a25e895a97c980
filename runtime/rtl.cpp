#include "runtime/rtl.h"

#include "runtime/sysio.h"
#include "runtime/textout.h"

#include <algorithm>
#include <exception>
#include <new>
#include <utility>
#include <vector>

namespace runtime {

namespace {

std::vector<void (*)()>& ExitProcs() {
    static std::vector<void (*)()> procs;
    return procs;
}

[[noreturn]] __attribute__((noinline)) void Raise(ErrorClass cls, int code, void* at,
                                                  std::string what = {}) {
    RunError err{cls, code, CodeOffset(reinterpret_cast<std::uintptr_t>(at))};
    err.What = std::move(what);
    // Taken now: the system's last error describes this failure only here.
    if (cls == ErrorClass::InOutError) err.Reason = IoErrorReason(code);
    throw err;
}

// A library's message text, kept to one line of the report.
std::string OneLine(const char* text) {
    std::string line = text != nullptr ? text : "";
    std::replace_if(
        line.begin(), line.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
    return line;
}

} // namespace

// Each raiser records the address it was called from: the failing code.
__attribute__((noinline)) void RaiseRangeError() {
    Raise(ErrorClass::RangeError, 0, __builtin_return_address(0));
}
__attribute__((noinline)) void RaiseIntOverflow() {
    Raise(ErrorClass::IntOverflow, 0, __builtin_return_address(0));
}
__attribute__((noinline)) void RaiseIoError(int code) {
    Raise(ErrorClass::InOutError, code, __builtin_return_address(0));
}
__attribute__((noinline)) void RaiseIoError(int code, std::string what) {
    Raise(ErrorClass::InOutError, code, __builtin_return_address(0), std::move(what));
}
__attribute__((noinline)) void RaiseResourceError(int code) {
    if (code == IoNotEnoughMemory) Raise(ErrorClass::OutOfMemory, 0, __builtin_return_address(0));
    Raise(ErrorClass::InOutError, code, __builtin_return_address(0));
}

void Halt(int exitCode) {
    throw HaltRequest{exitCode};
}

std::string_view ErrorClassName(ErrorClass cls) {
    switch (cls) {
    case ErrorClass::RangeError:
        return "ERangeError";
    case ErrorClass::IntOverflow:
        return "EIntOverflow";
    case ErrorClass::InOutError:
        return "EInOutError";
    case ErrorClass::OutOfMemory:
        return "EOutOfMemory";
    case ErrorClass::LibraryError:
        return "ELibraryError";
    case ErrorClass::UnknownError:
        break;
    }
    return "EUnknownError";
}

std::string ErrorMessage(const RunError& err) {
    switch (err.Class) {
    case ErrorClass::RangeError:
        return "Range check error";
    case ErrorClass::IntOverflow:
        return "Integer overflow";
    case ErrorClass::OutOfMemory:
        return "Out of memory";
    case ErrorClass::LibraryError:
        return err.Detail.empty() ? "C++ library error" : err.Detail;
    case ErrorClass::UnknownError:
        return "Unknown exception";
    case ErrorClass::InOutError:
        break;
    }
    switch (err.Code) {
    case IoFileNotFound:
        return "File not found";
    case IoAccessDenied:
        return "File access denied";
    case IoDiskFull:
        return "Disk full";
    case IoTooManyOpenFiles:
        return "Too many open files";
    case IoNotEnoughMemory:
        return "Out of memory";
    default:
        return "I/O error " + std::to_string(IoErrorNumber(err.Code));
    }
}

std::string FormatRunError(const RunError& err, std::string_view module) {
    static const char digits[] = "0123456789ABCDEF";
    std::string addr(8, '0');
    auto offset = static_cast<std::uint32_t>(err.Offset);
    for (int i = 7; i >= 0; --i, offset >>= 4)
        addr[static_cast<std::size_t>(i)] = digits[offset & 15];
    std::string msg = ErrorMessage(err);
    if (msg.empty() || msg.back() != '.') msg += '.';
    std::string out = "Exception ";
    out.append(ErrorClassName(err.Class)).append(" in module ").append(module);
    out.append(" at ").append(addr).append(".\r\n").append(msg).append("\r\n");
    return out;
}

std::string FormatPosixRunError(const RunError& err) {
    std::string reason;
    switch (err.Class) {
    case ErrorClass::InOutError:
        reason = err.Reason.empty() ? ErrorMessage(err) : err.Reason;
        break;
    case ErrorClass::RangeError:
        reason = "range check error";
        break;
    case ErrorClass::IntOverflow:
        reason = "integer overflow";
        break;
    case ErrorClass::OutOfMemory:
        reason = "out of memory";
        break;
    case ErrorClass::LibraryError:
    case ErrorClass::UnknownError:
        reason = ErrorMessage(err);
        break;
    }
    std::string out = "kelpo32: ";
    if (!err.What.empty()) {
        out.append(err.What).append(": ");
    } else if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z' &&
               !(reason.size() > 1 && reason[1] >= 'A' && reason[1] <= 'Z')) {
        // A sentence of its own starts in lower case ("too many open files");
        // an abbreviation keeps its capitals.
        reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    }
    return out.append(reason).append("\n");
}

void AddExitProc(void (*proc)()) {
    ExitProcs().push_back(proc);
}

int RunProgram(void (*body)()) {
    int exitCode = 0;
    bool failed = false;
    RunError first{};
    // Only the first uncaught error is reported; later ones (a flush of the
    // same full disk, say) would only repeat it.
    auto fail = [&](RunError err) {
        if (!failed) first = std::move(err);
        failed = true;
        exitCode = 1;
    };
    auto guarded = [&](auto&& step) {
        try {
            step();
        } catch (const HaltRequest& h) {
            if (!failed) exitCode = h.ExitCode;
        } catch (const RunError& err) {
            fail(err);
        } catch (const std::bad_alloc&) {
            fail(RunError{ErrorClass::OutOfMemory, 0, 0});
        } catch (const std::exception& e) {
            // Whatever else reaches the top still ends through the shut-downs
            // (the console is restored) with one message and exit code 1.
            RunError err{ErrorClass::LibraryError, 0, 0};
            try {
                err.Detail = OneLine(e.what());
            } catch (const std::bad_alloc&) {
                // The class name alone then, when even that copy fails.
            }
            fail(std::move(err));
        } catch (...) {
            fail(RunError{ErrorClass::UnknownError, 0, 0});
        }
    };
    guarded(body);
    guarded([] { StdOut().Flush(); });
    auto& procs = ExitProcs();
    while (!procs.empty()) {
        auto proc = procs.back();
        procs.pop_back();
        guarded(proc);
    }
    guarded([] { StdOut().Flush(); });
    if (failed) {
        try {
            WriteStdErr(UncaughtErrorText(first));
        } catch (const std::bad_alloc&) {
            // No room even for the message's text.
            WriteStdErr(OutOfMemoryText());
        }
    }
    return exitCode;
}

} // namespace runtime
