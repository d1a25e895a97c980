// The directory walk: lists every directory below the start directory once,
// depth first, and hands each listing and each subtree's total to its
// consumer in the order of that walk. It decides nothing about the report.
#pragma once

#include "kelpo32/walk/consumer.h"
#include "runtime/dirsearch.h"
#include "runtime/namematch.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::walk {

// One subdirectory named by its parent's listing, alive until its subtree is
// done (the walk's own record).
struct Dir_Rec;

// Creates a record; tests replace it to make an allocation fail (nullptr).
extern Dir_Rec* (*NewDirRec)();

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
    // Set by the walk from its consumer (WalkConsumer::NeedsEntries): deliver
    // Entry events.
    bool EntryNames = false;
    // Set by the walk from its consumer (WalkConsumer::EntryFloor): with
    // EntryNames, only files of at least this many bytes are delivered.
    // Read by every listing thread; it only grows.
    const std::atomic<std::uint64_t>* EntryFloor = nullptr;
    // Set by the walk from its consumer (WalkConsumer::NeedsLinkedEntries):
    // with a floor, the files of several links are delivered whatever it is.
    bool LinkedEntries = false;
    // Set by the walk from its consumer (WalkConsumer::NeedsBothKinds): each
    // listing gives its files' bytes by the other size kind too.
    bool BothKinds = false;
    bool OneFileSystem = false;  // do not enter directories on another device
    bool DirectorySizes = false; // Entry events give subdirectories' sizes too
    // A file's bytes are the space it takes on disk.
    bool DiskUsage = false;
    // Every link of a file with several counts; by default such a file
    // counts once, where the walk meets it first.
    bool CountLinks = false;
    // Enter the directories that are links to others (Windows: junctions,
    // directory symbolic links, mount points); the cycle guard still holds.
    bool FollowLinks = false;
    // Entries whose names match are neither counted nor entered nor given
    // to the consumer; nullptr: none. Read by every listing thread.
    const runtime::NamePatterns* Exclude = nullptr;
    std::int32_t Threads = 1; // 1: the walk lists every directory itself
    // Above Threads: while listings wait on the disk the walk adds threads,
    // up to this many, and lets them idle again when listings stop waiting.
    std::int32_t MaxThreads = 0;
    std::array<OwnFile, 2> OwnFiles{};
};

// Walks the tree below `startDir` (empty: the current directory; `startNative`
// is the same in the platform's own form, or empty) and returns its total of
// bytes. An uncaught error of the walk, on whatever thread it happens, is
// raised here, at the point of the walk where it belongs; so is OutOfRecords.
// The consumer gets Begin before the first directory and End after the last.
std::int64_t WalkTree(const std::string& startDir, const std::string& startNative,
                      const WalkOptions& options, WalkConsumer& consumer);

} // namespace kelpo32::walk
