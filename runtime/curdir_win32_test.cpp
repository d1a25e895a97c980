// The Win32 current-directory calls, run under Wine.
#include "runtime/curdir.h"

#include "runtime/rtl.h"
#include "runtime/test_support_win32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using runtime::testing::TempDir;

TEST(CurDirWin32, ChangeAndQuery) {
    TempDir t;
    std::string saved, savedNative;
    ASSERT_EQ(runtime::GetCurrentDir(saved, savedNative), 0);
    ASSERT_FALSE(saved.empty());
    ASSERT_EQ(runtime::ChangeDir(t.Path()), 0);
    std::string now, nowNative;
    ASSERT_EQ(runtime::GetCurrentDir(now, nowNative), 0);
    EXPECT_EQ(::lstrcmpiA(now.c_str(), t.Path().c_str()), 0) << now;
    EXPECT_EQ(runtime::ChangeDir(t.Slash() + "missing"), runtime::IoFileNotFound);
    EXPECT_EQ(runtime::ChangeDir(""), runtime::IoFileNotFound);
    ASSERT_EQ(runtime::ChangeDir(saved, savedNative), 0);
}

} // namespace
