// The file system behind the browser over a saved scan: nothing on disk to
// delete or rescan; the tree is shown, and the files of each directory where
// the scan holds them (an ncdu export read for the browser keeps them in the
// tree's file store).
#pragma once

#include "kelpo32/browse/file_system.h"
#include "kelpo32/tree/file_store.h"
#include "runtime/utf8name.h"

namespace kelpo32::browse {

class SavedFileSystem final : public FileSystem {
  public:
    explicit SavedFileSystem(const tree::DirTree& tree) : files_(tree.FilesIfAny()) {}

    std::string Locked() const override { return "saved scan"; }
    void Showing(tree::DirIndex dir) override { dir_ = dir; }
    bool List(std::vector<runtime::DirEntry>& entries, std::string& /*why*/) override {
        if (files_ == nullptr) return true;
        for (tree::FileIndex f = files_->First(dir_); f != tree::NoFile; f = files_->At(f).Next) {
            const tree::FileCells& cells = files_->At(f);
            runtime::DirEntry& e = entries.emplace_back();
            runtime::NameFromUtf8(files_->Name(f), e.Name, e.Native);
            e.Size = cells.Size;
            e.DiskBytes = cells.DiskBytes;
            e.Links = cells.Links;
            e.Type = cells.Type;
        }
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

  private:
    const tree::FileStore* files_;
    tree::DirIndex dir_ = tree::NoDir;
};

} // namespace kelpo32::browse
