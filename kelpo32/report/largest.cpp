#include "kelpo32/report/largest.h"

#include "kelpo32/output/sizes.h"
#include "kelpo32/report/paging.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <algorithm>

namespace kelpo32::report {

namespace {

constexpr std::size_t SizeColumns = 14;

// "Ranks before": larger, then the path in byte order.
bool Before(const LargestFiles::File& a, const LargestFiles::File& b) {
    return a.Bytes != b.Bytes ? a.Bytes > b.Bytes : a.Path < b.Path;
}

} // namespace

void LargestFiles::Entry(const walk::WalkDir& dir, const walk::WalkEntry& entry) {
    // A file of several links is listed once, where the walk counted it.
    if (entry.Kind != walk::EntryKind::File || entry.Repeat || count_ == 0) return;
    std::uint64_t bytes = diskUsage_ ? entry.DiskBytes : entry.Size;
    const bool full = heap_.size() == count_;
    // Full and smaller than the last kept: nothing to do, no copy made.
    if (full && bytes < heap_.front().Bytes) return;
    std::string path;
    path.reserve(dir.Path.size() + dir.Name.size() + 1 + entry.Name.size());
    path += dir.Path;
    path += dir.Name;
    if (!path.empty() && path.back() != runtime::PathSeparator()) path += runtime::PathSeparator();
    path += entry.Name;
    File file{bytes, std::move(path)};
    // As large as the last kept: it enters only if its path ranks first.
    if (full && !Before(file, heap_.front())) return;
    heap_.push_back(std::move(file));
    std::push_heap(heap_.begin(), heap_.end(), Before);
    if (heap_.size() > count_) {
        std::pop_heap(heap_.begin(), heap_.end(), Before);
        heap_.pop_back();
    }
    if (heap_.size() == count_) floor_.store(heap_.front().Bytes, std::memory_order_relaxed);
}

std::vector<LargestFiles::File> LargestFiles::Sorted() const {
    std::vector<File> files = heap_;
    std::sort(files.begin(), files.end(), Before);
    return files;
}

void LargestFiles::Print(output::SizeUnits units) const {
    auto& out = runtime::StdOut();
    if (!alone_) {
        out.WriteLn();
        NextLine();
        out.Write("Largest files:");
        out.WriteLn();
        NextLine();
    }
    for (const File& f : Sorted()) {
        std::string size = output::FormatSize(runtime::CheckedRange<std::int64_t>(f.Bytes), units);
        MakeRoom(static_cast<std::int64_t>(std::max(size.size(), SizeColumns) + 2 + f.Path.size()));
        if (size.size() < SizeColumns) out.WriteFill(' ', SizeColumns - size.size());
        out.Write(size);
        out.Write("  ");
        out.WriteName(f.Path);
        out.WriteLn();
        NextLine();
    }
}

} // namespace kelpo32::report
