// The ncdu export (JSON, major version 1, minor 2), which the interactive
// disk-usage browsers import: every directory as an array of its info object
// and its entries, every file as an object, written as the walk goes. A
// subdirectory's sizes come from its parent's listing and wait, one small
// record each, until the walk reaches it.
#include "kelpo32/output/exports.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/output/jsontext.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"
#include "runtime/utf8name.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace kelpo32::output {

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

// The items of the directory being listed are held until its listing is
// known to be whole or partial (its info object comes first), up to this.
constexpr std::size_t HeldLimit = std::size_t{256} * 1024;

class NcduExport final : public walk::WalkConsumer {
  public:
    explicit NcduExport(const RunStart& start) : start_(start) {}

    void Begin() override;
    void DirStart(const walk::WalkDir& dir) override;
    void Entry(const walk::WalkDir& dir, const walk::WalkEntry& entry) override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        OpenDirectory(dir, listing.Problem);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;
    void End() override { Put("]\n"); }
    bool NeedsEntries() const override { return true; }

  private:
    static void Put(std::string_view text) { runtime::StdOut().Write(text); }
    void Number(const char* name, std::uint64_t value) {
        item_ += name;
        AppendNumber(item_, runtime::CheckedRange<std::int64_t>(value));
    }
    void Name(std::string_view utf8) {
        item_ += "{\"name\":\"";
        AppendJsonString(item_, utf8, false);
        item_ += '"';
    }
    // A name of the walk (its report text and platform form) as UTF-8: on
    // Windows the real name, not the OEM text, which may be another's.
    void Name(std::string_view text, std::string_view native) {
        utf8_.clear();
        runtime::AppendUtf8Name(utf8_, text, native);
        Name(utf8_);
    }
    void OpenDirectory(const walk::WalkDir& dir, walk::DirProblem problem);

    std::vector<OpenDir> open_;
    SubdirInfo reached_; // of the directory the walk reached last
    const RunStart start_;
    SubdirInfo startSizes_; // of the start directory
    std::string item_;
    std::string utf8_; // a name being written
    std::string held_;
};

// Writes the directory's info object once it is known whether it was read.
void NcduExport::OpenDirectory(const walk::WalkDir& dir, walk::DirProblem problem) {
    OpenDir& top = open_.back();
    if (top.Opened) return;
    top.Opened = true;
    item_ = dir.Level == 0 ? "" : ",\n";
    bool entered =
        problem != walk::DirProblem::OtherFileSystem && problem != walk::DirProblem::Link;
    top.Array = entered;
    if (entered) item_ += '[';
    if (dir.Level == 0)
        Name(start_.Path);
    else
        Name(dir.Name, dir.Native);
    Number(",\"asize\":", reached_.Size);
    Number(",\"dsize\":", reached_.DiskBytes);
    std::uint64_t parentDevice = open_.size() > 1 ? open_[open_.size() - 2].Device : 0;
    top.Device = dir.Identity.Volume != 0 ? dir.Identity.Volume : parentDevice;
    if (dir.Level == 0 || top.Device != parentDevice) Number(",\"dev\":", top.Device);
    if (problem == walk::DirProblem::Unreadable || problem == walk::DirProblem::Unexpected)
        item_ += ",\"read_error\":true";
    // A directory link not followed is marked as the importers mark one.
    if (problem == walk::DirProblem::OtherFileSystem) item_ += ",\"excluded\":\"othfs\"";
    if (problem == walk::DirProblem::Link) item_ += ",\"excluded\":\"frmlnk\"";
    // A directory that leads back to an ancestor is written empty.
    item_ += '}';
    Put(item_);
    Put(held_);
    held_.clear();
}

void NcduExport::Begin() {
    runtime::PathSizes(start_.Text, start_.Native, startSizes_.Size, startSizes_.DiskBytes);
    item_ = "[1,2,{\"progname\":\"kelpo32\",\"progver\":\"" KELPO32_VERSION "\",\"timestamp\":";
    AppendNumber(item_, std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count());
    item_ += "},\n";
    Put(item_);
}

void NcduExport::DirStart(const walk::WalkDir& dir) {
    reached_ = dir.Level == 0 ? startSizes_ : SubdirInfo{};
    if (dir.Level > 0 && !open_.empty() && !open_.back().Subdirs.empty()) {
        reached_ = open_.back().Subdirs.front();
        open_.back().Subdirs.pop_front();
    }
    open_.emplace_back();
}

void NcduExport::Entry(const walk::WalkDir& dir, const walk::WalkEntry& entry) {
    // A directory too large to hold is written before it is known whether
    // its listing fails later on.
    if (held_.size() >= HeldLimit) OpenDirectory(dir, walk::DirProblem::None);
    if (entry.Kind == walk::EntryKind::Directory) {
        open_.back().Subdirs.push_back({entry.Size, entry.DiskBytes});
        return;
    }
    if (entry.Kind != walk::EntryKind::File) return;
    item_ = ",\n";
    // An entry carries its report text alone.
    Name(entry.Name, {});
    Number(",\"asize\":", entry.Size);
    Number(",\"dsize\":", entry.DiskBytes);
    // A file of several links: importers count it once by its inode.
    if (entry.Links > 1) {
        Number(",\"ino\":", entry.Inode);
        Number(",\"nlink\":", entry.Links);
        item_ += ",\"hlnkc\":true";
    }
    if (entry.Type != runtime::EntryType::Regular) item_ += ",\"notreg\":true";
    // Its size is unknown (0): it could not be examined.
    if (entry.Unexamined) item_ += ",\"read_error\":true";
    item_ += '}';
    if (open_.back().Opened)
        Put(item_);
    else
        held_ += item_;
}

void NcduExport::DirDone(const walk::WalkDir& /*dir*/, const walk::WalkListing& /*listing*/,
                         std::int64_t /*total*/) {
    if (open_.empty()) runtime::RaiseRangeError();
    if (open_.back().Array) Put("]");
    open_.pop_back();
}

} // namespace

std::unique_ptr<walk::WalkConsumer> NewNcduExport(const RunStart& start) {
    return std::make_unique<NcduExport>(start);
}

} // namespace kelpo32::output
