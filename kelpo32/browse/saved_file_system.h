// The file system behind the browser over a saved scan: nothing on disk to
// list, delete or rescan; the tree alone is shown.
#pragma once

#include "kelpo32/browse/file_system.h"

namespace kelpo32::browse {

class SavedFileSystem final : public FileSystem {
  public:
    std::string Locked() const override { return "saved scan"; }
    bool List(std::vector<runtime::DirEntry>& /*entries*/, std::string& /*why*/) override {
        return true;
    }
    bool Enter(const runtime::DirEntry* /*entry*/, const runtime::DirIdentity& /*identity*/,
               std::string& /*why*/) override {
        return true;
    }
    void Leave() override {}
    Removal Remove(const runtime::DirEntry& /*entry*/, const runtime::DirIdentity& /*identity*/,
                   bool /*directory*/, const runtime::RemoveControl& /*control*/) override {
        return {};
    }
    bool Rescan(const runtime::DirEntry* /*entry*/, const runtime::DirIdentity& /*identity*/,
                Rescanned& /*into*/, std::string& why) override {
        why = "a saved scan";
        return false;
    }
};

} // namespace kelpo32::browse
