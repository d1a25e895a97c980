// The ncdu export: a consumer of the walk's entries, which writes every file
// too. Made by a row of the table of output forms (forms.h).
#pragma once

#include "kelpo32/output/fields.h"
#include "kelpo32/walk/consumer.h"

#include <memory>

namespace kelpo32::output {

// Names the start directory by `start`'s path and measures it by its text.
std::unique_ptr<walk::WalkConsumer> NewNcduExport(const RunStart& start);

} // namespace kelpo32::output
