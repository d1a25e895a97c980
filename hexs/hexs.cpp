#include "hexs/hexs.h"

namespace hexs {

std::size_t PadCount(std::size_t length, std::int32_t width) {
    if (width <= 0 || static_cast<std::size_t>(width) <= length) return 0;
    return static_cast<std::size_t>(width) - length;
}

} // namespace hexs
