// The directory walk: lists every directory below the start directory once,
// depth first, and hands each listing and each subtree's total to its
// consumer in the order of that walk. It decides nothing about the report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelpo32 {

// One subdirectory named by its parent's listing, alive until its subtree is
// done (the walk's own record).
struct Dir_Rec;

// Creates a record; tests replace it to make an allocation fail (nullptr).
extern Dir_Rec* (*NewDirRec)();

enum class EntryKind : std::uint8_t {
    File,
    Directory,
    Skipped, // a long-name alias entry: neither counted nor walked
};

// A directory as the walk reaches it.
struct WalkDir {
    const std::string& Path;   // the path in front of Name: the start directory, or a parent's
                               // path and a separator
    const std::string& Name;   // empty for the start directory
    const std::string& Native; // the name in the platform's own form; empty when it is Name
    std::int32_t Level;        // 0 at the start directory
    std::int32_t Id;           // position among its siblings, from 1; 0 at the start directory
    std::int32_t SiblingCount;
};

// Why a directory has no entries.
enum class DirProblem : std::uint8_t { None, Unreadable, Cycle, OtherFileSystem, Unexpected };

// What a directory's listing holds once it is read.
struct WalkListing {
    std::int32_t FileCount = 0;
    std::int64_t FileBytes = 0;
    std::int32_t ChildCount = 0;
    DirProblem Problem = DirProblem::None;
    std::string Reason; // short English, when Problem is not None
};

// The consumer of the walk: plain functions, called on the thread that runs
// WalkTree, in the order of a one-thread depth-first walk.
struct WalkEvents {
    // A directory is reached, before its entries.
    void (*DirStart)(const WalkDir& dir) = nullptr;
    // Each entry of the directory in search order ("." and ".." left out);
    // only when WalkOptions::EntryNames is set.
    void (*Entry)(const WalkDir& dir, EntryKind kind, std::string_view name) = nullptr;
    // The listing is complete; its subdirectories follow.
    void (*DirListed)(const WalkDir& dir, const WalkListing& listing) = nullptr;
    // The whole subtree is done; `total` holds every byte below the directory.
    void (*DirDone)(const WalkDir& dir, const WalkListing& listing, std::int64_t total) = nullptr;
    // A record for a subdirectory could not be allocated: does not return.
    void (*OutOfRecords)() = nullptr;
};

struct WalkOptions {
    bool EntryNames = false;    // deliver Entry events
    bool OneFileSystem = false; // do not enter directories on another device
    std::int32_t Threads = 1;   // 1: the walk lists every directory itself
};

// Walks the tree below `startDir` (empty: the current directory; `startNative`
// is the same in the platform's own form, or empty) and returns its total of
// bytes. An uncaught error of the walk, on whatever thread it happens, is
// raised here, at the point of the walk where it belongs.
std::int64_t WalkTree(const std::string& startDir, const std::string& startNative,
                      const WalkOptions& options, const WalkEvents& events);

} // namespace kelpo32
