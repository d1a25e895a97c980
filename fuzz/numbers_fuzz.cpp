// Fuzzes the grouped numbers and the padding of report columns.
//
// Input: 8 bytes of a 64-bit value, 8 bytes of a length, 4 bytes of a width
// (missing bytes count as 0; the rest is ignored). Checked:
// - GroupThousands without its commas is the decimal text of the value
//   without a sign, with a comma in front of every group of three digits
//   and never a comma in front;
// - PadCount is the fill that brings a text of any length up to any width,
//   and 0 where it is already as long.
#include "fuzz/check.h"
#include "hexs/hexs.h"
#include "kelpo32/report/report.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename T> T Take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    const std::size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

void CheckGrouping(std::int64_t value) {
    const std::string grouped = kelpo32::report::GroupThousands(value);
    std::string digits = std::to_string(value);
    if (value < 0) digits.erase(0, 1);

    std::string plain = grouped;
    std::erase(plain, ',');
    CHECK(plain == digits);

    // The k-th comma from the right has 3k digits and k - 1 commas after it.
    std::size_t commas = 0;
    for (std::size_t i = grouped.size(); i-- > 0;) {
        if (grouped[i] != ',') continue;
        ++commas;
        CHECK(i > 0);
        CHECK(grouped.size() - 1 - i == 4 * commas - 1);
    }
    const std::size_t groups = digits.size() <= 3 ? 0 : (digits.size() - 1) / 3;
    CHECK(commas == groups);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto value = Take<std::int64_t>(data, size);
    const auto length = Take<std::uint64_t>(data, size);
    const auto width = Take<std::int32_t>(data, size);

    CheckGrouping(value);

    const auto len = static_cast<std::size_t>(length);
    const std::size_t count = hexs::PadCount(len, width);
    if (width <= 0 || static_cast<std::size_t>(width) <= len)
        CHECK(count == 0);
    else
        CHECK(count == static_cast<std::size_t>(width) - len);
    return 0;
}
