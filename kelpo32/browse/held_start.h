// The walk's directory source for the browser: the system's directory
// search, except for the directory a walk starts at, which is one the
// browser holds open. The first walk opens the start directory by its path,
// once, and keeps that handle when it is done; every later walk (a rescan)
// starts at a handle the browser holds and never opens a path again.
#pragma once

#include "kelpo32/walk/source.h"

#include <memory>

namespace kelpo32::browse {

class HeldStart final : public walk::DirSource {
  public:
    // For the first walk: the start is opened by its path and kept.
    HeldStart();
    // For a rescan: the start is `held` (the caller's, left open), whose
    // identity is `id`.
    HeldStart(const runtime::DirHandle& held, const runtime::DirIdentity& id);
    ~HeldStart() override;
    HeldStart(const HeldStart&) = delete;
    HeldStart& operator=(const HeldStart&) = delete;

    // The start's handle the first walk kept, with the identity its opening
    // gave; false when there is none (the walk could not open it, or has not
    // finished with it). The caller owns it then.
    bool Take(runtime::DirHandle& dir, runtime::DirIdentity& id);

    runtime::DirResult OpenPath(const std::string& path, const std::string& native,
                                runtime::DirHandle& dir, runtime::DirIdentity& id) override;
    runtime::DirResult OpenAt(const runtime::DirHandle& parent, const std::string& name,
                              std::uint64_t listed, runtime::DirHandle& dir,
                              runtime::DirIdentity& id) override {
        return system_->OpenAt(parent, name, listed, dir, id);
    }
    void Close(runtime::DirHandle& dir) noexcept override;
    runtime::DirResult StartReading(const runtime::DirHandle& dir,
                                    runtime::DirReader& reader) override;
    bool ReadEntry(const runtime::DirHandle& dir, runtime::DirReader& reader,
                   runtime::DirEntry& entry, runtime::DirResult& result) override {
        return system_->ReadEntry(dir, reader, entry, result);
    }
    void StopReading(runtime::DirReader& reader) noexcept override { system_->StopReading(reader); }
    std::int64_t FreeDescriptors() override { return system_->FreeDescriptors(); }
    std::string FaultText(int code) override { return system_->FaultText(code); }
    std::string UnreadableText(int code) override { return system_->UnreadableText(code); }

  private:
    bool IsStart(const runtime::DirHandle& dir) const {
        return dir.IsOpen() && dir.Fd == start_.Fd && dir.Path == start_.Path;
    }

    std::unique_ptr<walk::DirSource> system_;
    runtime::DirHandle start_; // the start's handle, once opened or given
    runtime::DirIdentity id_;
    bool reuse_ = false; // the start is the caller's
    bool kept_ = false;  // the walk is done with the start: it is this source's now
};

} // namespace kelpo32::browse
