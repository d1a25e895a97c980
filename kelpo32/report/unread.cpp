#include "kelpo32/report/unread.h"

#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"
#include "runtime/textsafe.h"

#include <charconv>

namespace kelpo32::report {

namespace {

// A name or reason as standard error may show it: no control character, and
// on a terminal no byte it cannot show, can drive the terminal or split a line.
void AppendShown(std::string& line, std::string_view text) {
    runtime::AppendSafeText(line, text, runtime::StdErrSink());
}

void AppendCount(std::string& text, std::uint64_t n) {
    char count[24];
    text.append(count, std::to_chars(count, count + sizeof count, n).ptr);
}

} // namespace

void UnreadSummary::Note(const walk::WalkDir& dir, std::string_view entry, std::string_view what,
                         std::string_view reason) {
    if (lines_.size() >= Shown) return;
    std::string line = "  ";
    AppendShown(line, dir.Path);
    AppendShown(line, dir.Name);
    if (!entry.empty()) {
        if (!line.ends_with(runtime::PathSeparator()) && line.size() > 2)
            line += runtime::PathSeparator();
        AppendShown(line, entry);
    }
    line += ": ";
    line += what;
    // A saved scan's reason is text from outside, like a name.
    AppendShown(line, reason);
    line += "\n";
    lines_.push_back(std::move(line));
}

void UnreadSummary::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    for (const walk::UnexaminedEntry& e : listing.Unexamined)
        Note(dir, e.Name, "cannot examine: ", e.Reason);
    unexamined_ = runtime::CheckedAdd<std::uint64_t>(
        unexamined_, static_cast<std::uint64_t>(listing.UnexaminedCount));
    if (!listing.CouldNotRead()) return;
    unread_ = runtime::CheckedAdd<std::uint64_t>(unread_, 1);
    Note(dir, {}, listing.Partial ? "read only in part: " : "", listing.Reason);
}

void UnreadSummary::Write() const {
    if (unread_ == 0 && unexamined_ == 0) return;
    // The report goes first, so the summary never lands between its lines.
    runtime::StdOut().Flush();
    std::string text = "kelpo32: ";
    if (unread_ > 0) {
        AppendCount(text, unread_);
        text += unread_ == 1 ? " directory could not be read" : " directories could not be read";
    }
    if (unexamined_ > 0) {
        if (unread_ > 0) text += ", ";
        AppendCount(text, unexamined_);
        text +=
            unexamined_ == 1 ? " entry could not be examined" : " entries could not be examined";
    }
    text += ":\n";
    for (const std::string& line : lines_)
        text += line;
    std::uint64_t named = lines_.size();
    std::uint64_t all = runtime::CheckedAdd(unread_, unexamined_);
    if (all > named) {
        text += "  ... and ";
        AppendCount(text, all - named);
        text += " more\n";
    }
    runtime::WriteStdErr(text);
}

} // namespace kelpo32::report
