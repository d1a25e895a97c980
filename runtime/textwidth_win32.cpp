#include "runtime/textwidth.h"

#include <algorithm>

namespace runtime {

// Names reach the report in the OEM code page, one column per byte.
TextFit FitColumns(std::string_view text, std::size_t columns) {
    std::size_t n = std::min(text.size(), columns);
    return {n, n};
}

} // namespace runtime
