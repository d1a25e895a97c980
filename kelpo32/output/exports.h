// The ncdu export: a consumer of the walk's entries, which writes every file
// too. Made by a row of the table of output forms (forms.h).
#pragma once

#include "kelpo32/walk/consumer.h"

#include <memory>

namespace kelpo32::output {

std::unique_ptr<walk::WalkConsumer> NewNcduExport();

} // namespace kelpo32::output
