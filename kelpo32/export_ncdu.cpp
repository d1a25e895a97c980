// The ncdu export (JSON, major version 1, minor 2), which the interactive
// disk-usage browsers import: every directory as an array of its info object
// and its entries, every file as an object, written as the walk goes. A
// subdirectory's sizes come from its parent's listing and wait, one small
// record each, until the walk reaches it.
#include "kelpo32/exports.h"
#include "kelpo32/jsontext.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace kelpo32 {

namespace {

// A subdirectory as its parent's listing gave it.
struct SubdirInfo {
    std::uint64_t Size = 0;
    std::uint64_t DiskBytes = 0;
};

struct OpenDir {
    std::deque<SubdirInfo> Subdirs; // listed, not reached yet
    std::uint64_t Device = 0;
    bool Opened = false; // its "[" and info object are written
    bool Array = true;   // written as an array (not entered: a lone object)
};

std::vector<OpenDir> Open;
SubdirInfo Reached; // of the directory the walk reached last
SubdirInfo Start;   // of the start directory
std::string Item;
std::string StartName;
// The items of the directory being listed, held until its listing is known
// to be whole or partial (its info object comes first), up to HeldLimit.
std::string Held;
constexpr std::size_t HeldLimit = std::size_t{256} * 1024;

void Put(std::string_view text) {
    runtime::StdOut().Write(text);
}

void Number(const char* name, std::uint64_t value) {
    Item += name;
    AppendNumber(Item, runtime::CheckedRange<std::int64_t>(value));
}

void Name(std::string_view name) {
    Item += "{\"name\":\"";
    AppendJsonString(Item, name, false);
    Item += '"';
}

// Writes the directory's info object once it is known whether it was read.
void OpenDirectory(const WalkDir& dir, DirProblem problem) {
    OpenDir& top = Open.back();
    if (top.Opened) return;
    top.Opened = true;
    Item = dir.Level == 0 ? "" : ",\n";
    bool entered = problem != DirProblem::OtherFileSystem && problem != DirProblem::Link;
    top.Array = entered;
    if (entered) Item += '[';
    Name(dir.Level == 0 ? std::string_view(StartName) : std::string_view(dir.Name));
    Number(",\"asize\":", Reached.Size);
    Number(",\"dsize\":", Reached.DiskBytes);
    std::uint64_t parentDevice = Open.size() > 1 ? Open[Open.size() - 2].Device : 0;
    top.Device = dir.Identity.Volume != 0 ? dir.Identity.Volume : parentDevice;
    if (dir.Level == 0 || top.Device != parentDevice) Number(",\"dev\":", top.Device);
    if (problem == DirProblem::Unreadable || problem == DirProblem::Unexpected)
        Item += ",\"read_error\":true";
    // A directory link not followed is marked as the importers mark one.
    if (problem == DirProblem::OtherFileSystem) Item += ",\"excluded\":\"othfs\"";
    if (problem == DirProblem::Link) Item += ",\"excluded\":\"frmlnk\"";
    // A directory that leads back to an ancestor is written empty.
    Item += '}';
    Put(Item);
    Put(Held);
    Held.clear();
}

void Begin(std::string_view startPath) {
    Open.clear();
    Held.clear();
    StartName = startPath;
    Start = SubdirInfo{};
    runtime::PathSizes(StartDir, StartNative, Start.Size, Start.DiskBytes);
    Item = "[1,2,{\"progname\":\"kelpo32\",\"progver\":\"" KELPO32_VERSION "\",\"timestamp\":";
    AppendNumber(Item, std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count());
    Item += "},\n";
    Put(Item);
}

void DirStart(const WalkDir& dir) {
    Reached = dir.Level == 0 ? Start : SubdirInfo{};
    if (dir.Level > 0 && !Open.empty() && !Open.back().Subdirs.empty()) {
        Reached = Open.back().Subdirs.front();
        Open.back().Subdirs.pop_front();
    }
    Open.emplace_back();
}

void Entry(const WalkDir& dir, const WalkEntry& entry) {
    // A directory too large to hold is written before it is known whether
    // its listing fails later on.
    if (Held.size() >= HeldLimit) OpenDirectory(dir, DirProblem::None);
    if (entry.Kind == EntryKind::Directory) {
        Open.back().Subdirs.push_back({entry.Size, entry.DiskBytes});
        return;
    }
    if (entry.Kind != EntryKind::File) return;
    Item = ",\n";
    Name(entry.Name);
    Number(",\"asize\":", entry.Size);
    Number(",\"dsize\":", entry.DiskBytes);
    // A file of several links: importers count it once by its inode.
    if (entry.Links > 1) {
        Number(",\"ino\":", entry.Inode);
        Number(",\"nlink\":", entry.Links);
        Item += ",\"hlnkc\":true";
    }
    if (entry.Type != runtime::EntryType::Regular) Item += ",\"notreg\":true";
    // Its size is unknown (0): it could not be examined.
    if (entry.Unexamined) Item += ",\"read_error\":true";
    Item += '}';
    if (Open.back().Opened)
        Put(Item);
    else
        Held += Item;
}

void DirListed(const WalkDir& dir, const WalkListing& listing) {
    OpenDirectory(dir, listing.Problem);
}

void DirDone(const WalkDir&, const WalkListing&, std::int64_t) {
    if (Open.empty()) runtime::RaiseRangeError();
    if (Open.back().Array) Put("]");
    Open.pop_back();
}

void End() {
    Put("]\n");
}

const Export Ncdu{
    .Begin = Begin,
    .Events = {.DirStart = DirStart, .Entry = Entry, .DirListed = DirListed, .DirDone = DirDone},
    .End = End};

} // namespace

const Export& NcduExport() {
    return Ncdu;
}

} // namespace kelpo32
