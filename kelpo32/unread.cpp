#include "kelpo32/unread.h"

#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"
#include "runtime/textsafe.h"

#include <charconv>
#include <string_view>

namespace kelpo32 {

void UnreadSummary::DirListed(const WalkDir& dir, const WalkListing& listing) {
    // Not entered on purpose (a loop is named: it is shown empty too).
    if (listing.Problem == DirProblem::None || listing.Problem == DirProblem::OtherFileSystem)
        return;
    count_ = runtime::CheckedAdd<std::uint64_t>(count_, 1);
    if (lines_.size() >= Shown) return;
    std::string line = "  ";
    // A name's control characters could drive the terminal or split the
    // summary's lines: each is shown as "?".
    runtime::AppendSafeText(line, dir.Path, sink_);
    runtime::AppendSafeText(line, dir.Name, sink_);
    line += ": ";
    line += listing.Reason;
    line += "\n";
    lines_.push_back(std::move(line));
}

void UnreadSummary::Write() const {
    if (count_ == 0) return;
    // The report goes first, so the summary never lands between its lines.
    runtime::StdOut().Flush();
    char count[24];
    auto end = std::to_chars(count, count + sizeof count, count_).ptr;
    std::string text = "kelpo32: ";
    text.append(count, end);
    text += count_ == 1 ? " directory" : " directories";
    text += " could not be read:\n";
    for (const std::string& line : lines_)
        text += line;
    if (count_ > lines_.size()) {
        end = std::to_chars(count, count + sizeof count, count_ - lines_.size()).ptr;
        text += "  ... and ";
        text.append(count, end);
        text += " more\n";
    }
    runtime::WriteStdErr(text);
}

} // namespace kelpo32
