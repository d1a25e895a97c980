#include "runtime/outfile.h"

#include "runtime/outfile_test_support.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace runtime {
namespace {

int FailingWriter(FileHandle, const char*, std::size_t) {
    return IoDiskFull;
}

// Standard output as the run leaves it, put back after each case.
struct StdOutSaved {
    FileHandle Handle = StdOut().Handle();
    std::size_t Size = StdOut().BufferSize();
    ~StdOutSaved() {
        StdOut().SetWriter(nullptr);
        StdOut().Assign(Handle, Size);
    }
};

TEST(OutputFile, OnlyACompletedRunWhoseWritesAllSucceededReplacesTheFile) {
    enum class End { Completed, Stopped, WriteFailed, FlushFailsAtTheEnd };
    struct Row {
        const char* How;
        End Ending;
        bool Replaced;
        bool Raises;
    };
    const Row rows[] = {
        {"completed", End::Completed, true, false},
        {"stopped or failed before completing", End::Stopped, false, false},
        {"a write failed midway, the run went on", End::WriteFailed, false, false},
        {"the last flush fails", End::FlushFailsAtTheEnd, false, true},
    };
    NamedTemporaries named;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.How);
        Folder folder;
        StdOutSaved saved;
        FileHandle h = OpenOutputFile(folder.File);
        EXPECT_EQ(folder.Names().size(), 2U); // FILE and its temporary file
        TextOut& out = StdOut();
        out.Assign(h, 64);
        out.Write("new");
        if (row.Ending == End::WriteFailed) {
            out.SetWriter(FailingWriter);
            EXPECT_THROW(out.Flush(), RunError);
            out.SetWriter(nullptr);
            out.Write("more");
        }
        if (row.Ending != End::Stopped) OutputComplete();
        if (row.Ending == End::FlushFailsAtTheEnd) out.SetWriter(FailingWriter);
        if (row.Raises)
            EXPECT_THROW(FinishOutputFile(), RunError);
        else
            EXPECT_NO_THROW(FinishOutputFile());
        EXPECT_EQ(folder.Content(), row.Replaced ? "new" : "old");
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"scan.prom"});
        // A second end (the exit path runs every proc once) changes nothing.
        EXPECT_NO_THROW(FinishOutputFile());
        EXPECT_EQ(folder.Content(), row.Replaced ? "new" : "old");
    }
}

TEST(OutputFile, TemporaryFilesHaveNamesOfTheirOwnBesideTheirFile) {
    NamedTemporaries named;
    Folder folder;
    outfile::TempFile first;
    outfile::TempFile second;
    std::string what;
    ASSERT_EQ(outfile::CreateBeside(folder.File, first, what), 0) << what;
    ASSERT_EQ(outfile::CreateBeside(folder.File, second, what), 0) << what;
    EXPECT_NE(first.Name, second.Name);
    for (const outfile::TempFile* t : {&first, &second}) {
        fs::path p(t->Name);
        EXPECT_EQ(p.parent_path(), fs::path(folder.File).parent_path());
        EXPECT_EQ(p.extension(), ".tmp");
        EXPECT_EQ(p.filename().string().size(), std::string("scan.prom.12345678.tmp").size());
    }
    outfile::Remove(first);
    EXPECT_EQ(folder.Names().size(), 2U);
    ASSERT_EQ(WriteFile(second.Handle, "second", 6), 0);
    ASSERT_EQ(outfile::PutInPlace(second, what), 0) << what;
    EXPECT_EQ(folder.Content(), "second");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"scan.prom"});
}

TEST(OutputFile, ADirectoryIsRefusedBeforeAnythingIsMade) {
    Folder folder;
    fs::create_directory(folder.Dir / "sub");
    outfile::TempFile temp;
    std::string what;
    std::string sub = (folder.Dir / "sub").string();
    EXPECT_NE(outfile::CreateBeside(sub, temp, what), 0);
    EXPECT_EQ(what, "cannot write '" + sub + "'");
    EXPECT_NE(outfile::CreateBeside((folder.Dir / "none" / "x").string(), temp, what), 0);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"scan.prom", "sub"}));
}

} // namespace
} // namespace runtime
