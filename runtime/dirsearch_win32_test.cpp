// The Win32 directory search, run under Wine.
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/test_support_win32.h"

#include <gtest/gtest.h>

#include "runtime/win32_support.h"

#include <map>
#include <string>
#include <utility>

namespace {

using runtime::testing::MakeFile;
using runtime::testing::TempDir;

struct Entry {
    std::uint32_t Attr;
    std::uint64_t Size;
};

std::map<std::string, Entry> ReadAll(const std::string& dir, runtime::DirIdentity* id = nullptr,
                                     runtime::DirResult* last = nullptr) {
    std::map<std::string, Entry> out;
    runtime::DirHandle handle;
    runtime::DirIdentity identity;
    if (runtime::OpenDirPath(dir, "", handle, identity).Fault != runtime::DirFault::None)
        return out;
    if (id != nullptr) *id = identity;
    runtime::DirReader reader;
    runtime::DirResult result = runtime::StartReading(handle, reader);
    runtime::DirEntry e;
    while (result.Fault == runtime::DirFault::None && runtime::ReadEntry(handle, reader, e, result))
        out[e.Name] = Entry{e.Attr, e.Size};
    if (last != nullptr) *last = result;
    runtime::StopReading(reader);
    EXPECT_EQ(reader.Search, -1);
    runtime::CloseDir(handle);
    return out;
}

// The listing call with its second batch failing, as a share that goes away.
int BatchCalls = 0;
BOOL WINAPI FailSecondBatch(HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID buffer, DWORD size) {
    if (c == FileIdBothDirectoryInfo && ++BatchCalls == 1) {
        ::SetLastError(ERROR_NETNAME_DELETED);
        return FALSE;
    }
    return ::GetFileInformationByHandleEx(h, c, buffer, size);
}

// The listing call with the reparse tags, attributes and allocations that
// Windows gives and Wine cannot make: by name, what the system would say.
struct Told {
    const wchar_t* Name;
    DWORD AddAttr;
    ULONG Tag;
    LONGLONG Allocation; // -1: as listed
};
constexpr Told Tolds[] = {
    {L"junction", FILE_ATTRIBUTE_REPARSE_POINT, 0xA0000003, -1},
    {L"symlink", FILE_ATTRIBUTE_REPARSE_POINT, 0xA000000C, -1},
    {L"untagged", FILE_ATTRIBUTE_REPARSE_POINT, 0, -1},
    {L"cloud", FILE_ATTRIBUTE_REPARSE_POINT, 0x9000001A, -1},
    {L"compressed", 0, 0, 4096},
    {L"offline", FILE_ATTRIBUTE_OFFLINE, 0, 8192},
    {L"placeholder", 0x00400000, 0, 8192}, // recall on data access
};
// A directory's own allocation, as NTFS tells one (Wine tells 0).
constexpr LONGLONG OwnAllocation = 12288;
BOOL WINAPI TellAll(HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID buffer, DWORD size) {
    if (!::GetFileInformationByHandleEx(h, c, buffer, size)) return FALSE;
    if (c == FileStandardInfo)
        static_cast<FILE_STANDARD_INFO*>(buffer)->AllocationSize.QuadPart = OwnAllocation;
    if (c != FileIdBothDirectoryInfo && c != FileIdBothDirectoryRestartInfo) return TRUE;
    for (auto* at = static_cast<char*>(buffer);;) {
        auto* info = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(at);
        std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
        for (const Told& t : Tolds)
            if (name == t.Name) {
                info->FileAttributes |= t.AddAttr;
                if (t.Tag != 0) info->EaSize = t.Tag;
                if (t.Allocation >= 0) info->AllocationSize.QuadPart = t.Allocation;
            }
        if (info->NextEntryOffset == 0) return TRUE;
        at += info->NextEntryOffset;
    }
}

} // namespace

// Which directory reparse points are links (the name surrogates, and those
// whose tag is not told), and what a file and the directory take on disk.
TEST(DirSearchWin32, LinksAndDiskBytesFromTheListing) {
    TempDir t;
    for (const char* dir : {"junction", "symlink", "untagged", "cloud", "plain"})
        ASSERT_TRUE(::CreateDirectoryA((t.Slash() + dir).c_str(), nullptr));
    for (const char* file : {"compressed", "offline", "placeholder"})
        MakeFile(t.Slash() + file, std::string(10000, 'x'));
    runtime::win32::ReplaceListCall(TellAll);
    runtime::DirHandle handle;
    runtime::DirIdentity id;
    std::map<std::string, runtime::DirEntry> got;
    std::uint64_t own = 0;
    if (runtime::OpenDirPath(t.Slash(), "", handle, id).Fault == runtime::DirFault::None) {
        runtime::DirReader reader;
        reader.MeasureSelf = true;
        runtime::DirResult result = runtime::StartReading(handle, reader);
        own = reader.SelfDiskBytes;
        runtime::DirEntry e;
        while (result.Fault == runtime::DirFault::None &&
               runtime::ReadEntry(handle, reader, e, result))
            got[e.Name] = e;
        runtime::StopReading(reader);
        runtime::CloseDir(handle);
    }
    runtime::win32::ReplaceListCall(nullptr);
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(own, static_cast<std::uint64_t>(OwnAllocation));
    std::string links;
    for (const auto& [name, e] : got)
        if (e.Link) links += name + " ";
    EXPECT_EQ(links, "junction symlink untagged ");
    EXPECT_EQ(got["compressed"].DiskBytes, 4096u);
    EXPECT_EQ(got["compressed"].Size, 10000u);
    EXPECT_EQ(got["offline"].DiskBytes, 0u);
    EXPECT_EQ(got["placeholder"].DiskBytes, 0u);
    // No link count in the listing: counted once by the file id.
    EXPECT_EQ(got["compressed"].Links, 0u);
    EXPECT_NE(got["compressed"].Inode, 0u);
}

// A listing that fails after its first batch is a read failure of the
// directory, never a quiet end that would show it with fewer files.
TEST(DirSearchWin32, ListingThatFailsMidwayIsAFault) {
    TempDir t;
    for (int i = 0; i < 400; ++i) // about 300 bytes each: more than one 64 KiB batch
        MakeFile(t.Slash() + std::string(100, 'n') + std::to_string(i), "");
    BatchCalls = 0;
    runtime::win32::ReplaceListCall(FailSecondBatch);
    runtime::DirResult result;
    std::size_t count = ReadAll(t.Slash(), nullptr, &result).size();
    runtime::win32::ReplaceListCall(nullptr);
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, 400u);
    EXPECT_EQ(result.Fault, runtime::DirFault::Unexpected);
    EXPECT_EQ(result.Code, ERROR_NETNAME_DELETED);
}

TEST(DirSearchWin32, DeliversEveryEntryWithAttributesAndSizes) {
    TempDir t;
    MakeFile(t.Slash() + "a.txt", "abc");
    MakeFile(t.Slash() + "empty", "");
    MakeFile(t.Slash() + "hidden.sys", "12345");
    ::SetFileAttributesA((t.Slash() + "hidden.sys").c_str(),
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(::CreateDirectoryA((t.Slash() + "sub").c_str(), nullptr));

    auto entries = ReadAll(t.Slash());
    ASSERT_EQ(entries.size(), 4u); // "." and ".." are left out
    EXPECT_NE(entries["sub"].Attr & runtime::AttrDirectory, 0u);
    EXPECT_EQ(entries["a.txt"].Attr & runtime::AttrDirectory, 0u);
    EXPECT_EQ(entries["a.txt"].Size, 3u);
    EXPECT_EQ(entries["empty"].Size, 0u);
    EXPECT_EQ(entries["hidden.sys"].Size, 5u);
    EXPECT_EQ(entries["hidden.sys"].Attr & (runtime::AttrHidden | runtime::AttrSystem),
              runtime::AttrHidden | runtime::AttrSystem);
}

// Shares and drive roots; the walk's long paths are tested end to end.
TEST(DirSearchWin32, LongPathPrefixes) {
    using runtime::win32::LongPath;
    EXPECT_EQ(LongPath(L"\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
    EXPECT_EQ(LongPath(L"\\\\?\\C:\\a."), L"\\\\?\\C:\\a.");
    EXPECT_EQ(runtime::win32::WideFromNative(runtime::NativeDirPath("C:", "")), L"\\\\?\\C:\\");
}

// A final dot or blank of the last name is kept; everything before it, and
// "." or "..", resolve by the system's rules.
TEST(DirSearchWin32, TypedPathsKeepTheirLastName) {
    using runtime::win32::TypedLongPath;
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\a\\dot.", L"\\\\?\\C:\\a\\dot."},
        {L"C:\\a\\x.y.\\", L"\\\\?\\C:\\a\\x.y."},
        {L"C:/a/mix. .", L"\\\\?\\C:\\a\\mix. ."},
        {L"C:\\a\\sp ", L"\\\\?\\C:\\a\\sp "},
        {L"C:\\a.\\b\\..", L"\\\\?\\C:\\a"},
        {L"C:\\a\\plain", L"\\\\?\\C:\\a\\plain"},
        {L"\\\\server\\share\\d.", L"\\\\?\\UNC\\server\\share\\d."},
    };
    for (const auto& [typed, full] : cases)
        EXPECT_EQ(TypedLongPath(typed), full) << std::wstring(typed).size();
}

// A directory below the start takes its identity from its parent's volume and
// its own file id: it must equal the identity the system gives a start
// directory, and a link back to an ancestor must have that ancestor's, or the
// cycle guard would enter it.
TEST(DirSearchWin32, IdentitiesBelowTheStartAreTheSystemsOwn) {
    TempDir t;
    ASSERT_TRUE(::CreateDirectoryA((t.Slash() + "sub").c_str(), nullptr));
    runtime::DirHandle top, sub, up;
    runtime::DirIdentity topId, subId, upId, direct;
    ASSERT_EQ(runtime::OpenDirPath(t.Slash(), "", top, topId).Fault, runtime::DirFault::None);
    auto before = runtime::SearchCounts();
    ASSERT_EQ(runtime::OpenDirAt(top, runtime::win32::NativeBytes(L"sub"), 0, sub, subId).Fault,
              runtime::DirFault::None);
    EXPECT_EQ(runtime::SearchCounts().Opens, before.Opens + 1);
    ReadAll(t.Slash() + "sub\\", &direct);
    EXPECT_EQ(subId, direct);
    EXPECT_EQ(subId.Volume, topId.Volume);
    // The parent's listing names the same file id.
    runtime::DirReader reader;
    runtime::DirEntry e;
    runtime::DirResult result = runtime::StartReading(top, reader);
    ASSERT_TRUE(runtime::ReadEntry(top, reader, e, result));
    runtime::StopReading(reader);
    EXPECT_EQ(e.Type, runtime::EntryType::Directory);
    EXPECT_EQ((runtime::DirIdentity{e.Device, e.Inode}), direct);
    // Wine 8 reports success without making the link; the end-to-end tests
    // use a link of the host's there.
    std::string link = t.Slash() + "sub\\up";
    if (::CreateSymbolicLinkA(link.c_str(), "..", SYMBOLIC_LINK_FLAG_DIRECTORY) &&
        ::GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ASSERT_EQ(runtime::OpenDirAt(sub, runtime::win32::NativeBytes(L"up"), 0, up, upId).Fault,
                  runtime::DirFault::None);
        EXPECT_EQ(upId, topId);
        runtime::CloseDir(up);
    }
    runtime::CloseDir(sub);
    runtime::CloseDir(top);
}

// The search by path (file systems that refuse the listing through a handle)
// delivers the same entries in the same order.
TEST(DirSearchWin32, SearchByPathListsTheSame) {
    TempDir t;
    for (const char* name : {"b.txt", "a", "dot.", "c d "})
        MakeFile(t.Slash() + name, name);
    ASSERT_TRUE(::CreateDirectoryA((t.Slash() + "sub").c_str(), nullptr));
    auto byHandle = ReadAll(t.Slash());
    runtime::win32::UseSearchOnly(true);
    auto bySearch = ReadAll(t.Slash());
    runtime::win32::UseSearchOnly(false);
    ASSERT_EQ(byHandle.size(), 5u);
    for (const auto& [name, e] : byHandle) {
        EXPECT_EQ(bySearch[name].Attr, e.Attr) << name;
        EXPECT_EQ(bySearch[name].Size, e.Size) << name;
    }
}

TEST(DirSearchWin32, EmptyPathSearchesTheCurrentDirectory) {
    TempDir t;
    MakeFile(t.Slash() + "here.txt", "x");
    std::string saved, savedNative;
    ASSERT_EQ(runtime::GetCurrentDir(saved, savedNative), 0);
    ASSERT_EQ(runtime::ChangeDir(t.Path()), 0);
    runtime::DirIdentity viaEmpty;
    auto entries = ReadAll("", &viaEmpty);
    ASSERT_EQ(runtime::ChangeDir(saved, savedNative), 0);
    EXPECT_TRUE(entries.count("here.txt"));
    runtime::DirIdentity viaPath;
    ReadAll(t.Slash(), &viaPath);
    EXPECT_EQ(viaEmpty, viaPath);
}

TEST(DirSearchWin32, MissingDirectoryCannotBeOpened) {
    TempDir t;
    runtime::DirHandle handle;
    runtime::DirIdentity id;
    EXPECT_EQ(runtime::OpenDirPath(t.Slash() + "nowhere\\", "", handle, id).Fault,
              runtime::DirFault::Unreadable);
    EXPECT_FALSE(handle.IsOpen());
    runtime::DirReader reader;
    EXPECT_EQ(runtime::StartReading(handle, reader).Fault, runtime::DirFault::Unreadable);
    runtime::DirEntry e;
    runtime::DirResult result;
    EXPECT_FALSE(runtime::ReadEntry(handle, reader, e, result));
    runtime::StopReading(reader); // harmless
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
    runtime::DirIdentity top, a, b, aAgain, aOther;
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
    EXPECT_EQ(runtime::PathSeparator(), '\\');
    EXPECT_TRUE(runtime::PathsIgnoreCase());
    char windows[MAX_PATH + 1];
    UINT n = ::GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_GE(n, 3u);
    std::string root(windows, 3); // "C:\"
    auto entries = ReadAll(root);
    EXPECT_FALSE(entries.empty());
    runtime::DirIdentity id;
    ReadAll(root, &id);
    EXPECT_FALSE(id == runtime::DirIdentity{}) << "the root should be identified";
}

TEST(DirSearchWin32, CountersGrow) {
    TempDir t;
    auto before = runtime::SearchCounts();
    ReadAll(t.Slash());
    auto after = runtime::SearchCounts();
    EXPECT_EQ(after.Opens, before.Opens + 1);
    EXPECT_EQ(after.Entries, before.Entries); // "." and ".." are left out
    EXPECT_EQ(after.Stats, 0u);
}
