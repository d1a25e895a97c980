// The Win32 current-directory calls, run under Wine.
#include "runtime/curdir.h"

#include "runtime/rtl.h"
#include "runtime/test_support_win32.h"
#include "runtime/win32_support.h"

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

// The current directory is left and entered again by the name as typed: a
// final dot or blank is kept, not dropped to reach a sibling.
TEST(CurDirWin32, NamesEndingInDotOrBlank) {
    TempDir t;
    std::string saved, savedNative;
    ASSERT_EQ(runtime::GetCurrentDir(saved, savedNative), 0);
    for (const char* name : {"dot.", "sp "}) {
        std::wstring wide = runtime::win32::LongPath(runtime::win32::WideFromOem(t.Slash())) +
                            runtime::win32::WideFromOem(name);
        ASSERT_TRUE(::CreateDirectoryW(wide.c_str(), nullptr)) << name;
        ASSERT_EQ(runtime::ChangeDir(t.Slash() + name), 0) << name;
        std::string now, nowNative;
        ASSERT_EQ(runtime::GetCurrentDir(now, nowNative), 0);
        EXPECT_TRUE(now.ends_with(name)) << now;
        ASSERT_EQ(runtime::ChangeDir(saved, savedNative), 0);
        ASSERT_EQ(runtime::ChangeDir(now, nowNative), 0) << "restoring " << now;
        ASSERT_EQ(runtime::ChangeDir(saved, savedNative), 0);
    }
    ASSERT_TRUE(::CreateDirectoryA((t.Slash() + "only").c_str(), nullptr));
    EXPECT_EQ(runtime::ChangeDir(t.Slash() + "only."), runtime::IoFileNotFound);
}

} // namespace
