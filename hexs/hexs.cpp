#include "hexs/hexs.h"

namespace hexs {

std::size_t PadCount(std::size_t length, std::int32_t width) {
    if (width <= 0 || static_cast<std::size_t>(width) <= length) return 0;
    return static_cast<std::size_t>(width) - length;
}

std::string PadRight(std::string_view s, char fill, std::int32_t width) {
    std::string out(s);
    out.append(PadCount(s.size(), width), fill);
    return out;
}

} // namespace hexs
