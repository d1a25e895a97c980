// RemoveEntry on Windows, run under Wine: a junction goes as itself, its
// target stays; a directory replaced after the scan is refused.
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/remove.h"
#include "runtime/test_support_win32.h"

#include <gtest/gtest.h>

#include "runtime/win32_support.h"

#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using runtime::RemoveReason;
using runtime::testing::MakeFile;
using runtime::testing::TempDir;

// A junction at `link` (made here) to the directory `target`, by the system's
// reparse call; false where the file system cannot hold one.
bool MakeJunction(const std::string& link, const std::string& target) {
    if (!::CreateDirectoryA(link.c_str(), nullptr)) return false;
    std::wstring print = runtime::win32::WideFromOem(target);
    std::wstring substitute = L"\\??\\" + print;
    // The mount point's reparse data: tag, lengths, then both names.
    std::vector<WORD> names;
    names.insert(names.end(), substitute.begin(), substitute.end());
    names.push_back(0);
    names.insert(names.end(), print.begin(), print.end());
    names.push_back(0);
    const WORD header[] = {
        0, // the name offsets and lengths below, in bytes
        static_cast<WORD>(substitute.size() * 2),
        static_cast<WORD>((substitute.size() + 1) * 2),
        static_cast<WORD>(print.size() * 2),
    };
    std::vector<char> data(8 + sizeof header + names.size() * 2);
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    WORD length = static_cast<WORD>(data.size() - 8);
    std::memcpy(data.data(), &tag, 4);
    std::memcpy(data.data() + 4, &length, 2);
    std::memcpy(data.data() + 8, header, sizeof header);
    std::memcpy(data.data() + 8 + sizeof header, names.data(), names.size() * 2);
    HANDLE h = ::CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    bool made = ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, data.data(),
                                  static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
    ::CloseHandle(h);
    DWORD attr = ::GetFileAttributesA(link.c_str());
    return made && attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Under Wine, which cannot make a junction: a symbolic link of the host,
// which Wine shows as Windows shows a junction (a directory reparse point),
// made by the host's ln; false elsewhere.
bool MakeHostLink(const std::string& link, const std::string& target) {
    using UnixNameFn = char*(CDECL*)(LPCWSTR);
    FARPROC p = ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (p == nullptr) return false;
    UnixNameFn unixName;
    static_assert(sizeof unixName == sizeof p);
    std::memcpy(&unixName, &p, sizeof p);
    auto unixPath = [&](const std::string& path) {
        char* name = unixName(runtime::win32::WideFromOem(path).c_str());
        std::wstring wide = name != nullptr ? runtime::win32::WideFromOem(name) : std::wstring();
        if (name != nullptr) ::HeapFree(::GetProcessHeap(), 0, name);
        return wide;
    };
    // The link is not there yet: its directory is what has a host name.
    std::size_t cut = link.find_last_of('\\');
    std::wstring unixLink =
        unixPath(link.substr(0, cut)) + L"/" + runtime::win32::WideFromOem(link.substr(cut + 1));
    std::wstring command = L"Z:\\bin\\ln -s \"" + unixPath(target) + L"\" \"" + unixLink + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process))
        return false;
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // The wait for a host process may end before it does.
    for (int i = 0; i < 500; ++i, ::Sleep(10)) {
        DWORD attr = ::GetFileAttributesA(link.c_str());
        if (attr != INVALID_FILE_ATTRIBUTES) return (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    return false;
}

// A junction where the system makes one, else the host's link under Wine.
bool MakeLink(const std::string& link, const std::string& target) {
    if (MakeJunction(link, target)) return true;
    ::RemoveDirectoryA(link.c_str());
    return MakeHostLink(link, target);
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What a removal should do.
struct Expect {
    std::uint64_t Files = 0;
    std::uint64_t Directories = 0;
    std::uint64_t Failures = 0;
    const char* FirstPath = "";
    RemoveReason Reason = RemoveReason::None;
    std::vector<std::string> Stay{}; // below the tree; none: the entry is gone
};

struct Case {
    const char* What = "";
    std::function<bool(const std::string& tree, const std::string& outside)> Make{};
    const char* Entry = "d";
    std::function<void(const std::string& tree, const std::string& outside)> Swap{};
    Expect Done{};
    // Where the system opens a link's target even when asked for the link
    // itself (Wine 8), the link cannot be removed as itself: it is refused
    // and stays, and with it everything above it.
    std::optional<Expect> LinkRefused{};
};

// Whether the system opens a link as itself when asked to.
bool OpensLinksAsThemselves(const std::string& dir, const std::string& outside) {
    std::string link = dir + "probe";
    if (!MakeLink(link, outside)) return false;
    HANDLE h = ::CreateFileA(link.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    bool itself = h != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(h, &info) &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    ::RemoveDirectoryA(link.c_str());
    return itself;
}

TEST(RemoveWin32, RemovesWhatItWasAskedToAndNothingElse) {
    const Case cases[] = {
        {.What = "a directory with files, one read-only, and a subdirectory",
         .Make =
             [](const std::string& tree, const std::string&) {
                 ::CreateDirectoryA((tree + "d").c_str(), nullptr);
                 ::CreateDirectoryA((tree + "d\\sub").c_str(), nullptr);
                 MakeFile(tree + "d\\a", "12");
                 MakeFile(tree + "d\\sub\\ro", "345");
                 return ::SetFileAttributesA((tree + "d\\sub\\ro").c_str(),
                                             FILE_ATTRIBUTE_READONLY) != 0;
             },
         .Done = {.Files = 2, .Directories = 2}},
        {.What = "a read-only file as the entry",
         .Make =
             [](const std::string& tree, const std::string&) {
                 MakeFile(tree + "f", "1");
                 return ::SetFileAttributesA((tree + "f").c_str(), FILE_ATTRIBUTE_READONLY) != 0;
             },
         .Entry = "f",
         .Done = {.Files = 1}},
        {.What = "a junction to a directory outside, inside the entry",
         .Make =
             [](const std::string& tree, const std::string& outside) {
                 ::CreateDirectoryA((tree + "d").c_str(), nullptr);
                 return MakeLink(tree + "d\\j", outside);
             },
         .Done = {.Files = 1, .Directories = 1},
         .LinkRefused = Expect{.Failures = 1,
                               .FirstPath = "d\\j",
                               .Reason = RemoveReason::Replaced,
                               .Stay = {"d\\j"}}},
        {.What = "a junction to a directory outside, as the entry",
         .Make = [](const std::string& tree,
                    const std::string& outside) { return MakeLink(tree + "j", outside); },
         .Entry = "j",
         .Done = {.Files = 1},
         .LinkRefused =
             Expect{
                 .Failures = 1, .FirstPath = "j", .Reason = RemoveReason::Replaced, .Stay = {"j"}}},
        {.What = "a directory replaced after its identity was taken",
         .Make =
             [](const std::string& tree, const std::string&) {
                 ::CreateDirectoryA((tree + "d").c_str(), nullptr);
                 MakeFile(tree + "d\\a", "1");
                 return true;
             },
         .Swap =
             [](const std::string& tree, const std::string&) {
                 ::MoveFileA((tree + "d").c_str(), (tree + "old").c_str());
                 ::CreateDirectoryA((tree + "d").c_str(), nullptr);
                 MakeFile(tree + "d\\new", "1");
             },
         .Done = {.Failures = 1,
                  .FirstPath = "d",
                  .Reason = RemoveReason::Replaced,
                  .Stay = {"d\\new", "old\\a"}}},
        {.What = "a directory swapped for a junction after its identity was taken",
         .Make =
             [](const std::string& tree, const std::string&) {
                 ::CreateDirectoryA((tree + "d").c_str(), nullptr);
                 MakeFile(tree + "d\\a", "1");
                 return true;
             },
         .Swap =
             [](const std::string& tree, const std::string& outside) {
                 ::MoveFileA((tree + "d").c_str(), (tree + "old").c_str());
                 MakeLink(tree + "d", outside);
             },
         .Done = {.Failures = 1,
                  .FirstPath = "d",
                  .Reason = RemoveReason::Replaced,
                  .Stay = {"d", "old\\a"}}},
        {.What = "a stream's name",
         .Make = [](const std::string& tree,
                    const std::string&) { return MakeFile(tree + "f", "1"), true; },
         .Entry = "f:s",
         .Done =
             {.Failures = 1, .FirstPath = "f:s", .Reason = RemoveReason::BadName, .Stay = {"f"}}},
    };
    bool linksAsThemselves = false;
    {
        TempDir probe;
        ::CreateDirectoryA((probe.Slash() + "o").c_str(), nullptr);
        linksAsThemselves = OpensLinksAsThemselves(probe.Slash(), probe.Slash() + "o");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TempDir t;
        std::string tree = t.Slash() + "tree\\";
        std::string outside = t.Slash() + "outside";
        ASSERT_TRUE(::CreateDirectoryA(tree.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryA(outside.c_str(), nullptr));
        MakeFile(outside + "\\keep", "7");
        if (!c.Make(tree, outside)) {
            std::cout << "[  SKIPPED ] " << c.What << ": cannot be made here (error "
                      << ::GetLastError() << ")\n";
            continue;
        }
        runtime::DirHandle parent;
        runtime::DirIdentity parentId;
        ASSERT_EQ(runtime::OpenDirPath(tree, "", parent, parentId).Fault, runtime::DirFault::None);
        std::vector<runtime::DirEntry> entries;
        EXPECT_EQ(runtime::ListDirectory(parent, entries).Fault, runtime::DirFault::None);
        runtime::RemoveTarget target;
        target.Name = c.Entry;
        target.Native = runtime::win32::NativeBytes(runtime::win32::WideFromOem(c.Entry));
        for (const runtime::DirEntry& e : entries)
            if (e.Name == c.Entry) target = runtime::TargetOf(e);
        if (c.Swap) c.Swap(tree, outside);
        runtime::RemoveReport r =
            runtime::RemoveEntry(parent, target, runtime::RemoveLimits{parentId.Volume});
        runtime::CloseDir(parent);
        const Expect& x = c.LinkRefused && !linksAsThemselves ? *c.LinkRefused : c.Done;
        EXPECT_EQ(r.Files, x.Files);
        EXPECT_EQ(r.Directories, x.Directories);
        EXPECT_EQ(r.Failures, x.Failures);
        EXPECT_EQ(r.First.Path, x.FirstPath);
        EXPECT_EQ(r.First.Reason, x.Reason) << runtime::RemoveFailureText(r.First);
        EXPECT_EQ(runtime::testing::ReadFileText(outside + "\\keep"), "7");
        for (const std::string& stays : x.Stay)
            EXPECT_TRUE(Exists(tree + stays)) << stays;
        if (x.Stay.empty()) {
            EXPECT_FALSE(Exists(tree + c.Entry));
        }
        // Junctions go before the temporary directory is removed through them.
        for (const char* link : {"d\\j", "j", "d"}) {
            DWORD attr = ::GetFileAttributesA((tree + link).c_str());
            if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                ::RemoveDirectoryA((tree + link).c_str());
        }
    }
}

// A parent that is not open names no directory: nothing is removed, least
// of all the entry of that name in the current directory.
TEST(RemoveWin32, ParentNotOpenRemovesNothing) {
    TempDir t;
    MakeFile(t.Slash() + "f", "1");
    std::string saved, savedNative;
    ASSERT_EQ(runtime::GetCurrentDir(saved, savedNative), 0);
    ASSERT_EQ(runtime::ChangeDir(t.Path()), 0);
    runtime::RemoveTarget target;
    target.Name = "f";
    target.Native = runtime::win32::NativeBytes(L"f");
    runtime::RemoveReport r = runtime::RemoveEntry(runtime::DirHandle{}, target, {});
    ASSERT_EQ(runtime::ChangeDir(saved, savedNative), 0);
    EXPECT_EQ(r.Failures, 1u);
    EXPECT_EQ(r.Files, 0u);
    EXPECT_EQ(runtime::testing::ReadFileText(t.Slash() + "f"), "1");
}

} // namespace
