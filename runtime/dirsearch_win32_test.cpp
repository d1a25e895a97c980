// The Win32 directory search, run under Wine.
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/test_support_win32.h"

#include <gtest/gtest.h>

#include "runtime/win32_support.h"

#include <map>
#include <string>

namespace {

using rtl::testing::MakeFile;
using rtl::testing::TempDir;

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
