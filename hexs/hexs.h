// String padding for fixed-width report columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hexs {

// How many fill characters bring a text of `length` bytes up to `width`; 0
// when it is already as long or longer.
std::size_t PadCount(std::size_t length, std::int32_t width);

// S followed by Fill up to Width characters; never shortens S.
std::string PadRight(std::string_view s, char fill, std::int32_t width);

} // namespace hexs
