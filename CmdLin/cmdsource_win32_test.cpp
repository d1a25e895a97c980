// The Win32 command-line source, run under Wine.
#include "CmdLin/cmdsource.h"

#include "runtime/win32_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CmdSourceWin32, CommandLineOfTheProcess) {
    // CTest starts the test without arguments; the Windows command line is
    // split afresh, whatever the process's argv says.
    std::string line = ::GetCommandLineA();
    if (line.find(" --gtest") == std::string::npos) {
        EXPECT_EQ(CmdLin::SourceArgCount(), 0) << line;
    }
    EXPECT_EQ(CmdLin::SourceArg(0), "");
    EXPECT_EQ(CmdLin::SourceArg(99), "");
    std::string path = CmdLin::ProgramPath();
    ASSERT_GT(path.size(), 24u);
    EXPECT_EQ(::lstrcmpiA(path.substr(path.size() - 23).c_str(), "win32_platform_test.exe"), 0)
        << path;
    EXPECT_NE(path.find('\\'), std::string::npos);
}

TEST(CmdSourceWin32, SwitchText) {
    EXPECT_TRUE(CmdLin::IsSwitchText("/T"));
    EXPECT_TRUE(CmdLin::IsSwitchText("-n"));
    EXPECT_TRUE(CmdLin::IsSwitchText("/"));
    EXPECT_FALSE(CmdLin::IsSwitchText("C:\\"));
    EXPECT_FALSE(CmdLin::IsSwitchText(""));
}

} // namespace
