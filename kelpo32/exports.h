// The walk's consumers besides the report: JSON Lines, TSV and the ncdu
// export, each writing its own form to standard output. Each is the consumer
// of a row of the table of output forms (forms.h).
#pragma once

#include "kelpo32/consumer.h"
#include "kelpo32/run_options.h"

#include <memory>

namespace kelpo32 {

std::unique_ptr<WalkConsumer> MakeJsonLinesExport(const Options& options);
std::unique_ptr<WalkConsumer> MakeTsvExport(const Options& options);
std::unique_ptr<WalkConsumer> MakeNcduExport(const Options& options);

} // namespace kelpo32
