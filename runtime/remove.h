// Removal of one entry of a directory with everything below it: the
// browser's delete. It works from the parent's open directory and the names
// its listing gave, never from a path resolved again from the start: a
// symbolic link, junction or mount point is removed as itself and never
// followed, a directory is emptied only after it has been checked to be the
// one that was scanned, nothing on another file system is entered, and a deep
// tree costs neither stack nor more than a few open directories. What cannot
// be removed stays in place and the first such entry is reported.
#pragma once

#include "runtime/dirsearch.h"

#include <cstdint>
#include <functional>
#include <string>

namespace runtime {

// What the scan recorded of the entry to remove.
struct RemoveTarget {
    std::string Name;   // as the report writes it; the first name of a failure's path
    std::string Native; // the platform's own form of the name; empty when it is Name
    // A directory to empty and then remove. Anything else (a file, a symbolic
    // link, a junction or directory link, a FIFO, a device) is removed as
    // itself, whatever it points to.
    bool Directory = false;
    // Device and inode, or volume serial and file id. A directory is emptied
    // only when it still has this identity (it is refused when it is zero);
    // any other entry is removed only when it still has it, where it is not zero.
    DirIdentity Identity;
};

// The target for an entry as ListDirectory gives it (its identity is then the
// system's own, which the fast listing of the walk does not always tell).
RemoveTarget TargetOf(const DirEntry& entry);

// Where a removal stays.
struct RemoveLimits {
    // The device or volume every directory to empty must be on (the start
    // directory's); 0: the parent directory's.
    std::uint64_t Volume = 0;
};

enum class RemoveReason : std::uint8_t {
    None,
    System,          // the system refused; Code is its reason (errno, or a Win32 error)
    Replaced,        // no longer what was scanned: another directory, a link now, moved away
    OtherFileSystem, // a directory on another file system, or a mount point: not entered
    BadName,         // not the name of an entry of the parent ("", ".", "..", a separator)
    Unidentified,    // a directory without an identity to check it by: not entered
};

struct RemoveFailure {
    // Where it is, below the parent directory: the entry's name and the names
    // down to the one that failed, joined by the platform's separator, in
    // the report's form. Empty when nothing failed.
    std::string Path;
    RemoveReason Reason = RemoveReason::None;
    int Code = 0; // the system's code behind it, where there is one
};

// "permission denied", "changed since it was scanned", ... in short English.
std::string RemoveFailureText(const RemoveFailure& failure);

// What a removal did.
struct RemoveReport {
    std::uint64_t Files = 0;       // entries other than directories removed (links, FIFOs...)
    std::uint64_t Directories = 0; // directories removed, the entry itself included
    // The sizes of the files removed, and the space they took on disk; a
    // file with several links counts at every name removed (its data stays
    // while a link elsewhere is left).
    std::uint64_t Bytes = 0;
    std::uint64_t DiskBytes = 0;
    // Entries that could not be removed or entered; the directories above
    // them, left in place because they are not empty, are not counted.
    std::uint64_t Failures = 0;
    RemoveFailure First;    // the first of them
    bool Cancelled = false; // stopped by the progress callback
    // True when the entry and everything below it are gone.
    bool Complete() const { return Failures == 0 && !Cancelled; }
};

struct RemoveControl {
    // Called after every `Every` entries removed or failed with the report so
    // far; returning false stops the removal there, and what is left stays.
    std::function<bool(const RemoveReport&)> Progress;
    std::uint32_t Every = 256;
    // How many directories of the tree are held open at once (at least 2);
    // a level given up is reached again from the one below it, by its "..",
    // and checked. POSIX only: on Windows every entry is opened by its path.
    std::uint32_t MaxOpen = 32;
};

// Removes the entry `target` of `parent` (opened as the walk opens
// directories; on Windows its path is what counts) and everything below it.
// Failures do not stop it: every other entry is still removed. A failure of
// the program's own resources (descriptors, memory), or an ancestor that
// cannot be reached again as it was, stops it at once.
RemoveReport RemoveEntry(const DirHandle& parent, const RemoveTarget& target,
                         const RemoveLimits& limits, const RemoveControl& control = {});

} // namespace runtime
