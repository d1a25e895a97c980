// What the walk reads directories from: the system's directory search, or in
// the tests a tree in memory that fails where a test wants it to. Also the
// sizes the walk works with, which the tests make small.
#pragma once

#include "kelpo32/walk/walk.h"
#include "runtime/dirsearch.h"
#include "runtime/threads.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kelpo32::walk {

// The directory search (runtime/dirsearch.h) behind an interface. Every call
// may come from any thread; all state is in the caller's handle and reader.
class DirSource {
  public:
    DirSource() = default;
    DirSource(const DirSource&) = delete;
    DirSource& operator=(const DirSource&) = delete;
    virtual ~DirSource() = default;

    virtual runtime::DirResult OpenPath(const std::string& path, const std::string& native,
                                        runtime::DirHandle& dir, runtime::DirIdentity& id) = 0;
    // `listed`: the inode the parent's listing gave, or 0 (runtime::OpenDirAt).
    virtual runtime::DirResult OpenAt(const runtime::DirHandle& parent, const std::string& name,
                                      std::uint64_t listed, runtime::DirHandle& dir,
                                      runtime::DirIdentity& id) = 0;
    virtual void Close(runtime::DirHandle& dir) noexcept = 0;
    virtual runtime::DirResult StartReading(const runtime::DirHandle& dir,
                                            runtime::DirReader& reader) = 0;
    virtual bool ReadEntry(const runtime::DirHandle& dir, runtime::DirReader& reader,
                           runtime::DirEntry& entry, runtime::DirResult& result) = 0;
    virtual void StopReading(runtime::DirReader& reader) noexcept = 0;
    // How many more directories may be open at once now.
    virtual std::int64_t FreeDescriptors() = 0;
    // The texts of an Unexpected and of an Unreadable fault's code.
    virtual std::string FaultText(int code) = 0;
    virtual std::string UnreadableText(int code) = 0;
};

// The system's directory search (it holds no state of its own).
std::unique_ptr<DirSource> NewSystemDirSource();

struct WalkLimits {
    // A directory's listing is handed over in parts of at most this many
    // entries or bytes of records.
    std::size_t PartEntries = 1024;
    std::size_t PartBytes = std::size_t{32} * 1024;
    // What the read-ahead may hold unread before its workers wait for the
    // consumer (Part::Cost: a part's records and what holds them).
    std::size_t ReadAheadBudget = std::size_t{4} << 20;
    // What a worker holds while it lists a directory, counted in that budget
    // from the moment it takes the directory: its read buffer and the part it
    // fills.
    std::size_t ListingCost = std::size_t{96} * 1024;
    // Open directories kept for children still to be opened; above this a
    // level is reopened from its nearest open ancestor when it is needed.
    std::int64_t MaxHeldHandles = 256;
};

// Makes the walk's wake-up signals; tests replace it to make one fail.
extern runtime::Signal* (*NewWalkSignal)();

// WalkTree over any source with any limits.
std::int64_t WalkTreeFrom(DirSource& source, const WalkLimits& limits, const std::string& startDir,
                          const std::string& startNative, const WalkOptions& options,
                          WalkConsumer& consumer);

} // namespace kelpo32::walk
