#include "kelpo32/scan.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/consumer.h"
#include "kelpo32/forms.h"
#include "kelpo32/progress.h"
#include "kelpo32/state.h"
#include "kelpo32/trace.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <string>

namespace kelpo32 {

namespace {

// Threads by default: a tree read for the first time keeps them waiting on
// the disk, so more of them than processors keep more reads in flight.
constexpr std::int32_t DefaultThreads = 8;

// No record for a subdirectory could be had: the run ends with exit code 1.
[[noreturn]] void NoRecordsLeft() {
    auto& out = runtime::StdOut();
    out.Write("Could not alocate record!");
    out.WriteLn();
    out.Flush();
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

} // namespace

std::int32_t WalkThreads() {
    const char* text = std::getenv("KELPO32_THREADS");
    if (text != nullptr) {
        std::string_view s(text);
        std::int32_t n = 0;
        auto res = std::from_chars(s.data(), s.data() + s.size(), n);
        if (res.ec == std::errc() && res.ptr == s.data() + s.size() && n >= 1 &&
            n <= MaxWalkThreads)
            return n;
    }
    return std::clamp<std::int32_t>(runtime::OnlineProcessors(), DefaultThreads, MaxWalkThreads);
}

std::int64_t ScanDir(const std::string& startDir, const Options& options, UnreadSummary& unread) {
    const OutputForm& form = *options.Form;
    WalkOptions walk;
    walk.OneFileSystem = options.OneFileSystem;
    walk.DirectorySizes = form.DirectorySizes;
    walk.DiskUsage = options.DiskUsage;
    NoteOwnFiles(walk);
    walk.Threads = WalkThreads();
    try {
        std::unique_ptr<WalkConsumer> output = form.Make(options);
        if (form.Bytes == FormBytes::Utf8) crt32_pipe::PresentUtf8();
        WalkTrace trace;
        StatusLine status(!options.NoProgress);
        ConsumerList run;
        if (LogEnabled) run.Add(trace);
        run.Add(unread);
        run.Add(status);
        run.Add(*output);
        return WalkTree(startDir, startDir == StartDir ? StartNative : std::string(), walk, run);
    } catch (const OutOfRecords&) {
        NoRecordsLeft();
    }
}

} // namespace kelpo32
