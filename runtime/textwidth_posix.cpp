#include "runtime/textwidth.h"

#include <cwchar>
#include <wchar.h> // wcwidth

namespace runtime {

TextFit FitColumns(std::string_view text, std::size_t columns) {
    TextFit fit;
    std::mbstate_t state{};
    std::size_t pos = 0;
    // Bytes below 0x80 take a column each: a run of them is measured at once.
    while (pos < text.size() && pos < columns && static_cast<unsigned char>(text[pos]) < 0x80)
        ++pos;
    fit.Columns = fit.Bytes = pos;
    while (pos < text.size()) {
        std::size_t len = 1;
        std::size_t width = 1;
        if (static_cast<unsigned char>(text[pos]) >= 0x80) {
            wchar_t wc = 0;
            len = std::mbrtowc(&wc, text.data() + pos, text.size() - pos, &state);
            if (len == static_cast<std::size_t>(-1) || len == static_cast<std::size_t>(-2)) {
                // A byte that starts no character: one column, and decoding starts afresh.
                len = 1;
                state = std::mbstate_t{};
            } else {
                int w = ::wcwidth(wc);
                width = w < 0 ? 1 : static_cast<std::size_t>(w);
            }
        }
        if (fit.Columns + width > columns) break;
        fit.Columns += width;
        pos += len;
        fit.Bytes = pos;
    }
    return fit;
}

} // namespace runtime
