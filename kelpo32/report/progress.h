// A status line on standard error while a long report goes to a file or a
// pipe, or while a sorted layout waits for the walk: directories, files and
// bytes so far, the time and the directory being read. Shown only when
// standard error is a terminal (a console on Windows), after half a second,
// at most ten times a second, and only in the terminal's foreground; erased
// before any message, at the end and on every way out.
#pragma once

#include "kelpo32/walk/consumer.h"
#include "runtime/textsafe.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kelpo32::report {

class StatusLine final : public walk::WalkConsumer {
  public:
    // `wanted`: not turned off on the command line; `outputWaits`: nothing is
    // written to standard output until the walk ends, so the line may be
    // shown while it is a terminal too.
    StatusLine(bool wanted, bool outputWaits) : wanted_(wanted), outputWaits_(outputWaits) {}
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;
    // Erased on every way out of the walk.
    ~StatusLine() override;

    // Decides whether the line may be shown in this run.
    void Begin() override;
    void DirStart(const walk::WalkDir& dir) override { Tick(dir); }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;
    // Erases the line and shows it no more.
    void End() override;

  private:
    using Clock = std::chrono::steady_clock;

    void Erase();
    void Stop();
    void Draw(const walk::WalkDir& dir, Clock::time_point now);
    void Tick(const walk::WalkDir& dir);

    bool wanted_;
    bool outputWaits_;
    bool enabled_ = false;
    runtime::TextSink sink_ = runtime::TextSink::Utf8Terminal;
    Clock::time_point started_;
    Clock::time_point drawn_;
    std::uint32_t events_ = 0;
    std::size_t shown_ = 0; // columns on the terminal now; 0 when erased
    std::int64_t dirs_ = 0;
    std::int64_t files_ = 0;
    std::int64_t bytes_ = 0;
};

// The text of the line, at most `columns` - 1 columns wide (so the terminal
// never wraps it), the path as `sink` may show it. Separate for the tests.
std::string ProgressText(std::int64_t dirs, std::int64_t files, std::int64_t bytes,
                         std::chrono::milliseconds elapsed, std::string_view path,
                         std::int32_t columns,
                         runtime::TextSink sink = runtime::TextSink::Utf8Terminal);

} // namespace kelpo32::report
