// How a row of the full screen is laid out, the same on every device: the
// text made safe to send, measured in the device's columns, cut at the width.
#pragma once

#include "crt32_pipe/screen.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace crt32_pipe {

// The columns a character takes on a device; negative when the device cannot
// show it (it is shown as "?").
using CharWidth = int (*)(char32_t);

// A piece of a laid-out row.
struct RowPiece {
    std::string Text; // UTF-8 that is safe to send: no control character, no bidirectional control
    Attr Look = Attr::Normal;
    int Columns = 0; // the columns Text takes
};

// The spans of a row as they are shown in `width` columns: each character that
// is a control, a bidirectional control, a byte that starts no UTF-8 character,
// a character the device cannot show, or a mark of no width with no character
// before it in its span becomes "?"; the text stops before the first character
// that would pass the width. Empty pieces are left out; the columns after the
// last piece are the row's blank rest.
std::vector<RowPiece> LayRow(std::span<const Span> spans, int width, CharWidth widthOf);

// The columns `utf8` takes as one span of a row.
int ShownColumns(std::string_view utf8, CharWidth widthOf);

} // namespace crt32_pipe
