#include "kelpo32/scan.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/consumer.h"
#include "kelpo32/conventions.h"
#include "kelpo32/forms.h"
#include "kelpo32/paging.h"
#include "kelpo32/progress.h"
#include "kelpo32/saved_scan.h"
#include "kelpo32/state.h"
#include "kelpo32/trace.h"
#include "kelpo32/unread.h"
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
    Tell(Message::NoRecords, {}, form.Report);
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

void NoteOwnFiles(WalkOptions& options) {
    runtime::FileIdentity id;
    if (LogEnabled && runtime::RegularFileIdentity(LogFile.Handle(), id))
        options.OwnFiles[0] = OwnFile{id.Device, id.Inode, LogWritten};
    if (runtime::RegularFileIdentity(runtime::StdOut().Handle(), id)) {
        std::uint64_t written = runtime::StdOut().Written();
        options.OwnFiles[1] =
            OwnFile{id.Device, id.Inode, StdOutWritten, id.Size > written ? id.Size - written : 0};
    }
}

// An output that waits for the end of the walk writes nothing meanwhile, so
// nothing would look for the stop key until then: it is looked for here at
// every directory, and a stop ends the run at once, the status line erased
// first.
class StopWhileWaiting final : public WalkConsumer {
  public:
    StopWhileWaiting(StatusLine& status, bool report) : status_(status), report_(report) {}
    void DirListed(const WalkDir& /*dir*/, const WalkListing& /*listing*/) override {
        if (!StopAsked()) return;
        status_.End();
        if (report_) StopSequence(true);
        StopExport();
    }

  private:
    StatusLine& status_;
    bool report_;
};

} // namespace

void WalkThreads(WalkOptions& options) {
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

std::int64_t ScanDir(const std::string& startDir, const Options& options, UnreadSummary& unread,
                     SavedInput saved) {
    const OutputForm& form = *options.Form;
    WalkOptions walk;
    walk.OneFileSystem = options.OneFileSystem;
    walk.DirectorySizes = form.DirectorySizes;
    walk.DiskUsage = options.DiskUsage;
    walk.FollowLinks = options.FollowLinks;
    runtime::NamePatterns exclude(options.Excludes);
    if (!exclude.Empty()) walk.Exclude = &exclude;
    NoteOwnFiles(walk);
    WalkThreads(walk);
    try {
        std::unique_ptr<WalkConsumer> output = form.Make(FormInput{options, saved.Old});
        if (form.Bytes == FormBytes::Utf8) crt32_pipe::PresentUtf8();
        WalkTrace trace;
        StatusLine status(!options.NoProgress, output->HoldsOutput());
        ConsumerList run;
        if (LogEnabled) run.Add(trace);
        run.Add(status);
        run.Add(unread);
        run.Add(*output);
        StopWhileWaiting stop(status, form.Report);
        if (output->HoldsOutput()) run.Add(stop);
        if (saved.From != nullptr) return ReplaySavedScan(*saved.From, startDir, run);
        return WalkTree(startDir, startDir == StartDir ? StartNative : std::string(), walk, run);
    } catch (const OutOfRecords&) {
        NoRecordsLeft(form);
    }
}

} // namespace kelpo32
