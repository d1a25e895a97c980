#include "kelpo32/walk/source.h"

#include "runtime/sysio.h"

#include <memory>

namespace kelpo32::walk {

namespace {

class SystemSource final : public DirSource {
  public:
    runtime::DirResult OpenPath(const std::string& path, const std::string& native,
                                runtime::DirHandle& dir, runtime::DirIdentity& id) override {
        return runtime::OpenDirPath(path, native, dir, id);
    }
    runtime::DirResult OpenAt(const runtime::DirHandle& parent, const std::string& name,
                              std::uint64_t listed, runtime::DirHandle& dir,
                              runtime::DirIdentity& id) override {
        return runtime::OpenDirAt(parent, name, listed, dir, id);
    }
    void Close(runtime::DirHandle& dir) noexcept override { runtime::CloseDir(dir); }
    runtime::DirResult StartReading(const runtime::DirHandle& dir,
                                    runtime::DirReader& reader) override {
        return runtime::StartReading(dir, reader);
    }
    bool ReadEntry(const runtime::DirHandle& dir, runtime::DirReader& reader,
                   runtime::DirEntry& entry, runtime::DirResult& result) override {
        return runtime::ReadEntry(dir, reader, entry, result);
    }
    void StopReading(runtime::DirReader& reader) noexcept override { runtime::StopReading(reader); }
    std::int64_t FreeDescriptors() override { return runtime::FreeFileDescriptors(); }
    std::string FaultText(int code) override { return runtime::FaultText(code); }
    std::string UnreadableText(int code) override { return runtime::UnreadableText(code); }
};

} // namespace

std::unique_ptr<DirSource> NewSystemDirSource() {
    return std::make_unique<SystemSource>();
}

} // namespace kelpo32::walk
