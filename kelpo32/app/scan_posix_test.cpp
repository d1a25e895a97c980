#include "kelpo32/app/forms.h"
#include "kelpo32/app/scan.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/state.h"
#include "kelpo32/testing/test_support.h"
#include "runtime/posix_support.h"
#include "runtime/textout.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace kelpo32 {
namespace {

namespace fs = std::filesystem;

runtime::posix::DirBatchCall SystemCall = nullptr;
int Batches = 0;

// A few entries, then ENOENT: a listing that fails after it began.
long FailingSecondBatch(int fd, void* buffer, std::size_t size) {
    if (++Batches == 1) return SystemCall(fd, buffer, std::min<std::size_t>(size, 200));
    errno = ENOENT;
    return -1;
}

TEST(ScanPosix, AListingThatFailsMidwayIsNamedAndCountsAsUnread) {
    fs::path root = fs::temp_directory_path() / ("kelpo32-partial-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    for (int i = 0; i < 40; ++i)
        std::ofstream(root / ("f" + std::to_string(i))) << "x";
    testing::PrepareReport(60);
    StartDir = root.string();
    Options options;
    options.Form = FindForm("windows");
    report::UnreadSummary unread;
    SystemCall = runtime::posix::ReplaceDirBatchCall(FailingSecondBatch);
    if (SystemCall == nullptr) {
        fs::remove_all(root);
        GTEST_SKIP() << "this system lists by readdir";
    }
    std::int64_t total = ScanDir(output::StartOf(StartDir, {}), options, unread);
    runtime::posix::ReplaceDirBatchCall(nullptr);
    runtime::StdOut().Flush();
    fs::remove_all(root);
    // What was read is kept; the run ends with exit code 1 on POSIX.
    EXPECT_GT(total, 0);
    EXPECT_LT(total, 40);
    EXPECT_TRUE(unread.Any());
}

} // namespace
} // namespace kelpo32
