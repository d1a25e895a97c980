#include "runtime/rtl.h"

#include "runtime/sysio.h"
#include "runtime/textout.h"

#ifndef _WIN32
#include "runtime/posix_support.h"
#endif

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace runtime {
namespace {

TEST(RunErrorMessage, FormatOfEachClass) {
    const std::pair<RunError, const char*> cases[] = {
        {{ErrorClass::InOutError, IoDiskFull, 0x1A2B},
         "Exception EInOutError in module kelpo32 at 00001A2B.\r\nDisk full.\r\n"},
        {{ErrorClass::InOutError, IoAccessDenied, 0},
         "Exception EInOutError in module kelpo32 at 00000000.\r\nFile access denied.\r\n"},
        {{ErrorClass::InOutError, IoFileNotFound, 0},
         "Exception EInOutError in module kelpo32 at 00000000.\r\nFile not found.\r\n"},
        {{ErrorClass::InOutError, 32, 0},
         "Exception EInOutError in module kelpo32 at 00000000.\r\nI/O error 32.\r\n"},
        {{ErrorClass::RangeError, 0, 0xFFFFFFFF},
         "Exception ERangeError in module kelpo32 at FFFFFFFF.\r\nRange check error.\r\n"},
        {{ErrorClass::IntOverflow, 0, 0x10},
         "Exception EIntOverflow in module kelpo32 at 00000010.\r\nInteger overflow.\r\n"},
    };
    for (const auto& [err, text] : cases)
        EXPECT_EQ(FormatRunError(err, "kelpo32"), text);
}

TEST(RunErrorMessage, SystemNumbersNeverReadAsNamedCodes) {
    for (int named : {IoFileNotFound, IoAccessDenied, IoDiskFull}) {
        RunError err{ErrorClass::InOutError, IoSystemError(named), 0};
        EXPECT_EQ(ErrorMessage(err), "I/O error " + std::to_string(named));
    }
#ifndef _WIN32
    // EIO is 5 like IoAccessDenied, but is not an access error.
    EXPECT_EQ(ErrorMessage({ErrorClass::InOutError, MapErrno(EIO), 0}), "I/O error 5");
    EXPECT_EQ(MapErrno(EACCES), IoAccessDenied);
#endif
}

// The POSIX form names what failed and the system's reason; a reason alone
// starts in lower case, whatever the program's file is called.
TEST(RunErrorMessage, PosixFormNamesWhatAndWhy) {
    auto io = [](std::string what, std::string reason) {
        RunError err{ErrorClass::InOutError, IoDiskFull, 0x10};
        err.What = std::move(what);
        err.Reason = std::move(reason);
        return err;
    };
    const std::pair<RunError, const char*> cases[] = {
        {io("write error", "No space left on device"),
         "kelpo32: write error: No space left on device\n"},
        {io("cannot create 'logfile.txt'", "Permission denied"),
         "kelpo32: cannot create 'logfile.txt': Permission denied\n"},
        {io("", "Too many open files"), "kelpo32: too many open files\n"},
        {io("", "EOF on input"), "kelpo32: EOF on input\n"},
        {io("write error", ""), "kelpo32: write error: Disk full\n"},
        {{ErrorClass::OutOfMemory, 0, 0}, "kelpo32: out of memory\n"},
        {{ErrorClass::IntOverflow, 0, 0}, "kelpo32: integer overflow\n"},
        {{ErrorClass::RangeError, 0, 0}, "kelpo32: range check error\n"},
    };
    for (const auto& [err, text] : cases)
        EXPECT_EQ(FormatPosixRunError(err), text);
}

#ifndef _WIN32
// The reason of an error raised from a code is the errno that gave it, or the
// one the code stands for when another came between.
TEST(RunErrorMessage, PosixReasonIsTheErrnoBehindTheCode) {
    EXPECT_EQ(IoErrorReason(MapErrno(EFBIG)), "File too large");
    EXPECT_EQ(IoErrorReason(MapErrno(EROFS)), "Read-only file system");
    MapErrno(ENOENT);
    EXPECT_EQ(IoErrorReason(IoDiskFull), "No space left on device");
    EXPECT_EQ(IoErrorReason(MapErrno(EMFILE)), "Too many open files");
    EXPECT_EQ(IoErrorReason(IoSystemError(EBADF)), "Bad file descriptor");
    EXPECT_TRUE(IsBadHandleError(MapErrno(EBADF)));
    EXPECT_FALSE(IsBadHandleError(MapErrno(ENOSPC)));
}
#endif

template <class F> ErrorClass RaisedBy(F f) {
    try {
        f();
    } catch (const RunError& err) {
        return err.Class;
    }
    return ErrorClass::OutOfMemory; // nothing raised
}

TEST(CheckedArithmetic, OverflowAndRangeAreErrors) {
    EXPECT_EQ(CheckedAdd<std::int32_t>(INT_MAX - 1, 1), INT_MAX);
    EXPECT_EQ(RaisedBy([] { CheckedAdd<std::int32_t>(INT_MAX, 1); }), ErrorClass::IntOverflow);
    EXPECT_EQ(RaisedBy([] { CheckedSub<std::int32_t>(INT_MIN, 1); }), ErrorClass::IntOverflow);
    EXPECT_EQ(RaisedBy([] { CheckedAdd<std::int64_t>(INT64_MAX, 1); }), ErrorClass::IntOverflow);
    EXPECT_EQ(RaisedBy([] { CheckedRange<std::int64_t>(std::uint64_t{1} << 63); }),
              ErrorClass::RangeError);
    EXPECT_EQ(CheckedRange<std::int64_t>(std::uint64_t{INT64_MAX}), INT64_MAX);
}

std::vector<int> Order;

#ifdef _WIN32
constexpr bool WindowsForm = true;
#else
constexpr bool WindowsForm = false;
#endif

TEST(ExitPath, ShutDownsRunInReverseAndTheFirstErrorWins) {
    Order.clear();
    AddExitProc([] { Order.push_back(1); });
    AddExitProc([] {
        Order.push_back(2);
        RaiseIoError(IoDiskFull); // a later failure does not replace the first
    });
    AddExitProc([] { Order.push_back(3); });
    testing::internal::CaptureStderr();
    int code = RunProgram([] { RaiseRangeError(); });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1);
    EXPECT_EQ(Order, (std::vector<int>{3, 2, 1}));
    EXPECT_NE(
        err.find(WindowsForm ? "Exception ERangeError in module " : "kelpo32: range check error\n"),
        std::string::npos)
        << err;
    EXPECT_EQ(err.find("Disk full"), std::string::npos);
}

TEST(ExitPath, HaltKeepsItsExitCodeAndOutOfMemoryIsReported) {
    EXPECT_EQ(RunProgram([] { Halt(7); }), 7);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProgram([] { throw std::bad_alloc(); }), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(WindowsForm ? "Out of memory."
                                                                      : "kelpo32: out of memory"),
              std::string::npos);
}

TEST(ExitPath, AnyOtherThrowRunsTheShutDownsAndEndsWithOneMessage) {
    struct Case {
        void (*Body)();
        const char* Head;  // the class name and what follows it
        const char* Tail;  // the message line
        const char* Posix; // the whole message in the POSIX form
    };
    const Case cases[] = {
        {[] { throw std::length_error("string\ntoo long"); }, "Exception ELibraryError in module ",
         " at 00000000.\nstring too long.\n", "kelpo32: string too long\n"},
        {[] {
             throw std::system_error(
                 std::make_error_code(std::errc::resource_unavailable_try_again));
         },
         "Exception ELibraryError in module ", ".\n",
         "kelpo32: resource temporarily unavailable\n"},
        {[] { throw 42; }, "Exception EUnknownError in module ",
         " at 00000000.\nUnknown exception.\n", "kelpo32: unknown exception\n"},
    };
    for (const auto& c : cases) {
        Order.clear();
        AddExitProc([] { Order.push_back(1); });
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunProgram(c.Body), 1);
        std::string err = testing::internal::GetCapturedStderr();
        std::erase(err, '\r'); // the capture on Windows reads in text mode
        EXPECT_EQ(Order, std::vector<int>{1});
        if (!WindowsForm) {
            EXPECT_EQ(err, c.Posix);
            continue;
        }
        EXPECT_EQ(err.rfind(c.Head, 0), 0u) << err;
        EXPECT_TRUE(err.ends_with(c.Tail)) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    }
}

} // namespace
} // namespace runtime
