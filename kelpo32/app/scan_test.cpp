#include "kelpo32/app/scan.h"

#include "kelpo32/app/forms.h"
#include "kelpo32/conventions.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/state.h"
#include "kelpo32/testing/test_support.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace kelpo32 {
namespace {

namespace fs = std::filesystem;

class ScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("kelpo32-scan-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(root_);
        fs::create_directories(root_);
        testing::PrepareReport(60);
        TreeOnly = true; // the lines are not under test here
    }
    void TearDown() override {
        walk::NewDirRec = saved_;
        fs::remove_all(root_);
    }
    void File(const fs::path& rel, std::uintmax_t size) {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel).close();
        fs::resize_file(root_ / rel, size);
    }
    std::int64_t Scan(std::string_view form = "windows") {
        StartDir = root_.string();
        Options options;
        options.Form = FindForm(form);
        report::UnreadSummary unread;
        std::int64_t total = ScanDir(output::StartOf(StartDir, {}), options, unread);
        runtime::StdOut().Flush();
        return total;
    }
    fs::path root_;
    walk::Dir_Rec* (*saved_)() = walk::NewDirRec;
};

TEST_F(ScanTest, TotalsCountEveryLevelAndRecordsAreReleased) {
    File("a", 10);
    File(".hidden", 5);
    File("one/b", 20);
    File("one/two/c", 30);
    File("other/d", 40);
    File("other/three/e", 1);
    EXPECT_EQ(Scan(), 106);
    EXPECT_EQ(AllocCount, 0);
    // Whichever of one and other comes first: both are pending while the
    // first one's subdirectory is.
    EXPECT_EQ(AllocPeak, 3);
}

TEST_F(ScanTest, BigFilesAreSummedExactly) {
    File("x/five", 5000000000ull);
    try {
        File("x/tera", 1000000000000ull);
    } catch (const fs::filesystem_error&) {
        GTEST_SKIP() << "no file of 10^12 bytes on this file system";
    }
    EXPECT_EQ(Scan(), 1005000000000);
}

TEST_F(ScanTest, DepthLimitStillCountsHiddenLevels) {
    File("one/two/three/d", 40);
    TreeOnly = false;
    MaxDepth = 2;
    EXPECT_EQ(Scan(), 40);
    EXPECT_NE(testing::Captured().find("|...\r\n"), std::string::npos);
    EXPECT_NE(testing::Captured().find("Total in \"one\": 40"), std::string::npos);
}

TEST_F(ScanTest, DepthNoticeOncePerGroupOfHiddenLevels) {
    File("a/deep/f", 1);
    File("b/g", 2);
    File("c/deep/h", 3);
    TreeOnly = false;
    MaxDepth = 2;
    EXPECT_EQ(Scan(), 6);
    // a's and c's hidden levels are two groups, b's line between them.
    const std::string& out = testing::Captured();
    std::size_t notices = 0;
    for (std::size_t at = out.find("|...\r\n"); at != std::string::npos;
         at = out.find("|...\r\n", at + 1))
        ++notices;
    EXPECT_EQ(notices, 2u) << out;
}

TEST_F(ScanTest, AllocationFailureEndsTheRunWithItsMessageNeverInsideAnExport) {
    File("one/x", 1);
    File("two/y", 1);
    walk::NewDirRec = [] { return static_cast<walk::Dir_Rec*>(nullptr); };
    const bool posix = PlatformConventions().NamedOnStdErr;
    for (std::string_view format : {"windows", "json"}) {
        testing::Captured().clear();
        ::testing::internal::CaptureStderr();
        try {
            Scan(format);
            ADD_FAILURE() << "the scan went on";
        } catch (const runtime::HaltRequest& halt) {
            EXPECT_EQ(halt.ExitCode, 1);
        }
        runtime::StdOut().Flush();
        std::string err = ::testing::internal::GetCapturedStderr();
        if (posix) {
            EXPECT_EQ(err, "kelpo32: Could not alocate record!\n");
        } else if (format == "json") {
            // The capture may read the line end as text.
            std::erase(err, '\r');
            EXPECT_EQ(err, "Could not alocate record!\n");
        }
        if (format == "json" || posix) {
            // Whole records or nothing, and no message among them.
            EXPECT_EQ(testing::Captured().find("alocate"), std::string::npos);
            EXPECT_TRUE(testing::Captured().empty() || testing::Captured().ends_with("\n"));
        } else {
            EXPECT_EQ(testing::Captured(), "Could not alocate record!\r\n");
        }
    }
}

TEST_F(ScanTest, MissingStartDirectoryIsAnEmptyDirectory) {
    StartDir = (root_ / "missing").string();
    Options options;
    options.Form = FindForm("windows");
    report::UnreadSummary unread;
    std::int64_t total = ScanDir(output::StartOf(StartDir, {}), options, unread);
    runtime::StdOut().Flush();
    EXPECT_EQ(total, 0);
    EXPECT_EQ(testing::Captured(), StartDir + "\r\n");
}

} // namespace
} // namespace kelpo32
