#include "kelpo32/browse/session.h"

#include "crt32_pipe/screen.h"
#include "kelpo32/browse/disk_file_system.h"
#include "kelpo32/browse/saved_file_system.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/browse/walk_screen.h"
#include "kelpo32/conventions.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/scan.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/tree/merge.h"
#include "runtime/namematch.h"
#include "runtime/rtl.h"

#include <memory>

namespace kelpo32::browse {

namespace {

walk::WalkOptions WalkSettings(const Options& options) {
    walk::WalkOptions walk;
    walk.OneFileSystem = options.OneFileSystem;
    walk.DiskUsage = options.DiskUsage;
    walk.CountLinks = options.CountLinks;
    walk.FollowLinks = options.FollowLinks;
    WalkThreads(walk);
    return walk;
}

std::string Shown(const std::string& start) {
    return start.empty() ? "." : start;
}

} // namespace

void RunBrowse(const Options& options, const std::string& startDir, const std::string& startNative,
               saved::SavedScan* from, const saved::SavedScan* old) {
    std::string why;
    std::unique_ptr<crt32_pipe::Screen> screen = crt32_pipe::OpenScreen(why);
    if (!screen) UsageError("'--browse' needs a terminal: " + why, false);
    const std::string title = "kelpo32 " KELPO32_VERSION;
    tree::DirTree walked;
    tree::DirTree* tree = nullptr;
    tree::DirIndex root = tree::NoDir;
    std::unique_ptr<FileSystem> files;
    report::UnreadSummary unread;
    ViewSetup setup;
    runtime::NamePatterns exclude(options.Excludes);
    setup.Title = title;
    setup.DiskUsage = options.DiskUsage;
    setup.CountLinks = options.CountLinks;
    if (from != nullptr) {
        tree = &from->Tree;
        root = from->Root;
        setup.Start = from->Start;
        setup.Locked = "saved scan";
        files = std::make_unique<SavedFileSystem>();
    } else {
        walk::WalkOptions walk = WalkSettings(options);
        if (!exclude.Empty()) walk.Exclude = &exclude;
        WalkScreen progress(*screen, title);
        progress.Draw(Shown(startDir));
        tree::TreeBuilder builder(tree::Selection{}, 0, true);
        walk::ConsumerList run;
        run.Add(progress);
        run.Add(unread);
        run.Add(builder);
        try {
            walk::WalkTree(startDir, startNative, walk, run);
        } catch (const WalkStopped&) {
            screen.reset();
            runtime::Halt(0);
        }
        walked = std::move(builder.Tree());
        tree = &walked;
        root = builder.Root();
        setup.Start = Shown(startDir);
        if (options.ReadOnly) setup.Locked = "read-only";
        files = std::make_unique<DiskFileSystem>(startDir, startNative, walk);
    }
    if (old != nullptr) {
        tree::MergeOlder(*tree, root, old->Tree, old->Root);
        setup.Compared = true;
    }
    View view(*screen, *tree, root, *files, setup);
    view.Run();
    files.reset();
    screen.reset();
    // What could not be read is said once the terminal is back.
    unread.Write();
    const Conventions& conventions = PlatformConventions();
    if (unread.Any() && conventions.UnreadExit != 0) runtime::Halt(conventions.UnreadExit);
}

} // namespace kelpo32::browse
