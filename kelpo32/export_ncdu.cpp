#include "kelpo32/exports.h"

namespace kelpo32 {

namespace {
const Export Ncdu{};
} // namespace

const Export& NcduExport() {
    return Ncdu;
}

} // namespace kelpo32
