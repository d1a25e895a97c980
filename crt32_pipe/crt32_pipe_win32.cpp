// The console layer on the Win32 console.
#include "crt32_pipe/crt32_pipe.h"

#include "crt32_pipe/console_win32.h"
#include "crt32_pipe/redirect.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"
#include "runtime/textsafe.h"
#include "runtime/win32_support.h"
#undef TextOut // wingdi.h's macro would rename runtime::TextOut

#include <algorithm>
#include <atomic>
#include <exception>
#include <string>

namespace crt32_pipe {

namespace {

// Module state: zero until ConsoleInit.
HANDLE InputHandle = nullptr;
HANDLE OutputHandle = nullptr;
HANDLE ErrorHandle = nullptr;
bool Redirected = false;
std::uint16_t CurrentAttr = 0;
std::uint16_t StartAttr = 0;
Extent Window;
Extent Buffer;
bool InsideIDE = false;
UINT SavedOutputCP = 0;
UINT SavedInputCP = 0;

// StdErrText: a text channel on standard error, 128-byte buffer. Nothing in
// the program writes to it; it is opened and closed with the console layer.
runtime::TextOut StdErrText;

// A Ctrl+C that the console control handler (a thread of its own) has
// caught and the main thread has not yet read as the key 3.
std::atomic<bool> CtrlCPending{false};
bool HandlerInstalled = false;
bool StdInConsole = false; // standard input is a console's input buffer

constexpr std::size_t StdErrBufferSize = 128;

// What a console shows for a control character when the program's bytes are
// written raw: the line controls act, the byte 0 (inside the report's indent)
// is a blank, and every other one is its code page 437 glyph (the column
// marker 16 is "►"). The code page tables map these bytes to U+0000 to U+001F.
wchar_t ShownChar(wchar_t c) {
    static constexpr wchar_t Glyphs[32] = {
        L' ',      L'\u263A', L'\u263B', L'\u2665', L'\u2666', L'\u2663', L'\u2660', L'\a',
        L'\b',     L'\t',     L'\n',     L'\u2642', L'\u2640', L'\r',     L'\u266B', L'\u263C',
        L'\u25BA', L'\u25C4', L'\u2195', L'\u203C', L'\u00B6', L'\u00A7', L'\u25AC', L'\u21A8',
        L'\u2191', L'\u2193', L'\u2192', L'\u2190', L'\u221F', L'\u2194', L'\u25B2', L'\u25BC'};
    return c < 32 ? Glyphs[c] : c;
}

// On a console the buffer of standard output holds UTF-16 code units: the
// program's bytes converted from the OEM code page, and names from their
// native form where the walk noted one, so a name the OEM code page cannot
// hold is shown in its real characters, but for bidirectional controls ("?"),
// which would reorder what follows them.
void AppendWide(std::string& buffer, std::wstring_view wide) {
    for (wchar_t c : wide) {
        wchar_t shown = runtime::IsBidiControl(c) ? L'?' : ShownChar(c);
        buffer.append(reinterpret_cast<const char*>(&shown), sizeof shown);
    }
}

void ConsoleText(std::string& buffer, std::string_view bytes, bool) {
    AppendWide(buffer, runtime::win32::WideFromOem(bytes));
}

void ConsoleUtf8(std::string& buffer, std::string_view bytes, bool) {
    if (bytes.empty()) return;
    int len = runtime::CheckedRange<int>(bytes.size());
    int n = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), len, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), len, wide.data(), n);
    AppendWide(buffer, wide);
}

// The characters of a native name whose OEM text takes `length` bytes; a
// character whose text would be cut is left out.
void ConsoleName(std::string& buffer, std::string_view native, std::size_t length) {
    std::wstring wide = runtime::win32::WideFromNative(native);
    std::size_t taken = 0;
    std::size_t bytes = 0;
    while (taken < wide.size()) {
        std::size_t step = 1;
        if (IS_HIGH_SURROGATE(wide[taken]) && taken + 1 < wide.size() &&
            IS_LOW_SURROGATE(wide[taken + 1]))
            step = 2;
        std::size_t size =
            runtime::win32::OemFromWide(std::wstring_view(wide).substr(taken, step)).size();
        if (bytes + size > length) break;
        bytes += size;
        taken += step;
    }
    AppendWide(buffer, std::wstring_view(wide).substr(0, taken));
}

// Writes the UTF-16 buffer through WriteConsoleW, in pieces of at most 8 Ki
// characters that do not end inside a surrogate pair.
int WriteConsoleWide(runtime::FileHandle h, const char* data, std::size_t size) {
    HANDLE out = reinterpret_cast<HANDLE>(h);
    std::wstring wide = runtime::win32::WideFromNative(std::string_view(data, size));
    std::wstring_view rest = wide;
    constexpr std::size_t Piece = 8192;
    while (!rest.empty()) {
        std::size_t n = std::min(rest.size(), Piece);
        if (n < rest.size() && IS_HIGH_SURROGATE(rest[n - 1])) --n;
        DWORD written = 0;
        if (!::WriteConsoleW(out, rest.data(), static_cast<DWORD>(n), &written, nullptr))
            return runtime::Win32IoError(::GetLastError());
        if (written == 0) return runtime::IoDiskFull;
        rest.remove_prefix(written);
    }
    return 0;
}

// Output buffered for standard output must reach the console before the
// attribute, the cursor or the buffer changes (whole pieces, never per character).
void FlushConsoleOutput() {
    if (Redirected) return;
    runtime::TextOut& out = runtime::StdOut();
    if (out.IsOpen()) out.Flush();
}

void ApplyAttr() {
    ::SetConsoleTextAttribute(OutputHandle, CurrentAttr);
}

// Ctrl+C and Ctrl+Break become a key with character 3, which the report's
// key checks turn into the stop sequence on the main thread.
BOOL WINAPI CtrlHandler(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    CtrlCPending.store(true);
    // Wake a WaitKey blocked in ReadConsoleInputA with an event that holds no
    // key. (A key record with character 3 would not do: a console with
    // processed input, Wine's among them, turns it into Ctrl+C again.)
    INPUT_RECORD rec{};
    rec.EventType = FOCUS_EVENT;
    rec.Event.FocusEvent.bSetFocus = TRUE;
    DWORD written = 0;
    ::WriteConsoleInputA(InputHandle, &rec, 1, &written);
    return TRUE;
}

// The character of a key record; some console hosts (Wine among them)
// leave the character of Esc empty.
std::uint8_t KeyChar(const KEY_EVENT_RECORD& key) {
    auto ch = static_cast<std::uint8_t>(key.uChar.AsciiChar);
    if (ch == 0 && key.wVirtualKeyCode == VK_ESCAPE) return KeyEsc;
    return ch;
}

bool StdInIsConsole() {
    DWORD mode = 0;
    return ::GetConsoleMode(InputHandle, &mode) != FALSE;
}

// Opens StdErrText as a standard channel (ConsoleInit step 4); returns the I/O result.
int OpenStdErrText() {
    HANDLE h = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == INVALID_HANDLE_VALUE) return runtime::Win32IoError(::GetLastError());
    DWORD type = ::GetFileType(h);
    if (type == FILE_TYPE_UNKNOWN) return runtime::IoNotOpenForOutput;
    StdErrText.Assign(reinterpret_cast<runtime::FileHandle>(ErrorHandle), StdErrBufferSize);
    // A character device gets every write passed on at once.
    StdErrText.SetLineFlush(type == FILE_TYPE_CHAR);
    return 0;
}

// From now on the byte-string file functions take and give names in the OEM
// code page. The program's own file calls use UTF-16 and convert names to the
// OEM code page themselves, so the report's bytes are those of that setting.
void UseOemFileApis() {
    if (::AreFileApisANSI()) ::SetFileApisToOEM();
}

} // namespace

bool win32::TakeCtrlC() {
    return CtrlCPending.exchange(false);
}

void ConsoleInit() {
    ::SetActiveWindow(nullptr);
    UseOemFileApis();
    InputHandle = ::GetStdHandle(STD_INPUT_HANDLE);
    OutputHandle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ErrorHandle = ::GetStdHandle(STD_ERROR_HANDLE);
    StdInConsole = StdInIsConsole();
    if (int code = OpenStdErrText(); code != 0) runtime::RaiseIoError(code);

    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(OutputHandle, &info)) {
        CurrentAttr = StartAttr = info.wAttributes;
        Buffer = Extent{info.dwSize.X, info.dwSize.Y};
        Window = Extent{static_cast<std::int16_t>(info.srWindow.Right + 1),
                        static_cast<std::int16_t>(info.srWindow.Bottom + 1)};
        Redirected = false;
    } else {
        Redirected = true;
    }

    SavedOutputCP = ::GetConsoleOutputCP();
    SavedInputCP = ::GetConsoleCP();
    ::SetConsoleOutputCP(1252);
    ::SetConsoleCP(1252);

    InsideIDE = ::FindWindowExA(nullptr, nullptr, "TAppBuilder", nullptr) != nullptr;

    // Standard output on a console is shown through WriteConsoleW, a line at a time.
    if (!Redirected) {
        runtime::TextOut& out = runtime::StdOut();
        out.SetTranslator(ConsoleText);
        out.SetNativeTranslator(ConsoleName);
        out.SetWriter(WriteConsoleWide);
        out.SetLineFlush(true);
    }
    // Ctrl+C becomes a key for the report's key checks.
    CtrlCPending.store(false);
    HandlerInstalled = ::SetConsoleCtrlHandler(CtrlHandler, TRUE) != FALSE;
    // Some console hosts (Wine's on a terminal) start reading the keyboard only
    // once a program has read or peeked console input; a peek consumes nothing.
    if (StdInConsole) {
        INPUT_RECORD rec;
        DWORD count = 0;
        ::PeekConsoleInputA(InputHandle, &rec, 1, &count);
    }
}

void ConsoleDone() {
    // The console is put back even when a flush fails; the first failure is
    // raised at the end.
    std::exception_ptr failure;
    try {
        RestoreAttr();
    } catch (...) {
        failure = std::current_exception();
        CurrentAttr = StartAttr;
        ApplyAttr();
    }
    // Close StdErrText: what is buffered goes out; the handle stays open.
    try {
        StdErrText.Flush();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    StdErrText.Assign(runtime::NoFile, 0);
    ::SetConsoleOutputCP(SavedOutputCP);
    ::SetConsoleCP(SavedInputCP);
    if (HandlerInstalled) ::SetConsoleCtrlHandler(CtrlHandler, FALSE);
    HandlerInstalled = false;
    if (failure) std::rethrow_exception(failure);
}

bool IsRedirected() {
    return Redirected;
}

void BecomeRedirected() {
    Redirected = true;
}

void UseTextOutput() {
    // Redirected output is the program's bytes, the Windows form.
}

void PresentUtf8() {
    runtime::StdOut().SetTranslator(Redirected ? nullptr : ConsoleUtf8);
}

void SetForeground(std::uint8_t colour) {
    FlushConsoleOutput();
    CurrentAttr = ForegroundAttr(CurrentAttr, colour);
    ApplyAttr();
}

void RestoreAttr() {
    FlushConsoleOutput();
    CurrentAttr = StartAttr;
    ApplyAttr();
}

void ClearToLineEnd() {
    FlushConsoleOutput();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(OutputHandle, &info)) return;
    int n = info.dwSize.X - info.dwCursorPosition.X;
    if (n <= 0) return;
    DWORD done = 0;
    ::FillConsoleOutputAttribute(OutputHandle, CurrentAttr, static_cast<DWORD>(n),
                                 info.dwCursorPosition, &done);
    ::FillConsoleOutputCharacterA(OutputHandle, ' ', static_cast<DWORD>(n), info.dwCursorPosition,
                                  &done);
}

bool KeyWaiting() {
    if (CtrlCPending.load()) return true;
    DWORD count = 0;
    if (!::GetNumberOfConsoleInputEvents(InputHandle, &count))
        return false; // standard input is not a console: no key can be pending
    return count >= 1;
}

std::uint8_t WaitKey() {
    FlushConsoleOutput();
    for (;;) {
        if (CtrlCPending.exchange(false)) return KeyCtrlC;
        INPUT_RECORD rec;
        DWORD read = 0;
        if (!::ReadConsoleInputA(InputHandle, &rec, 1, &read)) {
            // Not a console: no user can answer, so there is nothing to wait for.
            if (!StdInIsConsole()) return 0;
            continue;
        }
        if (read != 1 || rec.EventType != KEY_EVENT) continue;
        return KeyChar(rec.Event.KeyEvent);
    }
}

bool PollKey(std::uint8_t& key) {
    if (CtrlCPending.exchange(false)) {
        key = KeyCtrlC;
        return true;
    }
    for (;;) {
        DWORD count = 0;
        if (!::GetNumberOfConsoleInputEvents(InputHandle, &count) || count == 0) return false;
        INPUT_RECORD rec;
        DWORD read = 0;
        if (!::ReadConsoleInputA(InputHandle, &rec, 1, &read) || read != 1) return false;
        if (rec.EventType == KEY_EVENT) {
            key = KeyChar(rec.Event.KeyEvent);
            return true;
        }
    }
}

bool InputIsConsole() {
    return StdInConsole;
}

bool TakeResumed() {
    return false; // a console program is never stopped at its prompt
}

void SetBufferSize(std::int16_t columns, std::int16_t rows) {
    FlushConsoleOutput();
    ::SetConsoleScreenBufferSize(OutputHandle, COORD{columns, rows});
    Window = Extent{columns, rows};
}

void MessageBeep() {
    ::MessageBeep(0);
}

std::uint16_t TextAttr() {
    return CurrentAttr;
}
Extent WindowExtent() {
    return Window;
}
Extent BufferExtent() {
    return Buffer;
}
std::uint32_t StdOutHandle() {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(OutputHandle));
}
bool UnderIDE() {
    return InsideIDE;
}

} // namespace crt32_pipe
