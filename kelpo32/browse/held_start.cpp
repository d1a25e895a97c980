#include "kelpo32/browse/held_start.h"

#include <utility>

namespace kelpo32::browse {

HeldStart::HeldStart() : system_(walk::NewSystemDirSource()) {}

HeldStart::HeldStart(const runtime::DirHandle& held, const runtime::DirIdentity& id)
    : system_(walk::NewSystemDirSource()), start_(held), id_(id), reuse_(true) {}

HeldStart::~HeldStart() {
    if (kept_) system_->Close(start_);
}

bool HeldStart::Take(runtime::DirHandle& dir, runtime::DirIdentity& id) {
    if (!kept_) return false;
    dir = std::exchange(start_, runtime::DirHandle{});
    id = id_;
    kept_ = false;
    return true;
}

runtime::DirResult HeldStart::OpenPath(const std::string& path, const std::string& native,
                                       runtime::DirHandle& dir, runtime::DirIdentity& id) {
    if (reuse_) {
        dir = start_;
        id = id_;
        return {};
    }
    runtime::DirResult r = system_->OpenPath(path, native, dir, id);
    if (r.Fault == runtime::DirFault::None) {
        start_ = dir;
        id_ = id;
    }
    return r;
}

void HeldStart::Close(runtime::DirHandle& dir) noexcept {
    if (!IsStart(dir)) {
        system_->Close(dir);
        return;
    }
    // The walk is done with the start: kept for the browser (or, given by
    // the caller, left to it).
    if (!reuse_) kept_ = true;
    dir = runtime::DirHandle{};
}

runtime::DirResult HeldStart::StartReading(const runtime::DirHandle& dir,
                                           runtime::DirReader& reader) {
    // A held directory was listed before: from its first entry again.
    if (IsStart(dir)) reader.Rewind = true;
    return system_->StartReading(dir, reader);
}

} // namespace kelpo32::browse
