// Win32 back ends of the runtime, run under Wine: directory search, current
// directory, file output and error codes, program name and command line.
#include "CmdLin/cmdsource.h"
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <gtest/gtest.h>

#include "runtime/win32_support.h"

#include <map>
#include <string>

namespace {

// A fresh directory under the temporary folder, removed with its contents.
class TempDir {
  public:
    TempDir() {
        char base[MAX_PATH + 1];
        DWORD n = ::GetTempPathA(sizeof base, base);
        EXPECT_GT(n, 0u);
        for (unsigned i = 0;; ++i) {
            path_ = std::string(base, n) + "kelpo32w" + std::to_string(::GetCurrentProcessId()) +
                    "_" + std::to_string(i);
            if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
        }
    }
    ~TempDir() { Remove(path_); }
    const std::string& Path() const { return path_; }
    std::string Slash() const { return path_ + "\\"; }

  private:
    static void Remove(const std::string& dir) {
        WIN32_FIND_DATAA d;
        HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = d.cFileName;
                if (name == "." || name == "..") continue;
                std::string full = dir + "\\" + name;
                ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(full);
                else
                    ::DeleteFileA(full.c_str());
            } while (::FindNextFileA(h, &d));
            ::FindClose(h);
        }
        ::RemoveDirectoryA(dir.c_str());
    }
    std::string path_;
};

void MakeFile(const std::string& name, const std::string& content) {
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(h);
}

struct Entry {
    std::uint32_t Attr;
    std::uint64_t Size;
};

std::map<std::string, Entry> ReadAll(const std::string& dir, rtl::DirIdentity* id = nullptr) {
    std::map<std::string, Entry> out;
    rtl::SearchRec rec;
    if (!rtl::FindOpen(dir, rec)) return out;
    if (id != nullptr) *id = rec.Dir;
    while (rtl::FindNextEntry(rec))
        out[rec.Name] = Entry{rec.Attr, rec.Size};
    rtl::FindClose(rec);
    EXPECT_EQ(rec.Handle, -1);
    return out;
}

std::string ReadFileText(const std::string& name) {
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buf[4096];
    DWORD read = 0;
    ::ReadFile(h, buf, sizeof buf, &read, nullptr);
    ::CloseHandle(h);
    return std::string(buf, read);
}

} // namespace

TEST(DirSearchWin32, DeliversEveryEntryWithAttributesAndSizes) {
    TempDir t;
    MakeFile(t.Slash() + "a.txt", "abc");
    MakeFile(t.Slash() + "empty", "");
    MakeFile(t.Slash() + "hidden.sys", "12345");
    ::SetFileAttributesA((t.Slash() + "hidden.sys").c_str(),
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(::CreateDirectoryA((t.Slash() + "sub").c_str(), nullptr));

    auto entries = ReadAll(t.Slash());
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_TRUE(entries.count("."));
    EXPECT_TRUE(entries.count(".."));
    EXPECT_NE(entries["."].Attr & rtl::AttrDirectory, 0u);
    EXPECT_NE(entries["sub"].Attr & rtl::AttrDirectory, 0u);
    EXPECT_EQ(entries["a.txt"].Attr & rtl::AttrDirectory, 0u);
    EXPECT_EQ(entries["a.txt"].Size, 3u);
    EXPECT_EQ(entries["empty"].Size, 0u);
    EXPECT_EQ(entries["hidden.sys"].Size, 5u);
    EXPECT_EQ(entries["hidden.sys"].Attr & (rtl::AttrHidden | rtl::AttrSystem),
              rtl::AttrHidden | rtl::AttrSystem);
}

// Shares and drive roots; the walk's long paths are tested end to end.
TEST(DirSearchWin32, LongPathPrefixes) {
    using rtl::win32::LongPath;
    EXPECT_EQ(LongPath(L"\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
    EXPECT_EQ(LongPath(L"\\\\?\\C:\\a."), L"\\\\?\\C:\\a.");
    EXPECT_EQ(rtl::win32::WideFromNative(rtl::NativeDirPath("C:", "")), L"\\\\?\\C:\\");
}

TEST(DirSearchWin32, EmptyPathSearchesTheCurrentDirectory) {
    TempDir t;
    MakeFile(t.Slash() + "here.txt", "x");
    std::string saved, savedNative;
    ASSERT_EQ(rtl::GetCurrentDir(saved, savedNative), 0);
    ASSERT_EQ(rtl::ChangeDir(t.Path()), 0);
    rtl::DirIdentity viaEmpty;
    auto entries = ReadAll("", &viaEmpty);
    ASSERT_EQ(rtl::ChangeDir(saved, savedNative), 0);
    EXPECT_TRUE(entries.count("here.txt"));
    rtl::DirIdentity viaPath;
    ReadAll(t.Slash(), &viaPath);
    EXPECT_EQ(viaEmpty, viaPath);
}

TEST(DirSearchWin32, MissingDirectoryCannotBeOpened) {
    TempDir t;
    rtl::SearchRec rec;
    EXPECT_FALSE(rtl::FindOpen(t.Slash() + "nowhere\\", rec));
    EXPECT_EQ(rec.Handle, -1);
    EXPECT_FALSE(rtl::FindNextEntry(rec));
    rtl::FindClose(rec); // harmless
}

TEST(DirSearchWin32, SizesAboveFourGigabytes) {
    TempDir t;
    std::string name = t.Slash() + "big.bin";
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 5000000000LL;
    bool grown = ::SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
    ::CloseHandle(h);
    if (!grown) GTEST_SKIP() << "the file system cannot hold a 5 GB file";
    auto entries = ReadAll(t.Slash());
    EXPECT_EQ(entries["big.bin"].Size, 5000000000ULL);
}

TEST(DirSearchWin32, IdentitiesTellDirectoriesApart) {
    TempDir t;
    ASSERT_TRUE(::CreateDirectoryA((t.Slash() + "a").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((t.Slash() + "b").c_str(), nullptr));
    rtl::DirIdentity top, a, b, aAgain, aOther;
    ReadAll(t.Slash(), &top);
    ReadAll(t.Slash() + "a\\", &a);
    ReadAll(t.Slash() + "b\\", &b);
    ReadAll(t.Slash() + "a\\", &aAgain);
    ReadAll(t.Slash() + "b\\..\\a\\", &aOther);
    EXPECT_NE(top, a);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, aAgain);
    EXPECT_EQ(a, aOther);
}

TEST(DirSearchWin32, DriveRootAndSeparator) {
    EXPECT_EQ(rtl::PathSeparator(), '\\');
    EXPECT_TRUE(rtl::PathsIgnoreCase());
    char windows[MAX_PATH + 1];
    UINT n = ::GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_GE(n, 3u);
    std::string root(windows, 3); // "C:\"
    auto entries = ReadAll(root);
    EXPECT_FALSE(entries.empty());
    rtl::DirIdentity id;
    ReadAll(root, &id);
    EXPECT_NE(id.Volume, ~std::uint64_t{0}) << "the root should be identified";
}

TEST(DirSearchWin32, CountersGrow) {
    TempDir t;
    auto before = rtl::SearchCounts();
    ReadAll(t.Slash());
    auto after = rtl::SearchCounts();
    EXPECT_EQ(after.Opens, before.Opens + 1);
    EXPECT_EQ(after.Entries, before.Entries + 2); // "." and ".."
    EXPECT_EQ(after.Stats, 0u);
}

TEST(CurDirWin32, ChangeAndQuery) {
    TempDir t;
    std::string saved, savedNative;
    ASSERT_EQ(rtl::GetCurrentDir(saved, savedNative), 0);
    ASSERT_FALSE(saved.empty());
    ASSERT_EQ(rtl::ChangeDir(t.Path()), 0);
    std::string now, nowNative;
    ASSERT_EQ(rtl::GetCurrentDir(now, nowNative), 0);
    EXPECT_EQ(::lstrcmpiA(now.c_str(), t.Path().c_str()), 0) << now;
    EXPECT_EQ(rtl::ChangeDir(t.Slash() + "missing"), rtl::IoFileNotFound);
    EXPECT_EQ(rtl::ChangeDir(""), rtl::IoFileNotFound);
    ASSERT_EQ(rtl::ChangeDir(saved, savedNative), 0);
}

TEST(SysIoWin32, ErrorCodesMapOntoTheNeutralOnes) {
    EXPECT_EQ(rtl::Win32IoError(ERROR_FILE_NOT_FOUND), rtl::IoFileNotFound);
    EXPECT_EQ(rtl::Win32IoError(ERROR_PATH_NOT_FOUND), rtl::IoFileNotFound);
    EXPECT_EQ(rtl::Win32IoError(ERROR_ACCESS_DENIED), rtl::IoAccessDenied);
    EXPECT_EQ(rtl::Win32IoError(ERROR_DISK_FULL), rtl::IoDiskFull);
    EXPECT_EQ(rtl::Win32IoError(ERROR_HANDLE_DISK_FULL), rtl::IoDiskFull);
    // Every other code keeps the system's number, even one that equals a named code.
    auto message = [](unsigned long code) {
        return rtl::ErrorMessage({rtl::ErrorClass::InOutError, rtl::Win32IoError(code), 0});
    };
    EXPECT_EQ(message(ERROR_SHARING_VIOLATION), "I/O error 32");
    EXPECT_EQ(message(101), "I/O error 101");          // not "Disk full"
    EXPECT_EQ(message(ERROR_SUCCESS), "I/O error 31"); // a failure without a reason
}

TEST(SysIoWin32, CreateWriteClose) {
    TempDir t;
    std::string name = t.Slash() + "logfile.txt";
    MakeFile(name, "old content that must go");
    rtl::FileHandle h = rtl::NoFile;
    ASSERT_EQ(rtl::CreateFileForWrite(name, h), 0);
    ASSERT_NE(h, rtl::NoFile);
    std::string big(100000, 'x');
    EXPECT_EQ(rtl::WriteFile(h, "Level: 0\r\n", 10), 0);
    EXPECT_EQ(rtl::WriteFile(h, big.data(), big.size()), 0);
    EXPECT_EQ(rtl::CloseFile(h), 0);
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
    rtl::FileHandle h = rtl::NoFile;
    EXPECT_EQ(rtl::CreateFileForWrite(t.Slash() + "no\\such\\dir.txt", h), rtl::IoFileNotFound);
    // A directory cannot be replaced by a file.
    EXPECT_EQ(rtl::CreateFileForWrite(t.Path(), h), rtl::IoAccessDenied);
    // A write to a handle open for reading fails with the system's reason.
    std::string name = t.Slash() + "r.txt";
    MakeFile(name, "r");
    HANDLE r = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    EXPECT_NE(rtl::WriteFile(reinterpret_cast<rtl::FileHandle>(r), "x", 1), 0);
    ::CloseHandle(r);
}

TEST(SysIoWin32, StandardHandles) {
    EXPECT_EQ(rtl::StdHandle(rtl::StdStream::Input),
              reinterpret_cast<rtl::FileHandle>(::GetStdHandle(STD_INPUT_HANDLE)));
    EXPECT_EQ(rtl::StdHandle(rtl::StdStream::Output),
              reinterpret_cast<rtl::FileHandle>(::GetStdHandle(STD_OUTPUT_HANDLE)));
    EXPECT_EQ(rtl::StdHandle(rtl::StdStream::Error),
              reinterpret_cast<rtl::FileHandle>(::GetStdHandle(STD_ERROR_HANDLE)));
}

TEST(SysIoWin32, ModuleNameAndCodeOffset) {
    EXPECT_EQ(rtl::ProgramModuleName(), "win32_platform_test.exe");
    auto base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
    auto here = reinterpret_cast<std::uintptr_t>(&rtl::ProgramModuleName);
    EXPECT_EQ(rtl::CodeOffset(here), here - base);
    EXPECT_LT(rtl::CodeOffset(here), 0x01000000u);
    EXPECT_GT(rtl::CodeOffset(here), 0u);
}

TEST(SysIoWin32, ProcessArgs) {
    static char a0[] = "prog.exe";
    static char a1[] = "/T";
    static char* argv[] = {a0, a1, nullptr};
    rtl::SetProcessArgs(2, argv);
    EXPECT_EQ(rtl::ProcessArgCount(), 2);
    EXPECT_STREQ(rtl::ProcessArg(1), "/T");
    EXPECT_STREQ(rtl::ProcessArg(2), "");
    EXPECT_STREQ(rtl::ProcessArg(-1), "");
    EXPECT_EQ(rtl::ProcessArgv(), argv);
}

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
