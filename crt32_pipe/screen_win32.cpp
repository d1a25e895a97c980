// The full screen on the Win32 console: a screen buffer of the program's own,
// made active while the screen is open, written a whole row at a time; keys and
// size changes from the console's input records. The buffer that was active
// and the input mode are given back when the screen closes.
#include "crt32_pipe/screen.h"

#include "crt32_pipe/console_win32.h"
#include "crt32_pipe/screen_row.h"
#include "runtime/textout.h"
#include "runtime/win32_support.h"
#undef TextOut // wingdi.h's macro would rename runtime::TextOut

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace crt32_pipe {

namespace {

bool ScreenIsOpen = false;         // one screen at a time
constexpr DWORD SizeCheckMs = 200; // how often a wait for a key looks at the window's size

// A console cell holds one UTF-16 unit: a character beyond it cannot be shown.
int CellWidth(char32_t c) {
    return c < 0x10000 ? 1 : -1;
}

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

Extent WindowOf(const CONSOLE_SCREEN_BUFFER_INFO& info) {
    return Extent{static_cast<std::int16_t>(info.srWindow.Right - info.srWindow.Left + 1),
                  static_cast<std::int16_t>(info.srWindow.Bottom - info.srWindow.Top + 1)};
}

std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty()) return std::wstring();
    int len = static_cast<int>(text.size());
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), len, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), len, wide.data(), n);
    return wide;
}

bool SameCell(const CHAR_INFO& a, const CHAR_INFO& b) {
    return a.Char.UnicodeChar == b.Char.UnicodeChar && a.Attributes == b.Attributes;
}

class ConsoleScreen final : public Screen {
  public:
    ConsoleScreen(HANDLE input, DWORD inputMode, HANDLE original, bool ownsOriginal, HANDLE buffer,
                  WORD normal)
        : input_(input), inputMode_(inputMode), original_(original), ownsOriginal_(ownsOriginal),
          buffer_(buffer), normal_(normal) {
        colour_ = !EnvSet("NO_COLOR");
        CONSOLE_CURSOR_INFO cursor{};
        if (::GetConsoleCursorInfo(buffer_, &cursor)) {
            cursor.bVisible = FALSE;
            ::SetConsoleCursorInfo(buffer_, &cursor);
        }
        ::SetConsoleTextAttribute(buffer_, normal_);
        Resync();
        ScreenIsOpen = true;
    }

    ~ConsoleScreen() override {
        ::SetConsoleActiveScreenBuffer(original_);
        ::SetConsoleMode(input_, inputMode_);
        ::CloseHandle(buffer_);
        if (ownsOriginal_) ::CloseHandle(original_);
        ScreenIsOpen = false;
    }

    Extent Size() const override { return size_; }
    bool Unicode() const override { return true; }
    bool Colour() const override { return colour_; }

    int Columns(std::string_view utf8) const override { return ShownColumns(utf8, CellWidth); }

    void Row(int y, std::span<const Span> spans) override {
        if (y < 0 || y >= size_.Y) return;
        CHAR_INFO* row = drawn_.data() + static_cast<std::size_t>(y) * Width();
        CHAR_INFO blank{};
        blank.Char.UnicodeChar = L' ';
        blank.Attributes = normal_;
        std::size_t x = 0;
        for (const RowPiece& piece : LayRow(spans, size_.X, CellWidth)) {
            WORD look = Look(piece.Look);
            for (wchar_t c : WideFromUtf8(piece.Text)) {
                if (x >= Width()) break;
                row[x].Char.UnicodeChar = c;
                row[x].Attributes = look;
                ++x;
            }
        }
        for (; x < Width(); ++x)
            row[x] = blank;
    }

    void Show() override {
        std::size_t width = Width();
        auto rows = static_cast<std::size_t>(size_.Y);
        std::size_t y = 0;
        while (y < rows) {
            if (RowShown(y)) {
                ++y;
                continue;
            }
            // One write for a run of changed rows.
            std::size_t end = y + 1;
            while (end < rows && !RowShown(end))
                ++end;
            SMALL_RECT rect{0, static_cast<SHORT>(y), static_cast<SHORT>(width - 1),
                            static_cast<SHORT>(end - 1)};
            COORD from{size_.X, static_cast<SHORT>(end - y)};
            ::WriteConsoleOutputW(buffer_, drawn_.data() + y * width, from, COORD{0, 0}, &rect);
            std::copy(drawn_.begin() + static_cast<std::ptrdiff_t>(y * width),
                      drawn_.begin() + static_cast<std::ptrdiff_t>(end * width),
                      shown_.begin() + static_cast<std::ptrdiff_t>(y * width));
            y = end;
        }
    }

    ScreenKey WaitKey() override {
        for (;;) {
            if (win32::TakeCtrlC()) return {KeyKind::Interrupt};
            if (SizeChanged()) return {KeyKind::Resize};
            // A window made smaller than its buffer sends no event: its size
            // is looked at again while no input comes.
            DWORD count = 0;
            if (::GetNumberOfConsoleInputEvents(input_, &count) && count == 0 &&
                ::WaitForSingleObject(input_, SizeCheckMs) != WAIT_FAILED)
                continue;
            INPUT_RECORD rec;
            DWORD read = 0;
            // Input that is no console any more: nothing more will come.
            if (!::ReadConsoleInputW(input_, &rec, 1, &read)) return {KeyKind::Interrupt};
            if (read != 1) continue;
            ScreenKey key = FromRecord(rec);
            if (key.Kind != KeyKind::None) return key;
        }
    }

    ScreenKey PollKey() override {
        if (win32::TakeCtrlC()) return {KeyKind::Interrupt};
        if (SizeChanged()) return {KeyKind::Resize};
        for (;;) {
            DWORD count = 0;
            if (!::GetNumberOfConsoleInputEvents(input_, &count) || count == 0) return {};
            INPUT_RECORD rec;
            DWORD read = 0;
            if (!::ReadConsoleInputW(input_, &rec, 1, &read) || read != 1) return {};
            ScreenKey key = FromRecord(rec);
            if (key.Kind != KeyKind::None) return key;
        }
    }

    // A size change it throws away too is found by the size's next look.
    void FlushInput() override {
        ::FlushConsoleInputBuffer(input_);
        high_ = 0;
    }

  private:
    std::size_t Width() const { return static_cast<std::size_t>(size_.X); }

    bool RowShown(std::size_t y) const {
        std::size_t width = Width();
        for (std::size_t x = y * width; x < (y + 1) * width; ++x)
            if (!SameCell(drawn_[x], shown_[x])) return false;
        return true;
    }

    // Takes the size of the window now: the buffer made as large, so it
    // scrolls nowhere; every row is to be drawn and sent again.
    void Resync() {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!::GetConsoleScreenBufferInfo(buffer_, &info)) return;
        Extent window = WindowOf(info);
        if (info.dwSize.X != window.X || info.dwSize.Y != window.Y) {
            SMALL_RECT rect{0, 0, static_cast<SHORT>(window.X - 1),
                            static_cast<SHORT>(window.Y - 1)};
            ::SetConsoleWindowInfo(buffer_, TRUE, &rect);
            ::SetConsoleScreenBufferSize(buffer_, COORD{window.X, window.Y});
        }
        size_ = window;
        CHAR_INFO blank{};
        blank.Char.UnicodeChar = L' ';
        blank.Attributes = normal_;
        std::size_t cells = Width() * static_cast<std::size_t>(size_.Y);
        drawn_.assign(cells, blank);
        CHAR_INFO unknown{}; // matches no cell drawn: the first Show sends every row
        unknown.Attributes = 0xFFFF;
        shown_.assign(cells, unknown);
    }

    bool SizeChanged() {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!::GetConsoleScreenBufferInfo(buffer_, &info)) return false;
        Extent window = WindowOf(info);
        if (window.X == size_.X && window.Y == size_.Y) return false;
        Resync();
        return true;
    }

    ScreenKey FromRecord(const INPUT_RECORD& rec) {
        // A size already taken (at the last look) is not reported again.
        if (rec.EventType == WINDOW_BUFFER_SIZE_EVENT)
            return SizeChanged() ? ScreenKey{KeyKind::Resize} : ScreenKey{};
        if (rec.EventType != KEY_EVENT || !rec.Event.KeyEvent.bKeyDown) return {};
        const KEY_EVENT_RECORD& key = rec.Event.KeyEvent;
        switch (key.wVirtualKeyCode) {
        case VK_UP:
            return {KeyKind::Up};
        case VK_DOWN:
            return {KeyKind::Down};
        case VK_PRIOR:
            return {KeyKind::PageUp};
        case VK_NEXT:
            return {KeyKind::PageDown};
        case VK_HOME:
            return {KeyKind::Home};
        case VK_END:
            return {KeyKind::End};
        case VK_LEFT:
            return {KeyKind::Left};
        case VK_RIGHT:
            return {KeyKind::Right};
        case VK_RETURN:
            return {KeyKind::Enter};
        case VK_BACK:
            return {KeyKind::Backspace};
        case VK_DELETE:
            return {KeyKind::Delete};
        case VK_ESCAPE: // some hosts (Wine's) leave its character empty
            return {KeyKind::Escape};
        default:
            break;
        }
        wchar_t c = key.uChar.UnicodeChar;
        if (IS_HIGH_SURROGATE(c)) {
            high_ = c;
            return {};
        }
        if (IS_LOW_SURROGATE(c)) {
            if (high_ == 0) return {};
            char32_t full = 0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) +
                            (static_cast<char32_t>(c) - 0xDC00);
            high_ = 0;
            return {KeyKind::Char, full};
        }
        high_ = 0;
        switch (c) {
        case 3:
            return {KeyKind::Interrupt};
        case 8:
            return {KeyKind::Backspace};
        case 13:
            return {KeyKind::Enter};
        case 27:
            return {KeyKind::Escape};
        default:
            break;
        }
        if (c < 0x20) return {}; // a modifier alone, or a control key that means nothing here
        return {KeyKind::Char, static_cast<char32_t>(c)};
    }

    WORD Look(Attr look) const {
        auto background = static_cast<WORD>(normal_ & 0xF0);
        auto reverse = static_cast<WORD>(((normal_ & 0x0F) << 4) | ((normal_ & 0xF0) >> 4));
        auto coloured = [&](WORD foreground) {
            return colour_ ? static_cast<WORD>(background | foreground) : normal_;
        };
        switch (look) {
        case Attr::Normal:
            return normal_;
        case Attr::Selected:
        case Attr::Heading:
            return reverse;
        case Attr::Dim:
            return coloured(FOREGROUND_INTENSITY); // dark grey
        case Attr::Warn:
            return coloured(FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY);
        case Attr::Grew:
            return coloured(FOREGROUND_RED | FOREGROUND_INTENSITY);
        case Attr::Shrank:
            return coloured(FOREGROUND_GREEN | FOREGROUND_INTENSITY);
        }
        return normal_;
    }

    HANDLE input_;
    DWORD inputMode_; // the input mode found, given back at the end
    HANDLE original_; // the buffer that was active
    bool ownsOriginal_;
    HANDLE buffer_;
    WORD normal_; // the attribute of plain text: the one the original buffer had
    bool colour_ = true;
    Extent size_;
    std::vector<CHAR_INFO> drawn_; // the rows as drawn, size_.X cells each
    std::vector<CHAR_INFO> shown_; // the rows as the console has them
    wchar_t high_ = 0;             // the first half of a character beyond U+FFFF
};

std::string SystemReason(const char* doing) {
    return std::string(doing) + ": error " + std::to_string(::GetLastError());
}

} // namespace

std::unique_ptr<Screen> OpenScreen(std::string& why) {
    if (ScreenIsOpen) {
        why = "the screen is open already";
        return nullptr;
    }
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD inputMode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleMode(input, &inputMode) ||
        !::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        why = "standard input and standard output must be a console";
        return nullptr;
    }
    // What the program wrote before stays in the buffer it was written to.
    runtime::StdOut().Flush();
    // The buffer active now, which standard output may not be.
    HANDLE original =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    bool ownsOriginal = original != INVALID_HANDLE_VALUE;
    if (!ownsOriginal) original = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (!::GetConsoleScreenBufferInfo(original, &info)) {
        why = SystemReason("cannot read the console");
        if (ownsOriginal) ::CloseHandle(original);
        return nullptr;
    }
    HANDLE buffer = ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (buffer == INVALID_HANDLE_VALUE) {
        why = SystemReason("cannot create a screen buffer");
        if (ownsOriginal) ::CloseHandle(original);
        return nullptr;
    }
    // As large as the window, so nothing scrolls.
    Extent window = WindowOf(info);
    ::SetConsoleScreenBufferSize(buffer, COORD{window.X, window.Y});
    if (!::SetConsoleActiveScreenBuffer(buffer)) {
        why = SystemReason("cannot show a screen buffer");
        ::CloseHandle(buffer);
        if (ownsOriginal) ::CloseHandle(original);
        return nullptr;
    }
    // Keys and size changes as records; Ctrl+C as a key, not a signal.
    ::SetConsoleMode(input, ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS);
    return std::make_unique<ConsoleScreen>(input, inputMode, original, ownsOriginal, buffer,
                                           info.wAttributes);
}

} // namespace crt32_pipe
