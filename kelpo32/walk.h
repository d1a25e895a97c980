// The directory walk: lists every directory below the start directory once,
// depth first, and hands each listing and each subtree's total to its
// consumer in the order of that walk. It decides nothing about the report.
#pragma once

#include "runtime/dirsearch.h"

#include <array>
#include <cstdint>
#include <stdexcept>
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
    // Device or volume and inode or file id of the directory that was opened;
    // zero when it could not be opened or the system cannot tell.
    runtime::DirIdentity Identity{};
};

// One entry of a directory's listing ("." and ".." left out).
struct WalkEntry {
    EntryKind Kind;
    std::string_view Name;
    std::uint64_t Size;
    std::uint64_t DiskBytes; // space taken on disk
    std::uint64_t Device;    // zero when unknown
    std::uint64_t Inode;     // zero when unknown
    std::uint32_t Links;     // 1 when unknown
    runtime::EntryType Type;
};

// Why a directory has no entries, or fewer than it holds.
enum class DirProblem : std::uint8_t {
    None,
    Unreadable,      // no permission, gone, not a directory, or replaced meanwhile
    Cycle,           // one of its own ancestors, met again through a mount
    OtherFileSystem, // not entered: another device with WalkOptions::OneFileSystem
    Unexpected,      // any other failure of the file system
};

// What a directory's listing holds once it is read.
struct WalkListing {
    std::int32_t FileCount = 0;
    std::int64_t FileBytes = 0;
    std::int32_t ChildCount = 0;
    DirProblem Problem = DirProblem::None;
    // Short English for the problem: "permission denied", "no such file or
    // directory", "not a directory", "cycle", "other file system", else the
    // system's text.
    std::string Reason;
};

// The walk's consumer (consumer.h).
class WalkConsumer;

// Raised by the walk when a record for a subdirectory could not be
// allocated; the scan ends the run with its message.
struct OutOfRecords : std::runtime_error {
    OutOfRecords() : std::runtime_error("out of records") {}
};

// A file the program writes while it walks (the log, a report redirected
// into a file). Met in the tree, it counts with the bytes written to it up to
// its place in the walk, what a one-thread walk would find, whatever the
// moment a thread happened to list its directory.
struct OwnFile {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0; // 0: no such file
    std::uint64_t (*Written)() = nullptr;
    std::uint64_t Before = 0; // what it held before the run

    std::uint64_t Bytes() const { return Before + Written(); }
};

struct WalkOptions {
    bool EntryNames = false;     // set by the walk: its consumer needs Entry events
    bool OneFileSystem = false;  // do not enter directories on another device
    bool DirectorySizes = false; // Entry events give subdirectories' sizes too
    // A file's bytes are the space it takes on disk, and a file with more
    // than one link counts only where the walk meets it first.
    bool DiskUsage = false;
    std::int32_t Threads = 1; // 1: the walk lists every directory itself
    std::array<OwnFile, 2> OwnFiles{};
};

// Walks the tree below `startDir` (empty: the current directory; `startNative`
// is the same in the platform's own form, or empty) and returns its total of
// bytes. An uncaught error of the walk, on whatever thread it happens, is
// raised here, at the point of the walk where it belongs; so is OutOfRecords.
std::int64_t WalkTree(const std::string& startDir, const std::string& startNative,
                      const WalkOptions& options, WalkConsumer& consumer);

} // namespace kelpo32
