#include "kelpo32/app/scan.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/app/forms.h"
#include "kelpo32/app/source.h"
#include "kelpo32/conventions.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/progress.h"
#include "kelpo32/report/trace.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/state.h"
#include "kelpo32/walk/consumer.h"
#include "runtime/namematch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>

namespace kelpo32 {

namespace {

// No record for a subdirectory could be had: the run ends with exit code 1.
[[noreturn]] void NoRecordsLeft(const OutputForm& form) {
    // Never inside an export: it ends with its last whole record.
    Tell(Message::NoRecords, {}, form.Paged);
    crt32_pipe::WaitKey();
    if (LogEnabled && LogFile.IsOpen()) LogFile.Close();
    runtime::Halt(1);
}

// The log and a report redirected into a file may lie in the tree: the walk
// counts them with what was written to them so far (the bytes a file held
// before the run included).
std::uint64_t LogWritten() {
    return LogFile.Written();
}

std::uint64_t StdOutWritten() {
    return runtime::StdOut().Written();
}

void NoteOwnFiles(walk::WalkOptions& options) {
    runtime::FileIdentity id;
    if (LogEnabled && runtime::RegularFileIdentity(LogFile.Handle(), id))
        options.OwnFiles[0] = walk::OwnFile{id.Device, id.Inode, LogWritten};
    if (runtime::RegularFileIdentity(runtime::StdOut().Handle(), id)) {
        std::uint64_t written = runtime::StdOut().Written();
        options.OwnFiles[1] = walk::OwnFile{id.Device, id.Inode, StdOutWritten,
                                            id.Size > written ? id.Size - written : 0};
    }
}

// An output that waits for the end of the walk writes nothing meanwhile, so
// nothing would look for the stop key until then: it is looked for here at
// every directory, and a stop ends the run at once, the status line erased
// first.
class StopWhileWaiting final : public walk::WalkConsumer {
  public:
    StopWhileWaiting(report::StatusLine& status, bool report) : status_(status), report_(report) {}
    void DirListed(const walk::WalkDir& /*dir*/, const walk::WalkListing& /*listing*/) override {
        if (!report::StopAsked()) return;
        status_.End();
        if (report_) report::StopSequence(true);
        report::StopExport();
    }

  private:
    report::StatusLine& status_;
    bool report_;
};

constexpr std::int32_t MaxWalkThreads = 64;

void WalkThreads(walk::WalkOptions& options) {
    const char* text = std::getenv("KELPO32_THREADS");
    if (text != nullptr) {
        std::string_view s(text);
        std::int32_t n = 0;
        auto res = std::from_chars(s.data(), s.data() + s.size(), n);
        if (res.ec == std::errc() && res.ptr == s.data() + s.size() && n >= 1 &&
            n <= MaxWalkThreads) {
            options.Threads = n;
            options.MaxThreads = n;
            return;
        }
    }
    // One per processor; more while a tree read for the first time keeps
    // them waiting on the disk, so that more reads are in flight.
    options.Threads = std::clamp<std::int32_t>(runtime::OnlineProcessors(), 1, MaxWalkThreads);
    options.MaxThreads = MaxWalkThreads;
}

} // namespace

walk::WalkOptions WalkSettings(const Options& options, const runtime::NamePatterns& exclude) {
    walk::WalkOptions walk;
    walk.OneFileSystem = options.OneFileSystem;
    walk.DiskUsage = options.DiskUsage;
    walk.CountLinks = options.CountLinks;
    walk.FollowLinks = options.FollowLinks;
    if (!exclude.Empty()) walk.Exclude = &exclude;
    WalkThreads(walk);
    return walk;
}

std::int64_t ScanDir(const output::RunStart& start, const Options& options,
                     report::UnreadSummary& unread, SavedInput saved, RunExtra extra) {
    const OutputForm& form = *options.Form;
    runtime::NamePatterns exclude(options.Excludes);
    walk::WalkOptions walk = WalkSettings(options, exclude);
    walk.DirectorySizes = form.DirectorySizes;
    NoteOwnFiles(walk);
    const RunSource source(start, walk, saved.From);
    try {
        std::unique_ptr<walk::WalkConsumer> output =
            extra.NoForm ? std::make_unique<walk::ConsumerList>()
                         : form.Make(form, FormInput{options, start, ListedLevels(form, options),
                                                     saved.Old, source});
        if (form.Utf8) crt32_pipe::PresentUtf8();
        report::WalkTrace trace;
        report::StatusLine status(!options.NoProgress, output->HoldsOutput() || extra.NoForm);
        walk::ConsumerList run;
        if (LogEnabled) run.Add(trace);
        run.Add(status);
        run.Add(unread);
        run.Add(*output);
        if (extra.Also != nullptr) run.Add(*extra.Also);
        StopWhileWaiting stop(status, form.Paged);
        if (output->HoldsOutput() || extra.NoForm) run.Add(stop);
        return source.Run(run);
    } catch (const walk::OutOfRecords&) {
        NoRecordsLeft(form);
    }
}

} // namespace kelpo32
