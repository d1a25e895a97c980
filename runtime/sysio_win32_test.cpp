// The Win32 file output, error codes, standard handles, program image and
// process arguments, run under Wine.
#include "runtime/sysio.h"

#include "runtime/rtl.h"
#include "runtime/test_support_win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using runtime::testing::MakeFile;
using runtime::testing::ReadFileText;
using runtime::testing::TempDir;

TEST(SysIoWin32, ErrorCodesMapOntoTheNeutralOnes) {
    EXPECT_EQ(runtime::Win32IoError(ERROR_FILE_NOT_FOUND), runtime::IoFileNotFound);
    EXPECT_EQ(runtime::Win32IoError(ERROR_PATH_NOT_FOUND), runtime::IoFileNotFound);
    EXPECT_EQ(runtime::Win32IoError(ERROR_ACCESS_DENIED), runtime::IoAccessDenied);
    EXPECT_EQ(runtime::Win32IoError(ERROR_DISK_FULL), runtime::IoDiskFull);
    EXPECT_EQ(runtime::Win32IoError(ERROR_HANDLE_DISK_FULL), runtime::IoDiskFull);
    // Every other code keeps the system's number, even one that equals a named code.
    auto message = [](unsigned long code) {
        return runtime::ErrorMessage(
            {runtime::ErrorClass::InOutError, runtime::Win32IoError(code), 0});
    };
    EXPECT_EQ(message(ERROR_SHARING_VIOLATION), "I/O error 32");
    EXPECT_EQ(message(101), "I/O error 101");          // not "Disk full"
    EXPECT_EQ(message(ERROR_SUCCESS), "I/O error 31"); // a failure without a reason
}

TEST(SysIoWin32, CreateWriteClose) {
    TempDir t;
    std::string name = t.Slash() + "logfile.txt";
    MakeFile(name, "old content that must go");
    runtime::FileHandle h = runtime::NoFile;
    ASSERT_EQ(runtime::CreateFileForWrite(name, h), 0);
    ASSERT_NE(h, runtime::NoFile);
    std::string big(100000, 'x');
    EXPECT_EQ(runtime::WriteFile(h, "Level: 0\r\n", 10), 0);
    EXPECT_EQ(runtime::WriteFile(h, big.data(), big.size()), 0);
    EXPECT_EQ(runtime::CloseFile(h), 0);
    HANDLE f = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    ::GetFileSizeEx(f, &size);
    ::CloseHandle(f);
    EXPECT_EQ(size.QuadPart, 100010);
    EXPECT_EQ(ReadFileText(name).substr(0, 10), "Level: 0\r\n");
}

TEST(SysIoWin32, CreateFailures) {
    TempDir t;
    runtime::FileHandle h = runtime::NoFile;
    EXPECT_EQ(runtime::CreateFileForWrite(t.Slash() + "no\\such\\dir.txt", h),
              runtime::IoFileNotFound);
    // A directory cannot be replaced by a file.
    EXPECT_EQ(runtime::CreateFileForWrite(t.Path(), h), runtime::IoAccessDenied);
    // A write to a handle open for reading fails with the system's reason.
    std::string name = t.Slash() + "r.txt";
    MakeFile(name, "r");
    HANDLE r = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    EXPECT_NE(runtime::WriteFile(reinterpret_cast<runtime::FileHandle>(r), "x", 1), 0);
    ::CloseHandle(r);
}

TEST(SysIoWin32, StandardHandles) {
    EXPECT_EQ(runtime::StdHandle(runtime::StdStream::Input),
              reinterpret_cast<runtime::FileHandle>(::GetStdHandle(STD_INPUT_HANDLE)));
    EXPECT_EQ(runtime::StdHandle(runtime::StdStream::Output),
              reinterpret_cast<runtime::FileHandle>(::GetStdHandle(STD_OUTPUT_HANDLE)));
    EXPECT_EQ(runtime::StdHandle(runtime::StdStream::Error),
              reinterpret_cast<runtime::FileHandle>(::GetStdHandle(STD_ERROR_HANDLE)));
}

TEST(SysIoWin32, ModuleNameAndCodeOffset) {
    EXPECT_EQ(runtime::ProgramModuleName(), "win32_platform_test.exe");
    auto base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
    auto here = reinterpret_cast<std::uintptr_t>(&runtime::ProgramModuleName);
    EXPECT_EQ(runtime::CodeOffset(here), here - base);
    EXPECT_LT(runtime::CodeOffset(here), 0x01000000u);
    EXPECT_GT(runtime::CodeOffset(here), 0u);
}

TEST(SysIoWin32, ProcessArgs) {
    static char a0[] = "prog.exe";
    static char a1[] = "/T";
    static char* argv[] = {a0, a1, nullptr};
    runtime::SetProcessArgs(2, argv);
    EXPECT_EQ(runtime::ProcessArgCount(), 2);
    EXPECT_STREQ(runtime::ProcessArg(1), "/T");
    EXPECT_STREQ(runtime::ProcessArg(2), "");
    EXPECT_STREQ(runtime::ProcessArg(-1), "");
    EXPECT_EQ(runtime::ProcessArgv(), argv);
}

} // namespace
