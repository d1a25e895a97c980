// The metrics of a growth over a history (--growth --format=prometheus):
// per listed directory its size and its rate in bytes per day, and the
// file system's size, free space, its rate and when it is full at that rate.
#pragma once

#include "kelpo32/output/dir_row.h"

#include <memory>
#include <string_view>

namespace kelpo32::output::metrics {

// `start`: the start directory's path as the exports write it.
std::unique_ptr<RowWriter> NewPrometheusGrowth(std::string_view start);

} // namespace kelpo32::output::metrics
