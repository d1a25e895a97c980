// What every line of the report writes alike: numbers grouped by three, a
// long path shortened, and names measured as the display profile says.
#include "kelpo32/report/report.h"

#include "runtime/dirsearch.h"
#include "runtime/textwidth.h"

#include <algorithm>

namespace kelpo32::report {

namespace {

// Names are measured in bytes (the Windows form) or in display columns.
bool ByteWidths = false;

} // namespace

void UseByteWidths(bool bytes) {
    ByteWidths = bytes;
}

runtime::TextFit FitName(std::string_view name, std::size_t columns) {
    if (!ByteWidths) return runtime::FitColumns(name, columns);
    std::size_t n = std::min(name.size(), columns);
    return {n, n};
}

std::size_t NameColumns(std::string_view name) {
    return ByteWidths ? name.size() : runtime::TextColumns(name);
}

Thousands::Thousands(std::int64_t value) noexcept {
    // The magnitude, of the most negative value too.
    std::uint64_t rest =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    // Right to left, a separator in front of every group of three.
    for (int placed = 0;; ++placed) {
        if (placed > 0 && placed % 3 == 0) digits_[--start_] = ',';
        digits_[--start_] = static_cast<char>('0' + rest % 10);
        rest /= 10;
        if (rest == 0) break;
    }
}

std::string GroupThousands(std::int64_t value) {
    return std::string(Thousands(value).Text());
}

std::string_view ShownPath(std::string_view path, std::string& room) {
    if (path.size() <= ShownPathLimit) return path;
    std::size_t cut = path.find(runtime::PathSeparator(), path.size() - ShownPathLimit);
    if (cut == std::string_view::npos) return path;
    room.assign("...");
    room.append(path.substr(cut));
    return room;
}

} // namespace kelpo32::report
