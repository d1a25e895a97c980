// Helpers of the Win32 unit tests of the runtime: a temporary directory that
// is removed with its contents, and whole small files written and read back.
#pragma once

#include "runtime/win32_support.h"

#include <gtest/gtest.h>

#include <string>

namespace runtime::testing {

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

inline void MakeFile(const std::string& name, const std::string& content) {
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(h);
}

inline std::string ReadFileText(const std::string& name) {
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buf[4096];
    DWORD read = 0;
    ::ReadFile(h, buf, sizeof buf, &read, nullptr);
    ::CloseHandle(h);
    return std::string(buf, read);
}

} // namespace runtime::testing
