// The screen while the walk runs: the directories, files and bytes so far
// and the directory being read, redrawn ten times a second; Esc, q or Ctrl+C
// stops the walk and ends the run.
#pragma once

#include "crt32_pipe/screen.h"
#include "kelpo32/walk/consumer.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace kelpo32::browse {

// Thrown through the walk when the user stops it.
struct WalkStopped {};

class WalkScreen final : public walk::WalkConsumer {
  public:
    WalkScreen(crt32_pipe::Screen& screen, std::string title)
        : screen_(screen), title_(std::move(title)) {}

    void DirStart(const walk::WalkDir& dir) override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;

    // Draws the numbers now (the first screen, before any directory).
    void Draw(std::string_view path);

  private:
    using Clock = std::chrono::steady_clock;
    void Tick(const walk::WalkDir& dir);

    crt32_pipe::Screen& screen_;
    std::string title_;
    Clock::time_point drawn_{};
    std::int64_t dirs_ = 0;
    std::int64_t files_ = 0;
    std::int64_t bytes_ = 0;
    std::string path_;
};

} // namespace kelpo32::browse
