// A test program of the full screen: opens it, draws a few rows (one with a
// hostile name), echoes each key it gets on a row, and quits on q or Ctrl+C.
// "e" ends it by an uncaught error, "p" waits for the next key by polling,
// "r" makes its own terminal or console 60 x 20.
// Before and after the screen it writes a line on the terminal's main screen,
// the second with the count of keys it took (q and Ctrl+C not counted).
#include "crt32_pipe/crt32_pipe.h"
#include "crt32_pipe/screen.h"
#include "probe_resize.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using crt32_pipe::Attr;
using crt32_pipe::KeyKind;
using crt32_pipe::ScreenKey;
using crt32_pipe::Span;

std::string KeyName(ScreenKey key) {
    static const char* const names[] = {
        "none",  "char", "up",    "down",      "pageup", "pagedown", "home",      "end",
        "enter", "left", "right", "backspace", "delete", "escape",   "interrupt", "resize"};
    std::string name = names[static_cast<int>(key.Kind)];
    if (key.Kind == KeyKind::Char) {
        char code[16];
        std::snprintf(code, sizeof code, " U+%04X", static_cast<unsigned>(key.Char));
        name += code;
    }
    return name;
}

class Probe {
  public:
    explicit Probe(crt32_pipe::Screen& screen) : screen_(screen) {}

    void Draw() {
        crt32_pipe::Extent size = screen_.Size();
        std::string head = "screen_probe " + std::to_string(size.X) + "x" + std::to_string(size.Y) +
                           (screen_.Unicode() ? " unicode" : " ascii") +
                           (screen_.Colour() ? " colour" : " plain");
        Line(0, {{head, Attr::Heading}});
        // An escape sequence, a bell, a title change, a right-to-left
        // override and an invalid byte in one name.
        Line(1, {{"name: ", Attr::Normal},
                 {"evil\x1b[2J\x07\x1b]0;pwned\x07\xE2\x80\xAEgnp.exe\xFF"
                  "end",
                  Attr::Warn}});
        Line(2, {{"wide: ", Attr::Normal}, {"\xE6\x97\xA5\xE6\x9C\xAC e\xCC\x81!", Attr::Dim}});
        std::string selected = "selected";
        selected.append(static_cast<std::size_t>(size.X - screen_.Columns(selected)), ' ');
        Line(3, {{selected, Attr::Selected}});
        Line(4, {{key_, Attr::Normal}});
        // A row cut at the edge: of wide characters where the device shows
        // them two columns wide (a console cell holds one character).
        std::string_view wide = "\xE6\x97\xA5";
        bool twoColumns = screen_.Columns(wide) == 2;
        std::string wideRow = "cut:";
        for (int i = 0; i < size.X; ++i)
            wideRow += twoColumns ? wide : std::string_view("\xC3\xBC");
        Line(5, {{wideRow, Attr::Normal}});
        std::string last = "last row " + std::to_string(keys_);
        last.append(static_cast<std::size_t>(size.X > 9 ? size.X : 9), '-');
        Line(size.Y - 1, {{last, Attr::Heading}});
        screen_.Show();
    }

    // Takes keys until q or Ctrl+C.
    void Run() {
        Draw();
        for (;;) {
            ScreenKey key = screen_.WaitKey();
            if (key.Kind == KeyKind::Char && key.Char == 'p') key = Poll();
            if (key.Kind == KeyKind::Char && key.Char == 'r') {
                probe::ResizeOwnScreen(60, 20); // the Resize it brings is echoed
                continue;
            }
            if (key.Kind == KeyKind::Char && key.Char == 'e')
                runtime::RaiseIoError(runtime::IoDiskFull, "probe");
            if (key.Kind == KeyKind::Interrupt || (key.Kind == KeyKind::Char && key.Char == 'q'))
                return;
            ++keys_;
            key_ = "key: " + KeyName(key);
            Draw();
        }
    }

  private:
    void Line(int y, std::vector<Span> spans) { screen_.Row(y, spans); }

    ScreenKey Poll() {
        key_ = "polling";
        Draw();
        for (;;) {
            ScreenKey key = screen_.PollKey();
            if (key.Kind != KeyKind::None) return key;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

  public:
    int Keys() const { return keys_; }

  private:
    crt32_pipe::Screen& screen_;
    std::string key_ = "key: none yet";
    int keys_ = 0;
};

void Program() {
    runtime::StdOut().Assign(runtime::StdHandle(runtime::StdStream::Output), 4096);
    crt32_pipe::ConsoleStartup();
    runtime::AddExitProc(crt32_pipe::ConsoleShutdown);
    runtime::StdOut().Write("probe: before");
    runtime::StdOut().WriteLn();
    std::string why;
    std::unique_ptr<crt32_pipe::Screen> screen = crt32_pipe::OpenScreen(why);
    if (!screen) {
        runtime::WriteStdErr("screen_probe: " + why + "\n");
        runtime::Halt(2);
    }
    Probe probe(*screen);
    probe.Run();
    screen.reset();
    runtime::StdOut().Write("probe: after " + std::to_string(probe.Keys()) + " keys");
    runtime::StdOut().WriteLn();
}

} // namespace

int main(int argc, char** argv) {
    runtime::ReserveStdHandles();
    runtime::SetProcessArgs(argc, argv);
    return runtime::RunProgram(Program);
}
