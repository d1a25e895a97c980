// RemoveEntry on real trees: what goes, what stays, what is reported.
#include "runtime/remove.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace runtime {
namespace {

namespace fs = std::filesystem;

// The test's tree: the parent directory "tree" and a directory "outside" that
// no removal may touch.
struct Tree {
    fs::path Root;
    fs::path operator/(const std::string& rel) const { return Root / rel; }
    void File(const std::string& rel, std::size_t size) const {
        std::ofstream(Root / rel) << std::string(size, 'x');
    }
    void Dir(const std::string& rel) const { fs::create_directories(Root / rel); }
    void Link(const std::string& rel, const std::string& target) const {
        fs::create_symlink(target, Root / rel);
    }
    // Everything below the root, as relative paths; links are not followed.
    std::vector<std::string> All() const {
        std::vector<std::string> out;
        for (auto it = fs::recursive_directory_iterator(Root); it != fs::end(it); ++it)
            out.push_back(it->path().lexically_relative(Root).generic_string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Makes tree/d/ro a directory whose entries cannot be removed: without write
// permission, or where that does not stop this process (root), immutable.
// False when neither can be made.
bool MakeUnwritable(const fs::path& dir) {
    ::chmod(dir.c_str(), 0555);
    int probe = ::open((dir / "probe").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (probe == -1) return true;
    ::close(probe);
    ::unlink((dir / "probe").c_str());
#ifdef FS_IOC_SETFLAGS
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool made = fd != -1 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd != -1) ::close(fd);
    return made;
#else
    return false;
#endif
}

void MakeWritable(const fs::path& dir) {
#ifdef FS_IOC_SETFLAGS
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd != -1 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL) != 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd != -1) ::close(fd);
#endif
    ::chmod(dir.c_str(), 0755);
}

// A bind mount of outside/ at `at`; false when this process may not make one.
bool BindOutside(const Tree& t, const std::string& at) {
    return ::mount((t / "outside").c_str(), (t / at).c_str(), nullptr, MS_BIND, nullptr) == 0;
}

class Remove : public ::testing::Test {
  protected:
    void SetUp() override {
        t_.Root =
            fs::temp_directory_path() / ("kelpo32-remove-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        Fresh();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(t_.Root, ec);
    }
    void Fresh() {
        std::error_code ec;
        fs::remove_all(t_.Root, ec);
        t_.Dir("tree");
        t_.Dir("outside");
        t_.File("outside/keep", 7);
    }
    // The parent's entry `name` as its listing gives it.
    static RemoveTarget Listed(const DirHandle& parent, const std::string& name) {
        std::vector<DirEntry> entries;
        EXPECT_EQ(ListDirectory(parent, entries).Fault, DirFault::None);
        for (const DirEntry& e : entries)
            if (e.Name == name) return TargetOf(e);
        RemoveTarget target; // not listed: the name alone
        target.Name = name;
        return target;
    }
    Tree t_;
};

struct Case {
    const char* What = "";
    std::function<bool(Tree&)> Make{}; // false: cannot be made here (the row is skipped)
    const char* Entry = "d";
    // After the entry's identity was taken, before the removal.
    std::function<void(Tree&)> Swap{};
    // At every progress tick (with Every 1 when set); false cancels.
    std::function<bool(Tree&, const RemoveReport&)> Tick{};
    std::uint32_t MaxOpen = 32;
    std::uint64_t Files = 0;
    std::uint64_t Directories = 0;
    std::int64_t Bytes = -1; // -1: not checked
    std::uint64_t Failures = 0;
    std::vector<std::string> FirstPaths = {""}; // any of them
    RemoveReason Reason = RemoveReason::None;
    std::vector<int> Codes{}; // any of them; empty: not checked
    bool Cancelled = false;
    std::vector<std::string> Left{};
    // Names below this path are left in some order: each shows as "?".
    const char* AnyBelow = nullptr;
    std::function<void(Tree&)> Cleanup{};
};

const std::vector<std::string> Untouched = {"outside", "outside/keep", "tree"};

std::vector<std::string> With(std::vector<std::string> more) {
    more.insert(more.end(), Untouched.begin(), Untouched.end());
    std::sort(more.begin(), more.end());
    return more;
}

TEST_F(Remove, RemovesWhatItWasAskedToAndNothingElse) {
    const Case cases[] = {
        {.What = "a file",
         .Make = [](Tree& t) { return t.File("tree/f", 5), true; },
         .Entry = "f",
         .Files = 1,
         .Bytes = 5,
         .Left = Untouched},
        {.What = "a directory of files",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d");
                 t.File("tree/d/a", 1), t.File("tree/d/b", 20), t.File("tree/d/c", 300);
                 return true;
             },
         .Files = 3,
         .Directories = 1,
         .Bytes = 321,
         .Left = Untouched},
        {.What = "nested directories, one empty, two levels held open",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d/a"), t.Dir("tree/d/b/c"), t.Dir("tree/d/e");
                 t.File("tree/d/a/x", 1), t.File("tree/d/a/y", 2), t.File("tree/d/b/c/z", 4);
                 return true;
             },
         .MaxOpen = 2,
         .Files = 3,
         .Directories = 5,
         .Bytes = 7,
         .Left = Untouched},
        {.What = "a symbolic link to a directory outside, inside the entry",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d");
                 t.File("tree/d/f", 2);
                 t.Link("tree/d/link", "../../outside");
                 return true;
             },
         .Files = 2,
         .Directories = 1,
         .Left = Untouched},
        {.What = "a symbolic link to a directory outside, as the entry",
         .Make = [](Tree& t) { return t.Link("tree/link", "../outside"), true; },
         .Entry = "link",
         .Files = 1,
         .Left = Untouched},
        {.What = "a symbolic link to a sibling of the entry",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d"), t.Dir("tree/s");
                 t.File("tree/s/x", 1);
                 t.Link("tree/d/l", "../s");
                 return true;
             },
         .Files = 1,
         .Directories = 1,
         .Left = With({"tree/s", "tree/s/x"})},
        {.What = "a FIFO, never opened",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d");
                 t.File("tree/d/f", 3);
                 return ::mkfifo((t / "tree/d/p").c_str(), 0644) == 0;
             },
         .Files = 2,
         .Directories = 1,
         .Bytes = 3,
         .Left = Untouched},
        {.What = "a directory swapped for a symbolic link after its identity was taken",
         .Make = [](Tree& t) { return t.Dir("tree/d"), t.File("tree/d/a", 1), true; },
         .Swap =
             [](Tree& t) {
                 fs::rename(t / "tree/d", t / "tree/old");
                 t.Link("tree/d", "../outside");
             },
         .Failures = 1,
         .FirstPaths = {"d"},
         .Reason = RemoveReason::Replaced,
         .Codes = {ELOOP, ENOTDIR},
         .Left = With({"tree/d", "tree/old", "tree/old/a"})},
        {.What = "a directory swapped for another directory",
         .Make = [](Tree& t) { return t.Dir("tree/d"), t.File("tree/d/a", 1), true; },
         .Swap =
             [](Tree& t) {
                 fs::rename(t / "tree/d", t / "tree/old");
                 t.Dir("tree/d");
                 t.File("tree/d/new", 1);
             },
         .Failures = 1,
         .FirstPaths = {"d"},
         .Reason = RemoveReason::Replaced,
         .Left = With({"tree/d", "tree/d/new", "tree/old", "tree/old/a"})},
        {.What = "a file swapped for another file",
         .Make = [](Tree& t) { return t.File("tree/f", 1), true; },
         .Entry = "f",
         .Swap =
             [](Tree& t) {
                 fs::rename(t / "tree/f", t / "tree/old");
                 t.File("tree/f", 2);
             },
         .Failures = 1,
         .FirstPaths = {"f"},
         .Reason = RemoveReason::Replaced,
         .Left = With({"tree/f", "tree/old"})},
        {.What = "a subdirectory swapped for a symbolic link during the removal",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d/sub");
                 t.File("tree/d/f1", 1), t.File("tree/d/f2", 1), t.File("tree/d/sub/x", 1);
                 return true;
             },
         .Tick =
             [](Tree& t, const RemoveReport& r) {
                 if (r.Files == 1) {
                     fs::rename(t / "tree/d/sub", t / "tree/subold");
                     t.Link("tree/d/sub", "../../outside");
                 }
                 return true;
             },
         .Files = 2,
         .Bytes = 2,
         .Failures = 1,
         .FirstPaths = {"d/sub"},
         .Reason = RemoveReason::Replaced,
         .Codes = {ELOOP, ENOTDIR},
         .Left = With({"tree/d", "tree/d/sub", "tree/subold", "tree/subold/x"})},
        {.What = "a level moved away while its descriptor was given up",
         .Make = [](Tree& t) { return t.Dir("tree/d/a/b/c"), t.File("tree/d/a/b/c/f", 1), true; },
         .Tick =
             [](Tree& t, const RemoveReport& r) {
                 if (r.Files == 1 && r.Directories == 0)
                     fs::rename(t / "tree/d/a", t / "outside/a");
                 return true;
             },
         .MaxOpen = 2,
         .Files = 1,
         .Directories = 2, // c and b, wherever they are now
         .Failures = 1,
         .FirstPaths = {"d/a"},
         .Reason = RemoveReason::Replaced,
         .Left = With({"outside/a", "tree/d"})},
        {.What = "a subdirectory whose entries cannot be removed",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d/ro");
                 t.File("tree/d/a", 1), t.File("tree/d/ro/x", 2), t.File("tree/d/ro/y", 3);
                 t.File("tree/d/z", 4);
                 return MakeUnwritable(t / "tree/d/ro");
             },
         .Files = 2,
         .Bytes = 5,
         .Failures = 2,
         .FirstPaths = {"d/ro/x", "d/ro/y"},
         .Reason = RemoveReason::System,
         .Codes = {EACCES, EPERM},
         .Left = With({"tree/d", "tree/d/ro", "tree/d/ro/x", "tree/d/ro/y"}),
         .Cleanup = [](Tree& t) { MakeWritable(t / "tree/d/ro"); }},
        {.What = "a mount point below the entry",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d/mnt");
                 t.File("tree/d/f", 1);
                 return BindOutside(t, "tree/d/mnt");
             },
         .Files = 1,
         .Failures = 1,
         .FirstPaths = {"d/mnt"},
         .Reason = RemoveReason::OtherFileSystem,
         .Left = With({"tree/d", "tree/d/mnt", "tree/d/mnt/keep"}),
         .Cleanup = [](Tree& t) { ::umount((t / "tree/d/mnt").c_str()); }},
        {.What = "a mount point as the entry",
         .Make = [](Tree& t) { return t.Dir("tree/m"), BindOutside(t, "tree/m"); },
         .Entry = "m",
         .Failures = 1,
         .FirstPaths = {"m"},
         .Reason = RemoveReason::OtherFileSystem,
         .Left = With({"tree/m", "tree/m/keep"}),
         .Cleanup = [](Tree& t) { ::umount((t / "tree/m").c_str()); }},
        {.What = "a directory without an identity to check it by (one the scan could not read)",
         .Make = [](Tree& t) { return t.Dir("tree/d"), t.File("tree/d/a", 1), true; },
         .Failures = 1,
         .FirstPaths = {"d"},
         .Reason = RemoveReason::Unidentified,
         .Left = With({"tree/d", "tree/d/a"})},
        {.What = "a name that leaves the parent",
         .Make = [](Tree&) { return true; },
         .Entry = "..",
         .Failures = 1,
         .FirstPaths = {".."},
         .Reason = RemoveReason::BadName,
         .Left = Untouched},
        {.What = "a name of two levels",
         .Make = [](Tree& t) { return t.Dir("tree/d"), t.File("tree/d/f", 1), true; },
         .Entry = "d/f",
         .Failures = 1,
         .FirstPaths = {"d/f"},
         .Reason = RemoveReason::BadName,
         .Left = With({"tree/d", "tree/d/f"})},
        {.What = "cancelled at the first progress",
         .Make =
             [](Tree& t) {
                 t.Dir("tree/d");
                 t.File("tree/d/a", 1), t.File("tree/d/b", 1);
                 return true;
             },
         .Tick = [](Tree&, const RemoveReport&) { return false; },
         .Files = 1,
         .Bytes = 1,
         .Cancelled = true,
         .Left = With({"tree/d", "tree/d/?"}),
         .AnyBelow = "tree/d/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Fresh();
        if (!c.Make(t_)) {
            std::cout << "[  SKIPPED ] " << c.What << ": cannot be made here ("
                      << std::strerror(errno) << ")\n";
            if (c.Cleanup) c.Cleanup(t_);
            continue;
        }
        DirHandle parent;
        DirIdentity parentId;
        ASSERT_EQ(OpenDirPath((t_ / "tree").string(), "", parent, parentId).Fault, DirFault::None);
        RemoveTarget target = Listed(parent, c.Entry);
        if (c.Reason == RemoveReason::Unidentified) target.Identity = {};
        if (c.Swap) c.Swap(t_);
        RemoveControl control;
        control.MaxOpen = c.MaxOpen;
        if (c.Tick) {
            control.Every = 1;
            control.Progress = [&](const RemoveReport& r) { return c.Tick(t_, r); };
        }
        RemoveReport r = RemoveEntry(parent, target, RemoveLimits{parentId.Volume}, control);
        CloseDir(parent);
        EXPECT_EQ(r.Files, c.Files);
        EXPECT_EQ(r.Directories, c.Directories);
        if (c.Bytes >= 0) {
            EXPECT_EQ(r.Bytes, static_cast<std::uint64_t>(c.Bytes));
        }
        EXPECT_EQ(r.Failures, c.Failures);
        EXPECT_EQ(r.First.Reason, c.Reason);
        EXPECT_NE(std::find(c.FirstPaths.begin(), c.FirstPaths.end(), r.First.Path),
                  c.FirstPaths.end())
            << r.First.Path;
        if (!c.Codes.empty()) {
            EXPECT_NE(std::find(c.Codes.begin(), c.Codes.end(), r.First.Code), c.Codes.end())
                << r.First.Code;
        }
        EXPECT_EQ(r.Cancelled, c.Cancelled);
        EXPECT_EQ(r.Complete(), c.Failures == 0 && !c.Cancelled);
        std::vector<std::string> left = t_.All();
        if (c.AnyBelow != nullptr)
            for (std::string& name : left)
                if (name.starts_with(c.AnyBelow)) name = c.AnyBelow + std::string("?");
        EXPECT_EQ(left, c.Left);
        if (c.Cleanup) c.Cleanup(t_);
    }
}

// Out of descriptors is the program's trouble, not the tree's: the removal
// stops at once instead of failing at every directory left.
TEST_F(Remove, RunningOutOfDescriptorsStopsAtOnce) {
    t_.Dir("tree/d/a"), t_.Dir("tree/d/b");
    t_.File("tree/d/a/x", 1), t_.File("tree/d/b/y", 1);
    DirHandle parent;
    DirIdentity parentId;
    ASSERT_EQ(OpenDirPath((t_ / "tree").string(), "", parent, parentId).Fault, DirFault::None);
    RemoveTarget target = Listed(parent, "d");
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    int lowest = ::dup(0); // the lowest free descriptor: the only one left below the limit
    ASSERT_NE(lowest, -1);
    ::close(lowest);
    struct rlimit one = saved;
    one.rlim_cur = static_cast<rlim_t>(lowest) + 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &one), 0);
    RemoveReport r = RemoveEntry(parent, target, RemoveLimits{});
    ::setrlimit(RLIMIT_NOFILE, &saved);
    CloseDir(parent);
    EXPECT_EQ(r.Failures, 1u);
    EXPECT_EQ(r.First.Reason, RemoveReason::System);
    EXPECT_EQ(r.First.Code, EMFILE);
    EXPECT_TRUE(r.First.Path == "d/a" || r.First.Path == "d/b") << r.First.Path;
    EXPECT_EQ(r.Files + r.Directories, 0u);
    EXPECT_EQ(t_.All(), With({"tree/d", "tree/d/a", "tree/d/a/x", "tree/d/b", "tree/d/b/y"}));
}

// A tree ten thousand levels deep goes, with the process allowed far fewer
// descriptors than levels, and without recursion.
TEST_F(Remove, DeepTreeWithFewDescriptors) {
    constexpr int Depth = 10000;
    // In memory where the system has it: some disks take seconds to free ten
    // thousand directories.
    std::error_code ec;
    if (::access("/dev/shm", W_OK) == 0) {
        fs::remove_all(t_.Root, ec);
        t_.Root = "/dev/shm" / t_.Root.filename();
        Fresh();
    }
    int fd = ::open((t_ / "tree").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_NE(fd, -1);
    for (int i = 0; i < Depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_NE(next, -1);
        fd = next;
    }
    int file = ::openat(fd, "f", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_EQ(::write(file, "12345", 5), 5);
    ::close(file);
    ::close(fd);

    DirHandle parent;
    DirIdentity parentId;
    ASSERT_EQ(OpenDirPath((t_ / "tree").string(), "", parent, parentId).Fault, DirFault::None);
    RemoveTarget target = Listed(parent, "d");
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit few = saved;
    few.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    std::uint64_t ticks = 0;
    RemoveControl control;
    control.Every = 1000;
    control.Progress = [&](const RemoveReport&) { return ++ticks, true; };
    RemoveReport r = RemoveEntry(parent, target, RemoveLimits{}, control);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    CloseDir(parent);
    EXPECT_TRUE(r.Complete()) << r.First.Path.size() << " " << RemoveFailureText(r.First);
    EXPECT_EQ(r.Files, 1u);
    EXPECT_EQ(r.Directories, std::uint64_t{Depth});
    EXPECT_EQ(r.Bytes, 5u);
    EXPECT_EQ(ticks, (Depth + 1) / 1000);
    EXPECT_EQ(t_.All(), Untouched);
}

} // namespace
} // namespace runtime
