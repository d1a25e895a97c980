#include "runtime/rtl.h"

#include "runtime/textout.h"

#include <climits>
#include <gtest/gtest.h>
#include <new>
#include <vector>

namespace rtl {
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
    EXPECT_EQ(RaisedBy([] { CheckedIndex(81, 1, 80); }), ErrorClass::RangeError);
}

std::vector<int> Order;

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
    EXPECT_NE(err.find("Exception ERangeError in module "), std::string::npos) << err;
    EXPECT_EQ(err.find("Disk full"), std::string::npos);
}

TEST(ExitPath, HaltKeepsItsExitCodeAndOutOfMemoryIsReported) {
    EXPECT_EQ(RunProgram([] { Halt(7); }), 7);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProgram([] { throw std::bad_alloc(); }), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Out of memory."), std::string::npos);
}

} // namespace
} // namespace rtl
