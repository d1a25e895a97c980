#include "crt32_pipe/screen_row.h"

#include "runtime/textsafe.h"

#include <limits>

namespace crt32_pipe {

namespace {

struct Shown {
    std::size_t Length = 1; // bytes of the text taken
    bool Replaced = false;  // shown as "?"
    int Columns = 1;
};

// The next character of `text` (not empty) as the device shows it; `first`:
// nothing of the span is shown before it.
Shown NextChar(std::string_view text, bool first, CharWidth widthOf) {
    runtime::Utf8Char c = runtime::DecodeUtf8(text);
    if (c.Length == 0) return {1, true, 1}; // a byte that starts no character
    auto cp = static_cast<char32_t>(c.CodePoint);
    bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    int width = control || runtime::IsBidiControl(cp) ? -1 : widthOf(cp);
    if (width < 0 || (width == 0 && first)) return {c.Length, true, 1};
    return {c.Length, false, width};
}

// Lays `text` into `piece` while it fits `room` columns; returns the columns
// taken and whether all of it fitted.
bool Lay(std::string_view text, int room, CharWidth widthOf, RowPiece& piece) {
    bool first = true;
    while (!text.empty()) {
        Shown c = NextChar(text, first, widthOf);
        if (piece.Columns + c.Columns > room) return false;
        if (c.Replaced)
            piece.Text += '?';
        else
            piece.Text.append(text.substr(0, c.Length));
        piece.Columns += c.Columns;
        text.remove_prefix(c.Length);
        first = false;
    }
    return true;
}

} // namespace

std::vector<RowPiece> LayRow(std::span<const Span> spans, int width, CharWidth widthOf) {
    std::vector<RowPiece> row;
    int used = 0;
    for (const Span& span : spans) {
        if (used >= width) break;
        RowPiece piece;
        piece.Look = span.Look;
        bool whole = Lay(span.Text, width - used, widthOf, piece);
        used += piece.Columns;
        if (!piece.Text.empty()) row.push_back(std::move(piece));
        if (!whole) break;
    }
    return row;
}

int ShownColumns(std::string_view utf8, CharWidth widthOf) {
    RowPiece piece;
    Lay(utf8, std::numeric_limits<int>::max(), widthOf, piece);
    return piece.Columns;
}

} // namespace crt32_pipe
