#include "kelpo32/browse/session.h"

#include "crt32_pipe/screen.h"
#include "kelpo32/browse/disk_file_system.h"
#include "kelpo32/browse/held_start.h"
#include "kelpo32/browse/linked.h"
#include "kelpo32/browse/saved_file_system.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/browse/walk_screen.h"
#include "kelpo32/conventions.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/tree/merge.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <chrono>
#include <memory>

namespace kelpo32::browse {

namespace {

std::string Shown(const std::string& start) {
    return start.empty() ? "." : start;
}

std::int64_t NowNanos() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

void RunBrowse(const BrowseSettings& settings, const output::RunStart& start,
               saved::SavedScan* from, const saved::SavedScan* old) {
    std::string why;
    std::unique_ptr<crt32_pipe::Screen> screen = crt32_pipe::OpenScreen(why);
    if (!screen) UsageError("'--browse' needs a terminal: " + why, false);
    const std::string title = "kelpo32 " KELPO32_VERSION;
    tree::DirTree walked;
    tree::DirTree* tree = nullptr;
    tree::DirIndex root = tree::NoDir;
    std::unique_ptr<FileSystem> files;
    std::unique_ptr<LinkedFiles> links;
    report::UnreadSummary unread;
    ViewSetup setup;
    setup.Title = title;
    setup.CountLinks = settings.Walk.CountLinks;
    // Disk usage first, as the disk browsers users know show it, unless a
    // size kind was asked for; a comparison stays in the kind its older scan
    // was saved in (JSON Lines does not say which: the options do), and so
    // does a history, whose scans are all of the options' kind.
    bool history = settings.Walked || settings.Growth;
    bool diskFirst = !settings.KindAsked && !settings.Walk.DiskUsage && old == nullptr && !history;
    walk::WalkOptions walk = settings.Walk;
    if (from == nullptr) walk.DiskUsage = walk.DiskUsage || diskFirst;
    setup.DiskUsage = walk.DiskUsage;
    if (from != nullptr) {
        tree = &from->Tree;
        root = from->Root;
        setup.Start = from->Start;
        files = std::make_unique<SavedFileSystem>(*tree);
        setup.DirectoriesOnly = tree->FilesIfAny() == nullptr;
        setup.OtherKindFirst = diskFirst;
    } else {
        WalkScreen progress(*screen, title);
        progress.Draw(Shown(start.Text));
        tree::TreeBuilder builder(tree::Selection{}, 0, true);
        links = std::make_unique<LinkedFiles>(builder.Tree(), walk.DiskUsage);
        walk::ConsumerList run;
        run.Add(progress);
        run.Add(unread);
        run.Add(builder);
        if (!walk.CountLinks) run.Add(*links);
        // The start directory the walk opens is the one the browser keeps:
        // it is never opened again by its path.
        HeldStart kept;
        setup.ScanStart = NowNanos();
        try {
            walk::WalkTreeFrom(kept, walk::WalkLimits{}, start.Text, start.Native, walk, run);
        } catch (const WalkStopped&) {
            screen.reset();
            runtime::Halt(0);
        }
        walked = std::move(builder.Tree());
        tree = &walked;
        root = builder.Root();
        setup.Start = Shown(start.Text);
        if (settings.ReadOnly) setup.Locked = "read-only";
        runtime::DirHandle held;
        runtime::DirIdentity id;
        std::string locked;
        if (!kept.Take(held, id)) {
            locked = "the start directory was not read";
        } else if (walked.BrowseIfAny() == nullptr ||
                   !((*walked.BrowseIfAny())[root].Identity == id)) {
            runtime::CloseDir(held);
            locked = "the start directory is not the one scanned";
        }
        files = std::make_unique<DiskFileSystem>(std::move(held), id, start.Text, start.Native,
                                                 walk, locked);
        if (!walk.CountLinks) setup.Links = links.get();
        if (settings.Walked) settings.Walked(walked, root);
    }
    std::unique_ptr<GrowthView> growth;
    if (settings.Growth) {
        growth = std::make_unique<GrowthView>(settings.Growth, settings.Window);
        setup.Growth = growth.get();
    }
    if (old != nullptr) {
        // The view shows the compared tree, a tree of its own.
        tree::DirTree compared;
        tree::DirIndex was = root;
        root = tree::MergeOlder(*tree, root, old->Tree, old->Root, compared);
        if (links != nullptr) links->MoveTo(*tree, was, compared, root);
        walked = std::move(compared);
        tree = &walked;
        setup.Compared = true;
        setup.Older = &old->Tree;
        setup.OlderRoot = old->Root;
    }
    View view(*screen, *tree, root, *files, setup);
    view.Run();
    files.reset();
    screen.reset();
    // What could not be read is said once the terminal is back.
    if (settings.Notes != nullptr) runtime::WriteStdErr(*settings.Notes);
    unread.Write();
    const Conventions& conventions = PlatformConventions();
    if (unread.Any() && conventions.UnreadExit != 0) runtime::Halt(conventions.UnreadExit);
}

} // namespace kelpo32::browse
