// A saved scan read back (--from, --compare): JSON Lines of kelpo32 or an
// ncdu export, kept as a tree of directories (never a record per file), and
// replayed into the run's consumer as the walk's events, in the order of a
// one-thread depth-first walk, so that every output works from it unchanged.
#pragma once

#include "kelpo32/tree/builder.h"
#include "kelpo32/tree/dir_tree.h"
#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kelpo32::saved {

// What a scan kept in a history says of itself on its first line
// ({"recorded", "start", "fs_size", "fs_free"}): when it was made, the start
// directory as typed, and its file system's size and free space then.
struct ScanHeader {
    bool Known = false;    // the file has the line
    std::int64_t Time = 0; // seconds since 1970 UTC
    std::string Start;
    std::int64_t FsSize = -1; // -1: the system did not tell
    std::int64_t FsFree = -1;
};

// A saved scan: its start directory and its tree (files are not kept:
// each directory's own numbers stand for them).
struct SavedScan {
    std::string Start; // the saved start directory (UTF-8), "." for the current one
    tree::DirTree Tree;
    tree::DirIndex Root = tree::NoDir;
    ScanHeader Header;
};

// Reads `file` ("-": standard input). `diskUsage` picks an ncdu export's
// bytes on disk over its sizes; `countLinks` counts every link of a file with
// several, which otherwise counts once, where the walk meets it first. On
// failure returns false with `error` the message: the file, the line and
// byte, and what is wrong. `browse`: the tree gets the browser's column,
// with the other size kind where the form holds it (an ncdu export); JSON
// Lines holds one kind, and leaves the tree's OtherKindKnown false.
bool LoadSavedScan(const std::string& file, bool diskUsage, bool countLinks, SavedScan& scan,
                   std::string& error, bool browse = false);

// Hands the scan's events to `consumer` as the walk would, the start
// directory named `startDir`; returns the total of bytes. Entry events carry
// the subdirectories only: a saved scan keeps no files.
std::int64_t ReplaySavedScan(const SavedScan& scan, const std::string& startDir,
                             walk::WalkConsumer& consumer);

// Hands a reader the scan's tree whole at the end of its replay, as
// tree::BuiltTree hands it the walk's: a layout of a whole tree reads either
// the same way.
class WholeTree final : public walk::WalkConsumer {
  public:
    // `events`: the reader takes the replay's events too (its Events()).
    WholeTree(const SavedScan& scan, std::unique_ptr<tree::TreeReader> reader, bool events = true)
        : scan_(scan), reader_(std::move(reader)), events_(events ? reader_->Events() : nullptr) {}

    void Begin() override {
        if (events_ != nullptr) events_->Begin();
    }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        if (events_ != nullptr) events_->DirListed(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        if (events_ != nullptr) events_->DirDone(dir, listing, total);
    }
    void End() override {
        if (events_ != nullptr) events_->End();
        reader_->Read(scan_.Tree, scan_.Root, false);
    }
    bool HoldsOutput() const override { return true; }

  private:
    const SavedScan& scan_;
    std::unique_ptr<tree::TreeReader> reader_;
    walk::WalkConsumer* events_;
};

// How the readers of both forms give the directories' reasons back.
walk::DirProblem ProblemOf(std::string_view reason);

} // namespace kelpo32::saved
