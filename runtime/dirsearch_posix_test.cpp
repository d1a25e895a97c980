#include "runtime/dirsearch.h"
#include "runtime/posix_support.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
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

TEST(DirSearchPosix, AStartDirectoryBeyondPathMaxIsOpenedPieceByPiece) {
    // Names of 14 bytes and doubled separators, 16 bytes a level, below a
    // directory whose path is 15 bytes beyond a multiple of 16: the first
    // piece (PATH_MAX - 1 bytes after the root) ends between two separators.
    std::string path =
        (fs::temp_directory_path() / ("kelpo32-long-" + std::to_string(::getpid()))).string();
    path.append((15 + 16 - path.size() % 16) % 16, 'p');
    fs::path root = path;
    fs::remove_all(root);
    fs::create_directories(root);
    // rm removes a tree of any depth, whatever fails below.
    struct Removal {
        std::string Path;
        ~Removal() { (void)std::system(("rm -rf '" + Path + "'").c_str()); }
    } removal{root.string()};
    const std::string name(14, 'n');
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_NE(fd, -1);
    for (int level = 0; level < 300; ++level) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_NE(next, -1);
        fd = next;
        path += "//" + name;
    }
    ASSERT_EQ(::mkdirat(fd, "leaf", 0755), 0);
    ::close(fd);
    ASSERT_GT(path.size(), std::size_t{PATH_MAX});
    DirHandle dir;
    DirIdentity id;
    ASSERT_EQ(OpenDirPath(path, "", dir, id).Fault, DirFault::None);
    DirReader reader;
    DirResult result = StartReading(dir, reader);
    DirEntry e;
    ASSERT_TRUE(ReadEntry(dir, reader, e, result));
    EXPECT_EQ(e.Name, "leaf");
    StopReading(reader);
    CloseDir(dir);
}

} // namespace
} // namespace runtime
