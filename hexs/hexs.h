// String padding for fixed-width report columns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hexs {

// How many fill characters bring a text of `length` bytes up to `width`; 0
// when it is already as long or longer.
std::size_t PadCount(std::size_t length, std::int32_t width);

} // namespace hexs
