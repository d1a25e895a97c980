#include "runtime/dirsearch.h"
#include "runtime/posix_support.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace runtime {
namespace {

namespace fs = std::filesystem;

posix::DirBatchCall SystemCall = nullptr;
int FailWith = 0;
int Batches = 0;

// The first batch holds a few entries; the second fails with FailWith.
long FailingSecondBatch(int fd, void* buffer, std::size_t size) {
    if (++Batches == 1) return SystemCall(fd, buffer, std::min<std::size_t>(size, 200));
    errno = FailWith;
    return -1;
}

TEST(DirSearchPosix, AListingThatFailsMidwayIsAFaultWhateverTheError) {
    fs::path root = fs::temp_directory_path() / ("kelpo32-batch-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    for (int i = 0; i < 40; ++i)
        std::ofstream(root / ("file" + std::to_string(i))).close();
    struct Case {
        int Errno;
        DirFault Fault;
    };
    // ENOENT midway is no end of the directory: entries are missing.
    const Case cases[] = {
        {ENOENT, DirFault::Unreadable}, {EIO, DirFault::Unexpected}, {EMFILE, DirFault::Resource}};
    SystemCall = posix::ReplaceDirBatchCall(FailingSecondBatch);
    if (SystemCall == nullptr) {
        fs::remove_all(root);
        GTEST_SKIP() << "this system lists by readdir";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Errno);
        FailWith = c.Errno;
        Batches = 0;
        DirHandle dir;
        DirIdentity id;
        ASSERT_EQ(OpenDirPath(root.string(), "", dir, id).Fault, DirFault::None);
        DirReader reader;
        DirResult result = StartReading(dir, reader);
        ASSERT_EQ(result.Fault, DirFault::None);
        DirEntry e;
        int read = 0;
        while (ReadEntry(dir, reader, e, result))
            ++read;
        StopReading(reader);
        CloseDir(dir);
        EXPECT_GT(read, 0);
        EXPECT_LT(read, 40);
        EXPECT_EQ(result.Fault, c.Fault);
    }
    posix::ReplaceDirBatchCall(nullptr);
    fs::remove_all(root);
}

} // namespace
} // namespace runtime
