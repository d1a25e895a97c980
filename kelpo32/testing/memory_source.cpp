#include "kelpo32/testing/memory_source.h"

#include "runtime/rtl.h"

#include <cerrno>
#include <chrono>
#include <new>

namespace kelpo32::testing {

namespace {
// Set on the thread that made a source: the others are the walk's workers.
thread_local bool MakerThread = false;
} // namespace

MemorySource::MemorySource() {
    MakerThread = true;
    Make("", true);
}

MemorySource::Node* MemorySource::Make(const std::string& path, bool dir) {
    auto& slot = nodes_[path];
    if (slot != nullptr) return slot.get();
    slot = std::make_unique<Node>();
    Node* n = slot.get();
    n->Path = path;
    n->Dir = dir;
    n->Id = runtime::DirIdentity{1, nextInode_++};
    if (!path.empty()) {
        std::size_t cut = path.rfind('/');
        n->Name = cut == std::string::npos ? path : path.substr(cut + 1);
        Node* parent = Make(cut == std::string::npos ? std::string() : path.substr(0, cut), true);
        parent->Children.push_back(n);
    }
    return n;
}

void MemorySource::Add(const std::string& entry) {
    bool dir = entry.ends_with('/');
    std::size_t eq = entry.find('=');
    Node* n = Make(entry.substr(0, dir ? entry.size() - 1 : eq), dir);
    if (eq != std::string::npos) n->Size = std::stoull(entry.substr(eq + 1));
}

void MemorySource::Link(const std::string& path, const std::string& other) {
    Node* target = nodes_.at(other).get();
    Node* link = nodes_.at(path).get();
    link->Id = target->Id;
    link->Size = target->Size;
    link->Disk = target->Disk;
    link->Links = ++target->Links; // only more than one counts
}

void MemorySource::LinkDir(const std::string& path, const std::string& target) {
    Node* link = Make(path, true);
    link->Target = nodes_.at(target).get();
}

MemorySource::Counts MemorySource::Count(bool resetPeak) {
    runtime::Locked held(lock_.get());
    if (resetPeak) counts_.Peak = counts_.Now;
    return counts_;
}

const SourceFault* MemorySource::Hit(SourceFault::At at, const std::string& path,
                                     std::size_t after) {
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        const SourceFault& f = faults_[i];
        if (f.Where != at || f.After != after) continue;
        if (!(f.Path == path || (f.Path == "*" && !path.empty()))) continue;
        if (f.WorkersOnly && MakerThread) continue;
        if (++hits_[i] % f.Every != 0) continue;
        if (f.Throw) throw std::bad_alloc();
        return &f;
    }
    return nullptr;
}

runtime::DirResult MemorySource::Open(Node* node, runtime::DirHandle& dir,
                                      runtime::DirIdentity& id) {
    if (node == nullptr) return runtime::DirResult{runtime::DirFault::Unreadable, ENOENT};
    if (!node->Dir) return runtime::DirResult{runtime::DirFault::Unreadable, ENOTDIR};
    if (const SourceFault* f = Hit(SourceFault::At::Open, node->Path)) return f->Result;
    if (counts_.Now >= Limit)
        return runtime::DirResult{runtime::DirFault::Resource, runtime::IoTooManyOpenFiles};
    dir.MountRoot = node->Target != nullptr;
    if (node->Target != nullptr) node = node->Target;
    dir.Fd = nextFd_++;
    open_[dir.Fd] = node;
    ++counts_.Opens;
    counts_.Peak = std::max(counts_.Peak, ++counts_.Now);
    id = node->Unidentified ? runtime::DirIdentity{} : node->Id;
    dir.ListedInodes = !ForeignInodes;
    return runtime::DirResult{};
}

MemorySource::Node* MemorySource::NodeOf(const runtime::DirHandle& dir) const {
    return open_.at(dir.Fd);
}

runtime::DirResult MemorySource::OpenPath(const std::string&, const std::string&,
                                          runtime::DirHandle& dir, runtime::DirIdentity& id) {
    runtime::Locked held(lock_.get());
    return Open(nodes_.at("").get(), dir, id);
}

runtime::DirResult MemorySource::OpenAt(const runtime::DirHandle& parent, const std::string& name,
                                        std::uint64_t listed, runtime::DirHandle& dir,
                                        runtime::DirIdentity& id) {
    runtime::Locked held(lock_.get());
    Node* found = nullptr;
    for (Node* c : NodeOf(parent)->Children)
        if (c->Name == name) found = c;
    runtime::DirResult result = Open(found, dir, id);
    if (result.Fault == runtime::DirFault::None && IdentityFromListing && listed != 0 &&
        !ForeignInodes && !dir.MountRoot && !found->Unidentified) {
        id = runtime::DirIdentity{id.Volume, listed};
        dir.Unverified = listed;
    }
    return result;
}

void MemorySource::Close(runtime::DirHandle& dir) noexcept {
    runtime::Locked held(lock_.get());
    Node* node = NodeOf(dir);
    open_.erase(dir.Fd);
    --counts_.Now;
    dir.Fd = -1;
    if (Hit(SourceFault::At::Moved, node->Path) != nullptr) node->Id.File = nextInode_++;
}

std::size_t MemorySource::Listers(bool reset) {
    runtime::Locked held(lock_.get());
    std::size_t n = listers_.size();
    if (reset) listers_.clear();
    return n;
}

runtime::DirResult MemorySource::StartReading(const runtime::DirHandle& dir,
                                              runtime::DirReader& reader) {
    {
        runtime::Locked held(lock_.get());
        listers_.insert(std::this_thread::get_id());
    }
    if (ReadDelayMicros > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(ReadDelayMicros));
    reader.Search = dir.Fd;
    reader.Pos = 0;
    reader.Verify = dir.Unverified;
    runtime::Locked held(lock_.get());
    reader.SelfDiskBytes = reader.MeasureSelf ? NodeOf(dir)->DiskBytes() : 0;
    return runtime::DirResult{};
}

bool MemorySource::ReadEntry(const runtime::DirHandle& dir, runtime::DirReader& reader,
                             runtime::DirEntry& entry, runtime::DirResult& result) {
    runtime::Locked held(lock_.get());
    result = runtime::DirResult{};
    Node* node = NodeOf(dir);
    if (std::exchange(reader.Verify, 0) != 0 && dir.Unverified != node->Id.File) {
        result = runtime::DirResult{runtime::DirFault::Unreadable, 0};
        return false;
    }
    if (const SourceFault* f = Hit(SourceFault::At::Read, node->Path, reader.Pos)) {
        result = f->Result;
        return false;
    }
    if (reader.Pos >= node->Children.size()) {
        if (Hit(SourceFault::At::Starved, node->Path) != nullptr) FailAllocations = 3;
        return false;
    }
    Node* c = node->Children[reader.Pos++];
    entry.Name = c->Name;
    entry.Native.clear();
    entry.Attr = c->Dir ? runtime::AttrDirectory : 0;
    entry.Size = c->Size;
    entry.DiskBytes = c->DiskBytes();
    entry.Device = c->Id.Volume;
    entry.Inode = c->Unidentified ? 0 : c->Id.File + (ForeignInodes ? 1000000 : 0);
    entry.Links = c->Links;
    entry.Type = c->Dir ? runtime::EntryType::Directory : runtime::EntryType::Regular;
    entry.Link = c->Target != nullptr;
    entry.Unexamined = runtime::DirResult{};
    if (const SourceFault* f = Hit(SourceFault::At::Stat, c->Path)) {
        if (f->Result.Fault == runtime::DirFault::Resource) {
            result = f->Result;
            return false;
        }
        // What the listing alone tells.
        entry.Size = entry.DiskBytes = entry.Device = 0;
        entry.Links = 1;
        entry.Unexamined = f->Result;
    }
    if (Hit(SourceFault::At::Replaced, c->Path) != nullptr) c->Id.File = nextInode_++;
    if (const SourceFault* f = Hit(SourceFault::At::Squeezed, node->Path, reader.Pos - 1)) {
        PassAllocations = f->Pass;
        FailAllocations = 1;
    }
    return true;
}

void MemorySource::StopReading(runtime::DirReader& reader) noexcept {
    reader.Search = -1;
}

std::int64_t MemorySource::FreeDescriptors() {
    runtime::Locked held(lock_.get());
    return Limit - counts_.Now;
}

std::string MemorySource::FaultText(int code) {
    if (code == StaleHandle) return "stale file handle";
    return code == EIO ? "input/output error" : "error " + std::to_string(code);
}

std::string MemorySource::UnreadableText(int code) {
    if (code == EACCES) return "permission denied";
    if (code == ENOENT) return "no such file or directory";
    if (code == StaleHandle) return "stale file handle";
    return "error " + std::to_string(code);
}

} // namespace kelpo32::testing
