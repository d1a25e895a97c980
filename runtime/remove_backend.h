// The platform's half of RemoveEntry (remove.h): the levels of the tree being
// removed, entered and left one at a time, their listings and the removal of
// single entries. remove.cpp walks the tree, keeps the counts and reports;
// remove_posix.cpp and remove_win32.cpp do the work on the file system.
#pragma once

#include "runtime/remove.h"

#include <memory>
#include <string>
#include <vector>

namespace runtime::removal {

// An entry as a listing gave it, or the caller's target.
struct Child {
    std::string Name;   // the report's form
    std::string Native; // the platform's own form; empty when it is Name
    bool Directory = false;
    DirIdentity Identity;
    std::uint64_t Size = 0;
    std::uint64_t DiskBytes = 0;
    // The system's code when the listing could not read its metadata: a
    // directory is then not entered.
    int Unexamined = 0;
    const std::string& NativeName() const { return Native.empty() ? Name : Native; }
};

// How one step went.
struct Outcome {
    RemoveReason Reason = RemoveReason::None;
    int Code = 0;
    bool Stop = false; // nothing more may be done (resources, an ancestor lost)
    bool Ok() const { return Reason == RemoveReason::None; }
};

// Whether a recorded identity is the one found: the same file, and the same
// device unless the record does not tell it (0).
inline bool SameIdentity(const DirIdentity& recorded, const DirIdentity& found) {
    return recorded.File == found.File && (recorded.Volume == 0 || recorded.Volume == found.Volume);
}

// The current level starts as the caller's parent directory.
class Backend {
  public:
    Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;
    virtual ~Backend() = default;

    // Enters the subdirectory `child` of the current level after checking
    // that it is a directory (no link), is on the allowed device and has the
    // child's identity (where it is known); it becomes the current level.
    virtual Outcome Enter(const Child& child) = 0;
    // Every entry of the current level (once, after Enter).
    virtual Outcome List(std::vector<Child>& entries) = 0;
    // Removes `child`, anything but a directory, from the current level, as
    // itself. `target`: it is the caller's target, whose type and identity
    // are checked first and whose sizes are taken from the system.
    virtual Outcome Remove(Child& child, bool target) = 0;
    // Returns to the parent of the current level; with `remove` the level,
    // `self`, is removed from it after checking it is still the directory
    // that was entered.
    virtual Outcome Leave(const Child& self, bool remove) = 0;
};

std::unique_ptr<Backend> NewBackend(const DirHandle& parent, std::uint64_t volume,
                                    std::uint32_t maxOpen);

// Whether `native` names one entry of a directory: not empty, not "." or
// "..", no separator (nor, on Windows, a stream's colon).
bool IsEntryName(const std::string& native);

// The system's words for its code.
std::string SystemText(int code);

} // namespace runtime::removal
