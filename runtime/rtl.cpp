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

[[noreturn]] __attribute__((noinline)) void Raise(ErrorClass cls, int code, void* at) {
    throw RunError{cls, code, CodeOffset(reinterpret_cast<std::uintptr_t>(at))};
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
    if (failed) WriteStdErr(FormatRunError(first, ProgramModuleName()));
    return exitCode;
}

} // namespace runtime
