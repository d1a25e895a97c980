// A screen in memory for the unit tests of views: a size the test sets, the
// rows as drawn and as last shown (text and looks, readable as plain lines),
// and a scripted queue of keys. Rows are laid out as the real screens lay
// them (cut at the width, controls and bidirectional controls as "?"), with
// the display widths of UTF-8 text: East Asian wide characters and emoji 2
// columns, combining marks 0.
#pragma once

#include "crt32_pipe/screen.h"
#include "crt32_pipe/screen_row.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::testing {

class FakeScreen final : public crt32_pipe::Screen {
  public:
    // A laid-out row: its pieces, the columns after them blank.
    using Pieces = std::vector<crt32_pipe::RowPiece>;

    explicit FakeScreen(int columns = 80, int rows = 25) { SetSize(columns, rows); }

    // Sets the size; rows below the new height are dropped, new ones blank.
    // Queues a Resize key when `announce`, as a real screen reports it.
    void SetSize(int columns, int rows, bool announce = false) {
        columns_ = columns;
        drawn_.resize(static_cast<std::size_t>(rows < 0 ? 0 : rows));
        shown_.resize(drawn_.size());
        if (announce) PushKey(crt32_pipe::KeyKind::Resize);
    }
    void SetUnicode(bool on) { unicode_ = on; }
    void SetColour(bool on) { colour_ = on; }

    void PushKey(crt32_pipe::KeyKind kind, char32_t c = 0) { keys_.push_back({kind, c}); }
    // The user waits to see the screen before typing on: FlushInput throws
    // away the keys before it (typed ahead), not those after.
    void PushPause() { keys_.push_back({crt32_pipe::KeyKind::None, 0}); }
    // Queues a Char key for each character of `text`.
    void PushChars(std::u32string_view text) {
        for (char32_t c : text)
            PushKey(crt32_pipe::KeyKind::Char, c);
    }
    std::size_t KeysLeft() const { return keys_.size(); }

    // The rows as the last Show sent them, as plain text without the blank
    // rest of each row.
    std::vector<std::string> Lines() const { return Plain(shown_); }
    // The rows as drawn since, shown or not.
    std::vector<std::string> DrawnLines() const { return Plain(drawn_); }
    const Pieces& ShownRow(int y) const { return shown_.at(static_cast<std::size_t>(y)); }
    // The look of the column x of shown row y (Normal in the blank rest).
    crt32_pipe::Attr LookAt(int y, int x) const {
        int column = 0;
        for (const crt32_pipe::RowPiece& piece : ShownRow(y)) {
            column += piece.Columns;
            if (x < column) return piece.Look;
        }
        return crt32_pipe::Attr::Normal;
    }
    int Shows() const { return shows_; }

    crt32_pipe::Extent Size() const override {
        return {static_cast<std::int16_t>(columns_), static_cast<std::int16_t>(drawn_.size())};
    }
    bool Unicode() const override { return unicode_; }
    bool Colour() const override { return colour_; }
    int Columns(std::string_view utf8) const override {
        return crt32_pipe::ShownColumns(utf8, Width);
    }
    void Row(int y, std::span<const crt32_pipe::Span> spans) override {
        if (y < 0 || static_cast<std::size_t>(y) >= drawn_.size()) return;
        drawn_[static_cast<std::size_t>(y)] = crt32_pipe::LayRow(spans, columns_, Width);
    }
    void Show() override {
        shown_ = drawn_;
        ++shows_;
    }
    // The next scripted key; when the script is used up, Interrupt, so a view
    // under test ends instead of waiting for ever.
    crt32_pipe::ScreenKey WaitKey() override {
        crt32_pipe::ScreenKey key = Pop();
        return key.Kind == crt32_pipe::KeyKind::None
                   ? crt32_pipe::ScreenKey{crt32_pipe::KeyKind::Interrupt}
                   : key;
    }
    // A pause ends what is waiting now.
    crt32_pipe::ScreenKey PollKey() override {
        if (keys_.empty() || keys_.front().Kind == crt32_pipe::KeyKind::None) return {};
        return Pop();
    }
    void FlushInput() override {
        ++flushes_;
        while (!keys_.empty()) {
            bool pause = keys_.front().Kind == crt32_pipe::KeyKind::None;
            keys_.pop_front();
            if (pause) break;
        }
    }
    int Flushes() const { return flushes_; }

  private:
    // The next key, past pauses; None when there is none.
    crt32_pipe::ScreenKey Pop() {
        while (!keys_.empty() && keys_.front().Kind == crt32_pipe::KeyKind::None)
            keys_.pop_front();
        if (keys_.empty()) return {};
        crt32_pipe::ScreenKey key = keys_.front();
        keys_.pop_front();
        return key;
    }

    static std::vector<std::string> Plain(const std::vector<Pieces>& rows) {
        std::vector<std::string> lines;
        for (const Pieces& row : rows) {
            std::string line;
            for (const crt32_pipe::RowPiece& piece : row)
                line += piece.Text;
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            lines.push_back(std::move(line));
        }
        return lines;
    }

    // Display widths for the tests: the wide blocks of East Asian scripts and
    // emoji 2, combining marks and zero-width characters 0, the rest 1.
    static int Width(char32_t c) {
        if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200D) || c == 0xFEFF) return 0;
        if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
            (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
            (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
            (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
            (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
            (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
            (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD))
            return 2;
        return 1;
    }

    int columns_ = 80;
    bool unicode_ = true;
    bool colour_ = true;
    std::vector<Pieces> drawn_;
    std::vector<Pieces> shown_;
    std::deque<crt32_pipe::ScreenKey> keys_;
    int shows_ = 0;
    int flushes_ = 0;
};

} // namespace kelpo32::testing
