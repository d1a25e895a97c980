// The history's growth beside the browser's tree (--browse --history): for
// the directory on screen, each subdirectory's rate per day and the chart of
// its sizes in the window's scans, matched by name; the forecast for the
// footer; the window switched between a day, a week and a month.
#pragma once

#include "kelpo32/history/growth.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kelpo32::browse {

class GrowthView {
  public:
    // Computes the growth over a window (seconds); false when the history
    // holds no scan.
    using Source = std::function<bool(std::int64_t window, history::Growth& growth)>;

    GrowthView(Source source, std::int64_t window);

    // Whether there is a growth to show.
    bool Active() const { return active_; }
    // The next window: a day, a week, a month, then a day again.
    void NextWindow();
    // Follows the view into its subdirectory `name`, and back up.
    void Enter(std::string_view name);
    void Leave();
    // The growth of the subdirectory `name` of the directory on screen, or
    // nullptr where the history does not hold it.
    const tree::GrowthCells* Child(std::string_view name) const;
    // Its sizes in the window's scans as a chart of `width` characters.
    std::string Chart(const tree::GrowthCells& cells, bool unicode, std::size_t width) const;
    // "Window: 7 days  full in 12 days (about 2026-12-22)".
    std::string Footer() const;

  private:
    void Compute();
    void Index();

    Source source_;
    std::int64_t window_;
    bool active_ = false;
    history::Growth growth_;
    std::vector<std::string> names_; // the path below the start, as the view went
    std::vector<tree::DirIndex> at_; // the growth's directory of each level (NoDir: none)
    std::unordered_map<std::string_view, tree::DirIndex> kids_;
};

} // namespace kelpo32::browse
