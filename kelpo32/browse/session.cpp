#include "kelpo32/browse/session.h"

#include "crt32_pipe/screen.h"
#include "kelpo32/browse/disk_place.h"
#include "kelpo32/browse/saved_place.h"
#include "kelpo32/browse/view.h"
#include "kelpo32/browse/walk_screen.h"
#include "kelpo32/conventions.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/tree/merge.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <memory>

namespace kelpo32::browse {

namespace {

std::string Shown(const std::string& start) {
    return start.empty() ? "." : start;
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
    std::unique_ptr<Place> place;
    report::UnreadSummary unread;
    ViewSetup setup;
    setup.Title = title;
    setup.DiskUsage = settings.Walk.DiskUsage;
    setup.CountLinks = settings.Walk.CountLinks;
    if (from != nullptr) {
        tree = &from->Tree;
        root = from->Root;
        setup.Start = from->Start;
        setup.Locked = "saved scan";
        place = std::make_unique<SavedPlace>();
    } else {
        WalkScreen progress(*screen, title);
        progress.Draw(Shown(start.Text));
        tree::TreeBuilder builder(tree::Selection{}, 0, true);
        walk::ConsumerList run;
        run.Add(progress);
        run.Add(unread);
        run.Add(builder);
        try {
            walk::WalkTree(start.Text, start.Native, settings.Walk, run);
        } catch (const WalkStopped&) {
            screen.reset();
            runtime::Halt(0);
        }
        walked = std::move(builder.Tree());
        tree = &walked;
        root = builder.Root();
        setup.Start = Shown(start.Text);
        if (settings.ReadOnly) setup.Locked = "read-only";
        place = std::make_unique<DiskPlace>(start.Text, start.Native, settings.Walk);
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
        root = tree::MergeOlder(*tree, root, old->Tree, old->Root, compared);
        walked = std::move(compared);
        tree = &walked;
        setup.Compared = true;
    }
    View view(*screen, *tree, root, *place, setup);
    view.Run();
    place.reset();
    screen.reset();
    // What could not be read is said once the terminal is back.
    if (settings.Notes != nullptr) runtime::WriteStdErr(*settings.Notes);
    unread.Write();
    const Conventions& conventions = PlatformConventions();
    if (unread.Any() && conventions.UnreadExit != 0) runtime::Halt(conventions.UnreadExit);
}

} // namespace kelpo32::browse
