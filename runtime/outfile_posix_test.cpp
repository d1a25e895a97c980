// --output's FILE on POSIX as a shell's ">" treats it: what is no regular
// file is written into, a link is followed to the file that is replaced,
// which keeps its owner, group and mode; and names that fit where FILE's fits.
#include "runtime/outfile.h"

#include "runtime/outfile_test_support.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace runtime {
namespace {

bool Root() {
    return ::geteuid() == 0;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One run's output: "new" into `name`, the run completed; the message of the
// uncaught error it ends with, or "".
std::string RunInto(const std::string& name) {
    struct Saved {
        FileHandle Handle = StdOut().Handle();
        std::size_t Size = StdOut().BufferSize();
        ~Saved() { StdOut().Assign(Handle, Size); }
    } saved;
    try {
        FileHandle h = OpenOutputFile(name);
        StdOut().Assign(h, 64);
        StdOut().Write("new");
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
    const std::string fifo = (folder.Dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("fifo", folder.Dir / "to-fifo");
    fs::create_symlink("/dev/null", folder.Dir / "to-null");
    if (Root()) {
        ASSERT_EQ(::mknod((folder.Dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
    for (const char* name : {"fifo", "to-fifo", "to-null", "null"}) {
        SCOPED_TRACE(name);
        if (!fs::exists(fs::symlink_status(folder.Dir / name))) continue;
        const auto type = fs::symlink_status(folder.Dir / name).type();
        // A FIFO's reader gets the output.
        std::future<std::string> reader;
        if (std::string(name).ends_with("fifo"))
            reader = std::async(std::launch::async, [&] { return Read(fifo); });
        EXPECT_EQ(RunInto((folder.Dir / name).string()), "");
        if (reader.valid()) {
            EXPECT_EQ(reader.get(), "new");
        }
        EXPECT_EQ(fs::symlink_status(folder.Dir / name).type(), type);
    }
    // A socket cannot be opened, as a shell finds too; it stays.
    const std::string sock = (folder.Dir / "sock").string();
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    sock.copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(RunInto(sock), "kelpo32: cannot write '" + sock + "': No such device or address\n");
    ::close(s);
    EXPECT_TRUE(fs::is_socket(sock));
    std::vector<std::string> names{"fifo", "scan.prom", "sock", "to-fifo", "to-null"};
    if (Root()) names.insert(names.begin() + 1, "null");
    EXPECT_EQ(folder.Names(), names);
}

TEST(OutputFilePosix, ALinkIsFollowedToTheFileReplacedWhichKeepsItsOwnerAndMode) {
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        outfile::AllowUnnamed(unnamed);
        Folder folder;
        fs::create_directory(folder.Dir / "real");
        const std::string target = (folder.Dir / "real" / "target").string();
        std::ofstream(target) << "old";
        ::chmod(target.c_str(), 0640);
        if (Root()) {
            ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
        }
        // A chain of two links, one relative, one to a file not made yet.
        fs::create_symlink("real/target", folder.Dir / "link");
        fs::create_symlink("link", folder.Dir / "chain");
        fs::create_symlink(folder.Dir / "real" / "later", folder.Dir / "dangling");
        EXPECT_EQ(RunInto((folder.Dir / "chain").string()), "");
        EXPECT_EQ(RunInto((folder.Dir / "dangling").string()), "");
        EXPECT_EQ(Read(target), "new");
        EXPECT_EQ(Read((folder.Dir / "real" / "later").string()), "new");
        EXPECT_EQ(fs::read_symlink(folder.Dir / "chain"), "link");
        EXPECT_EQ(fs::read_symlink(folder.Dir / "link"), "real/target");
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        if (Root()) {
            EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4321u, 4322u));
        }
        EXPECT_EQ(folder.Names(),
                  (std::vector<std::string>{"chain", "dangling", "link", "real", "scan.prom"}));
        std::vector<std::string> real;
        for (const auto& e : fs::directory_iterator(folder.Dir / "real"))
            real.push_back(e.path().filename().string());
        std::sort(real.begin(), real.end());
        EXPECT_EQ(real, (std::vector<std::string>{"later", "target"}));
    }
    outfile::AllowUnnamed(true);
}

// In a directory anyone may write to, a link planted by another user is not
// followed (a run as root would otherwise replace what it points to).
TEST(OutputFilePosix, AnotherUsersLinkInAStickyDirectoryIsRefused) {
    if (!Root()) GTEST_SKIP() << "needs root to plant another user's link";
    Folder folder;
    fs::create_directory(folder.Dir / "tmp");
    ::chmod((folder.Dir / "tmp").c_str(), 01777);
    const std::string victim = (folder.Dir / "victim").string();
    std::ofstream(victim) << "victim";
    const std::string planted = (folder.Dir / "tmp" / "out").string();
    fs::create_symlink(victim, planted);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    EXPECT_EQ(RunInto(planted), "kelpo32: cannot write '" + planted + "': Permission denied\n");
    EXPECT_EQ(Read(victim), "victim");
}

TEST(OutputFilePosix, TheTemporaryNameFitsWhereverTheFilesNameFits) {
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        outfile::AllowUnnamed(unnamed);
        Folder folder;
        const std::string name = (folder.Dir / std::string(255, 'n')).string();
        std::ofstream(name) << "old";
        outfile::TempFile temp;
        std::string what;
        ASSERT_EQ(outfile::CreateBeside(name, temp, what), 0) << what;
        EXPECT_EQ(temp.Unnamed, unnamed);
        EXPECT_EQ(folder.Names().size(), unnamed ? 2u : 3u);
        ASSERT_EQ(WriteFile(temp.Handle, "new", 3), 0);
        ASSERT_EQ(outfile::PutInPlace(temp, what), 0) << what;
        EXPECT_EQ(Read(name), "new");
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{std::string(255, 'n'), "scan.prom"}));
    }
    // A signal that ends the run removes the named one.
    outfile::AllowUnnamed(false);
    Folder folder;
    outfile::TempFile temp;
    std::string what;
    ASSERT_EQ(outfile::CreateBeside(folder.File, temp, what), 0) << what;
    EXPECT_EQ(folder.Names().size(), 2u);
    RemoveOutputFileNow();
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"scan.prom"});
    outfile::Remove(temp);
    outfile::AllowUnnamed(true);
}

// FILE made a directory with something in it while the run went on: the
// rename fails, the run says so and leaves no temporary file.
TEST(OutputFilePosix, AFailedRenameEndsTheRunAndLeavesNothingBehind) {
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        outfile::AllowUnnamed(unnamed);
        Folder folder;
        struct Saved {
            FileHandle Handle = StdOut().Handle();
            std::size_t Size = StdOut().BufferSize();
            ~Saved() { StdOut().Assign(Handle, Size); }
        } saved;
        StdOut().Assign(OpenOutputFile(folder.File), 64);
        StdOut().Write("new");
        fs::remove(folder.File);
        fs::create_directories(fs::path(folder.File) / "inside");
        OutputComplete();
        std::string said;
        try {
            FinishOutputFile();
        } catch (const RunError& e) {
            said = FormatPosixRunError(e);
        }
        EXPECT_TRUE(said.starts_with("kelpo32: cannot rename '")) << said;
        EXPECT_TRUE(said.ends_with("' to '" + folder.File + "': Is a directory\n")) << said;
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"scan.prom"});
        EXPECT_TRUE(fs::is_directory(fs::path(folder.File) / "inside"));
    }
    outfile::AllowUnnamed(true);
}

} // namespace
} // namespace runtime
