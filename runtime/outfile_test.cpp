#include "runtime/outfile.h"

#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace runtime {
namespace {

namespace fs = std::filesystem;

// A folder of its own with FILE in it, holding its last version.
struct Folder {
    fs::path Dir;
    std::string File;

    Folder() {
        Dir = fs::temp_directory_path() / ("kelpo32-outfile-" + outfile::UniquePart());
        fs::create_directory(Dir);
        File = (Dir / "scan.prom").string();
        std::ofstream(File, std::ios::binary) << "old";
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(Dir, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string Content() const {
        std::ifstream in(File, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Temporary files made with names while it lives, as on a file system that
// makes no unnamed ones (every file system on Windows).
struct NamedTemporaries {
    explicit NamedTemporaries(bool named = true) { outfile::AllowUnnamed(!named); }
    ~NamedTemporaries() { outfile::AllowUnnamed(true); }
    NamedTemporaries(const NamedTemporaries&) = delete;
    NamedTemporaries& operator=(const NamedTemporaries&) = delete;
};

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

#ifndef _WIN32
// FILE as a shell's ">" takes it, and the new file unnamed or named.

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One run writing "new" into `name` that completes after `meanwhile`: the
// message of the uncaught error it ends with, or "".
std::string RunInto(const fs::path& name, void (*meanwhile)(const fs::path&) = nullptr) {
    StdOutSaved saved;
    try {
        StdOut().Assign(OpenOutputFile(name.string()), 64);
        StdOut().Write("new");
        if (meanwhile != nullptr) meanwhile(name);
        OutputComplete();
        FinishOutputFile();
    } catch (const RunError& e) {
        FinishOutputFile();
        return FormatPosixRunError(e);
    }
    return "";
}

TEST(OutputFilePosix, WhatIsNoRegularFileIsWrittenIntoAsItIs) {
    Folder folder;
    const fs::path fifo = folder.Dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("fifo", folder.Dir / "to-fifo");
    fs::create_symlink("/dev/null", folder.Dir / "to-null");
    if (::geteuid() == 0) {
        ASSERT_EQ(::mknod((folder.Dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
    for (const char* name : {"fifo", "to-fifo", "to-null", "null"}) {
        const fs::path path = folder.Dir / name;
        if (!fs::exists(fs::symlink_status(path))) continue;
        const auto type = fs::symlink_status(path).type();
        // The FIFO's reader is there first, so that the run's open does not
        // wait; it finds the output in the pipe afterwards.
        int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        EXPECT_EQ(RunInto(path), "") << name;
        char got[8] = {};
        bool fifoName = std::string(name).ends_with("fifo");
        EXPECT_EQ(::read(reader, got, sizeof got), fifoName ? 3 : 0) << name;
        ::close(reader);
        EXPECT_EQ(fifoName ? std::string(got) : "new", "new") << name;
        EXPECT_EQ(fs::symlink_status(path).type(), type) << name;
    }
    // A socket cannot be opened, as a shell finds too; it stays.
    sockaddr_un addr{AF_UNIX, {}};
    const std::string sock = (folder.Dir / "sock").string();
    sock.copy(addr.sun_path, sizeof addr.sun_path - 1);
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(RunInto(sock), "kelpo32: cannot write '" + sock + "': No such device or address\n");
    ::close(s);
    EXPECT_TRUE(fs::is_socket(sock));
    EXPECT_EQ(folder.Names().size(), ::geteuid() == 0 ? 6u : 5u); // no temporary file left
}

TEST(OutputFilePosix, ALinkIsFollowedToTheFileReplacedWhichKeepsItsOwnerAndMode) {
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        NamedTemporaries named(!unnamed);
        Folder folder;
        fs::create_directory(folder.Dir / "real");
        const fs::path target = folder.Dir / "real" / "target";
        std::ofstream(target) << "old";
        ::chmod(target.c_str(), 0640);
        const bool root = ::geteuid() == 0 && ::chown(target.c_str(), 4321, 4322) == 0;
        // A chain of two links, one relative; one to a file not made yet.
        fs::create_symlink("real/target", folder.Dir / "link");
        fs::create_symlink("link", folder.Dir / "chain");
        fs::create_symlink(folder.Dir / "real" / "later", folder.Dir / "dangling");
        EXPECT_EQ(RunInto(folder.Dir / "chain") + RunInto(folder.Dir / "dangling"), "");
        EXPECT_EQ(Read(target) + Read(folder.Dir / "real" / "later"), "newnew");
        EXPECT_EQ(fs::read_symlink(folder.Dir / "chain"), "link");
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        if (root) {
            EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4321u, 4322u));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Dir / "real"), {}), 2);
    }
}

// Where anyone may write, a link another user planted is not followed (a run
// as root would otherwise replace what it names).
TEST(OutputFilePosix, AnotherUsersLinkInAStickyDirectoryIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's link";
    Folder folder;
    fs::create_directory(folder.Dir / "tmp");
    ::chmod((folder.Dir / "tmp").c_str(), 01777);
    const fs::path planted = folder.Dir / "tmp" / "out";
    fs::create_symlink(folder.File, planted);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    EXPECT_EQ(RunInto(planted),
              "kelpo32: cannot write '" + planted.string() + "': Permission denied\n");
    EXPECT_EQ(folder.Content(), "old");
}

TEST(OutputFilePosix, TheTemporaryNameFitsWhereverTheFilesNameFits) {
    for (bool unnamed : {true, false}) {
        NamedTemporaries named(!unnamed);
        Folder folder;
        const fs::path name = folder.Dir / std::string(255, 'n');
        std::ofstream(name) << "old";
        EXPECT_EQ(RunInto(name), "");
        EXPECT_EQ(Read(name), "new");
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{std::string(255, 'n'), "scan.prom"}));
    }
    // A signal that ends the run removes a named one.
    NamedTemporaries named;
    Folder folder;
    outfile::TempFile temp;
    std::string what;
    ASSERT_EQ(outfile::CreateBeside(folder.File, temp, what), 0) << what;
    RemoveOutputFileNow();
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"scan.prom"});
    outfile::Remove(temp);
}

// FILE made a directory with something in it while the run went on: the
// rename fails, the run says so and leaves no temporary file.
TEST(OutputFilePosix, AFailedRenameEndsTheRunAndLeavesNothingBehind) {
    for (bool unnamed : {true, false}) {
        NamedTemporaries named(!unnamed);
        Folder folder;
        std::string said = RunInto(folder.File, [](const fs::path& file) {
            fs::remove(file);
            fs::create_directories(file / "inside");
        });
        EXPECT_TRUE(said.starts_with("kelpo32: cannot rename '")) << said;
        EXPECT_TRUE(said.ends_with("' to '" + folder.File + "': Is a directory\n")) << said;
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"scan.prom"});
    }
}
#endif

} // namespace
} // namespace runtime
