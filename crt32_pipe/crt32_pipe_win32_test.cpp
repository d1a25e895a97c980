// The Win32 console layer under Wine: redirected standard handles, and a
// console of the test's own (AllocConsole) for attributes, extents, the
// OEM presentation of standard output, keys and Ctrl+C.
#include "crt32_pipe/crt32_pipe.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"
#include "runtime/win32_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string TempName(const char* stem) {
    char dir[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    ::GetTempPathA(sizeof dir, dir);
    ::GetTempFileNameA(dir, stem, 0, name);
    return name;
}

std::string ReadAll(const std::string& name) {
    HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string out(65536, '\0');
    DWORD read = 0;
    ::ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &read, nullptr);
    ::CloseHandle(h);
    out.resize(read);
    return out;
}

// Puts standard input and output on files for the test's lifetime.
class RedirectedHandles {
  public:
    RedirectedHandles() : in_(TempName("kin")), out_(TempName("kou")) {
        savedIn_ = ::GetStdHandle(STD_INPUT_HANDLE);
        savedOut_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
        hIn_ = ::CreateFileA(in_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        hOut_ = ::CreateFileA(out_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              0, nullptr);
        ::SetStdHandle(STD_INPUT_HANDLE, hIn_);
        ::SetStdHandle(STD_OUTPUT_HANDLE, hOut_);
    }
    ~RedirectedHandles() {
        ::SetStdHandle(STD_INPUT_HANDLE, savedIn_);
        ::SetStdHandle(STD_OUTPUT_HANDLE, savedOut_);
        ::CloseHandle(hIn_);
        ::CloseHandle(hOut_);
        ::DeleteFileA(in_.c_str());
        ::DeleteFileA(out_.c_str());
    }
    HANDLE Out() const { return hOut_; }
    std::string Written() const { return ReadAll(out_); }

  private:
    std::string in_, out_;
    HANDLE savedIn_, savedOut_, hIn_, hOut_;
};

class ConsoleSession {
  public:
    ConsoleSession() { crt32_pipe::ConsoleStartup(); }
    ~ConsoleSession() { crt32_pipe::ConsoleShutdown(); }
};

} // namespace

TEST(Crt32PipeWin32, RedirectedOutputAndInput) {
    RedirectedHandles files;
    runtime::StdOut().Assign(reinterpret_cast<runtime::FileHandle>(files.Out()), 4096);
    {
        ConsoleSession session;
        EXPECT_TRUE(crt32_pipe::IsRedirected());
        EXPECT_EQ(crt32_pipe::TextAttr(), 0);
        EXPECT_EQ(crt32_pipe::WindowExtent().X, 0);
        EXPECT_EQ(crt32_pipe::WindowExtent().Y, 0);
        EXPECT_EQ(crt32_pipe::BufferExtent().X, 0);
        EXPECT_EQ(crt32_pipe::StdOutHandle(),
                  static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(files.Out())));
        EXPECT_FALSE(crt32_pipe::UnderIDE());

        // Standard input is a file: nothing is ever pending and nothing waits.
        EXPECT_FALSE(crt32_pipe::InputIsConsole());
        EXPECT_FALSE(crt32_pipe::KeyWaiting());
        std::uint8_t key = 99;
        EXPECT_FALSE(crt32_pipe::PollKey(key));
        EXPECT_EQ(crt32_pipe::WaitKey(), 0);

        crt32_pipe::SetForeground(crt32_pipe::ColourLightRed);
        EXPECT_EQ(crt32_pipe::TextAttr(), 0x0C);
        crt32_pipe::RestoreAttr();
        EXPECT_EQ(crt32_pipe::TextAttr(), 0);
        crt32_pipe::SetBufferSize(132, 50);
        EXPECT_EQ(crt32_pipe::WindowExtent().X, 132);
        EXPECT_EQ(crt32_pipe::WindowExtent().Y, 50);
        EXPECT_EQ(crt32_pipe::BufferExtent().Y, 0);

        // A second start-up changes nothing and needs a second shut-down.
        crt32_pipe::ConsoleStartup();
        EXPECT_EQ(crt32_pipe::WindowExtent().X, 132);
        crt32_pipe::ConsoleShutdown();

        // Redirected output is the program's bytes, unchanged.
        std::string bytes("\xC3\xC4\xC4 A\0\xBB\r\n", 9);
        runtime::StdOut().Write(bytes);
        runtime::StdOut().Flush();
        EXPECT_EQ(files.Written(), bytes);
    }
    runtime::StdOut().Assign(runtime::NoFile, 0);
}

TEST(Crt32PipeWin32, ShutdownWithoutStartupDoesNothing) {
    crt32_pipe::ConsoleShutdown(); // counter 0 -> 1: no ConsoleDone
    crt32_pipe::ConsoleStartup();  // back to 0: no ConsoleInit
    SUCCEED();
}

TEST(Crt32PipeWin32, ForegroundKeepsTheBackground) {
    EXPECT_EQ(crt32_pipe::ForegroundAttr(0x1F, 12), 0x1C);
    EXPECT_EQ(crt32_pipe::ForegroundAttr(0x1F, 0x2A), 0x1A);
    EXPECT_EQ(crt32_pipe::ForegroundAttr(0x8007, 7), 0x07);
}

// The console path, on a real console. Under Wine a process started without a
// terminal has no working console, and AllocConsole gives none without a
// display; a process created with CREATE_NO_WINDOW gets a headless one. So a
// test that finds no console runs itself again in such a child (its output
// comes through) and passes or fails with it.
constexpr char ChildMarker[] = "KELPO32_CONSOLE_TEST_CHILD";

bool OpenConsole(HANDLE& in, HANDLE& out) {
    in = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
    out = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
        ::GetConsoleScreenBufferInfo(out, &info))
        return true;
    if (in != INVALID_HANDLE_VALUE) ::CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    in = out = INVALID_HANDLE_VALUE;
    return false;
}

HANDLE Inheritable(DWORD which) {
    HANDLE h = ::GetStdHandle(which);
    HANDLE dup = nullptr;
    if (h == nullptr || h == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &dup, 0, TRUE,
                           DUPLICATE_SAME_ACCESS))
        return nullptr;
    return dup;
}

// Runs the current test alone in a child process with a headless console;
// true when the child ran it to the end and it passed.
bool RunInHeadlessConsole() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    char self[MAX_PATH + 1];
    DWORD n = ::GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command(1, '"');
    command.append(self, n).append("\" --gtest_filter=");
    command.append(info->test_suite_name()).append(".").append(info->name());
    // The child's XML report tells a passed test from a child that died early.
    std::string report = TempName("kxm");
    command.append(" --gtest_output=xml:").append(report);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
    si.hStdError = Inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    ::SetEnvironmentVariableA(ChildMarker, "1");
    fflush(stdout);
    BOOL started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                                    CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    ::SetEnvironmentVariableA(ChildMarker, nullptr);
    if (si.hStdOutput != nullptr) ::CloseHandle(si.hStdOutput);
    if (si.hStdError != nullptr) ::CloseHandle(si.hStdError);
    if (!started) {
        ADD_FAILURE() << "cannot start the console child, error " << ::GetLastError();
        ::DeleteFileA(report.c_str());
        return false;
    }
    ::CloseHandle(pi.hThread);
    if (::WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(pi.hProcess, 998);
        ADD_FAILURE() << "the console child hangs";
    }
    DWORD code = 999;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    std::string xml = ReadAll(report);
    ::DeleteFileA(report.c_str());
    bool passed = code == 0 && xml.find("tests=\"1\" failures=\"0\"") != std::string::npos;
    if (!passed) ADD_FAILURE() << "console child: exit code " << code << ", report:\n" << xml;
    return passed;
}

class Crt32PipeConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!OpenConsole(in_, out_)) {
            ASSERT_EQ(::GetEnvironmentVariableA(ChildMarker, nullptr, 0), 0u)
                << "no console even with CREATE_NO_WINDOW";
            EXPECT_TRUE(RunInHeadlessConsole()) << "the test failed in its console child";
            delegated_ = true;
            return;
        }
        savedIn_ = ::GetStdHandle(STD_INPUT_HANDLE);
        savedOut_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
        ::SetStdHandle(STD_INPUT_HANDLE, in_);
        ::SetStdHandle(STD_OUTPUT_HANDLE, out_);
        ::SetConsoleTextAttribute(out_, 0x1F);
        ::FlushConsoleInputBuffer(in_);
        runtime::StdOut().Assign(reinterpret_cast<runtime::FileHandle>(out_), 4096);
    }
    void TearDown() override {
        if (delegated_) return;
        runtime::StdOut().Assign(runtime::NoFile, 0);
        runtime::StdOut().SetWriter(nullptr);
        runtime::StdOut().SetLineFlush(false);
        ::SetStdHandle(STD_INPUT_HANDLE, savedIn_);
        ::SetStdHandle(STD_OUTPUT_HANDLE, savedOut_);
        ::CloseHandle(in_);
        ::CloseHandle(out_);
    }

    COORD Cursor() {
        CONSOLE_SCREEN_BUFFER_INFO info;
        ::GetConsoleScreenBufferInfo(out_, &info);
        return info.dwCursorPosition;
    }
    std::wstring Row(SHORT y, SHORT from, DWORD count) {
        std::wstring text(count, L'?');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(out_, text.data(), count, COORD{from, y}, &read);
        text.resize(read);
        return text;
    }
    WORD AttrAt(SHORT x, SHORT y) {
        WORD attr = 0;
        DWORD read = 0;
        ::ReadConsoleOutputAttribute(out_, &attr, 1, COORD{x, y}, &read);
        return attr;
    }
    void PushKey(char ch, WORD vk, BOOL down = TRUE) {
        INPUT_RECORD rec{};
        rec.EventType = KEY_EVENT;
        rec.Event.KeyEvent.bKeyDown = down;
        rec.Event.KeyEvent.wRepeatCount = 1;
        rec.Event.KeyEvent.wVirtualKeyCode = vk;
        rec.Event.KeyEvent.uChar.AsciiChar = ch;
        DWORD written = 0;
        ASSERT_TRUE(::WriteConsoleInputA(in_, &rec, 1, &written));
    }
    void PushFocus() {
        INPUT_RECORD rec{};
        rec.EventType = FOCUS_EVENT;
        rec.Event.FocusEvent.bSetFocus = TRUE;
        DWORD written = 0;
        ASSERT_TRUE(::WriteConsoleInputA(in_, &rec, 1, &written));
    }

    HANDLE in_ = INVALID_HANDLE_VALUE, out_ = INVALID_HANDLE_VALUE;
    HANDLE savedIn_ = nullptr, savedOut_ = nullptr;
    bool delegated_ = false; // the test ran in a child process
};

TEST_F(Crt32PipeConsole, StateAttributesAndCodePages) {
    if (delegated_) return;
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(out_, &info));
    UINT outCp = ::GetConsoleOutputCP();
    UINT inCp = ::GetConsoleCP();
    {
        ConsoleSession session;
        EXPECT_FALSE(crt32_pipe::IsRedirected());
        EXPECT_TRUE(crt32_pipe::InputIsConsole());
        EXPECT_EQ(crt32_pipe::TextAttr(), 0x1F);
        EXPECT_EQ(crt32_pipe::BufferExtent().X, info.dwSize.X);
        EXPECT_EQ(crt32_pipe::BufferExtent().Y, info.dwSize.Y);
        EXPECT_EQ(crt32_pipe::WindowExtent().X, info.srWindow.Right + 1);
        EXPECT_EQ(crt32_pipe::WindowExtent().Y, info.srWindow.Bottom + 1);
        EXPECT_EQ(::GetConsoleOutputCP(), 1252u);
        EXPECT_EQ(::GetConsoleCP(), 1252u);

        crt32_pipe::SetForeground(crt32_pipe::ColourLightRed);
        EXPECT_EQ(crt32_pipe::TextAttr(), 0x1C);
        ASSERT_TRUE(::GetConsoleScreenBufferInfo(out_, &info));
        EXPECT_EQ(info.wAttributes, 0x1C);
        crt32_pipe::SetForeground(0x2A);
        EXPECT_EQ(crt32_pipe::TextAttr(), 0x1A);
        crt32_pipe::RestoreAttr();
        EXPECT_EQ(crt32_pipe::TextAttr(), 0x1F);
        crt32_pipe::SetForeground(crt32_pipe::ColourLightGreen);
    }
    // Shut-down: start attribute and code pages back.
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(out_, &info));
    EXPECT_EQ(info.wAttributes, 0x1F);
    EXPECT_EQ(::GetConsoleOutputCP(), outCp);
    EXPECT_EQ(::GetConsoleCP(), inCp);
}

TEST_F(Crt32PipeConsole, OutputIsShownFromTheOemCodePage) {
    if (delegated_) return;
    ConsoleSession session;
    COORD start = Cursor();
    auto& out = runtime::StdOut();
    // Code page 437 glyphs as the report writes them, the indent's byte 0 and
    // a name byte: each shows as its OEM character, a line at a time.
    out.Write(std::string("\xC3\xC4\xC4\x10 a", 6));
    out.Write(std::string("\0", 1));
    out.WriteName("\x82");
    EXPECT_EQ(Row(start.Y, start.X, 3), L"   ") << "nothing is shown before the line ends";
    out.WriteLn();
    std::wstring shown = Row(start.Y, 0, 8);
    if (::GetOEMCP() == 437) {
        EXPECT_EQ(shown, std::wstring(L"\u251C\u2500\u2500\u25BA a \u00E9"));
    }
    COORD after = Cursor();
    EXPECT_EQ(after.Y, start.Y + 1);
    EXPECT_EQ(after.X, 0);
}

TEST_F(Crt32PipeConsole, NamesAreShownFromTheirNativeForm) {
    if (delegated_) return;
    ConsoleSession session;
    COORD start = Cursor();
    auto& out = runtime::StdOut();
    // A name the OEM code page cannot hold: whole, cut after its blank by the
    // report's byte count, and beside it a name that was not noted.
    const std::wstring real = L"S\u00E3o \u0141\u00F3d\u017A";
    const std::string text = runtime::win32::OemFromWide(real);
    out.NoteName(text, runtime::win32::NativeBytes(real));
    out.WriteName(text);
    out.Write("|");
    out.WriteName(text.substr(0, 4));
    out.WriteName("|other");
    out.WriteLn();
    EXPECT_EQ(Row(start.Y, 0, 19), real + L"|S\u00E3o |other");
}

TEST_F(Crt32PipeConsole, ColourChangesFlushTheTextBefore) {
    if (delegated_) return;
    ConsoleSession session;
    COORD start = Cursor();
    auto& out = runtime::StdOut();
    out.Write("grey");
    crt32_pipe::SetForeground(crt32_pipe::ColourLightRed);
    out.Write("red");
    crt32_pipe::SetForeground(crt32_pipe::ColourLightGrey);
    out.WriteLn();
    EXPECT_EQ(Row(start.Y, 0, 7), L"greyred");
    EXPECT_EQ(AttrAt(0, start.Y), 0x1F);
    EXPECT_EQ(AttrAt(4, start.Y), 0x1C);
}

TEST_F(Crt32PipeConsole, ClearToLineEndBlanksTheRestOfTheBufferRow) {
    if (delegated_) return;
    ConsoleSession session;
    COORD start = Cursor();
    auto& out = runtime::StdOut();
    out.Write("Press any key to continue.....");
    out.Flush();
    out.Write("\r");
    crt32_pipe::SetForeground(crt32_pipe::ColourLightGreen);
    crt32_pipe::ClearToLineEnd();
    COORD now = Cursor();
    EXPECT_EQ(now.X, 0);
    EXPECT_EQ(now.Y, start.Y);
    EXPECT_EQ(Row(start.Y, 0, 30), std::wstring(30, L' '));
    SHORT last = static_cast<SHORT>(crt32_pipe::BufferExtent().X - 1);
    EXPECT_EQ(AttrAt(0, start.Y), 0x1A);
    EXPECT_EQ(AttrAt(last, start.Y), 0x1A);
}

TEST_F(Crt32PipeConsole, KeysEscAndNonKeyEvents) {
    if (delegated_) return;
    ConsoleSession session;
    EXPECT_FALSE(crt32_pipe::KeyWaiting());
    std::uint8_t key = 0;
    EXPECT_FALSE(crt32_pipe::PollKey(key));

    PushFocus();
    EXPECT_TRUE(crt32_pipe::KeyWaiting());  // every kind of event counts
    EXPECT_FALSE(crt32_pipe::PollKey(key)); // but holds no key: dropped
    EXPECT_FALSE(crt32_pipe::KeyWaiting());

    PushKey('a', 'A', TRUE);
    PushKey('a', 'A', FALSE);
    EXPECT_TRUE(crt32_pipe::KeyWaiting());
    EXPECT_EQ(crt32_pipe::WaitKey(), 'a'); // the press
    EXPECT_EQ(crt32_pipe::WaitKey(), 'a'); // the release

    PushKey(0, VK_ESCAPE); // Wine leaves Esc's character empty
    EXPECT_EQ(crt32_pipe::WaitKey(), crt32_pipe::KeyEsc);
    PushKey(0, VK_SHIFT);
    EXPECT_EQ(crt32_pipe::WaitKey(), 0);
    PushFocus();
    PushKey(0, VK_ESCAPE);
    ASSERT_TRUE(crt32_pipe::PollKey(key));
    EXPECT_EQ(key, crt32_pipe::KeyEsc);
}

TEST_F(Crt32PipeConsole, CtrlCBecomesKeyThree) {
    if (delegated_) return;
    ConsoleSession session;
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    // The handler runs on a thread of its own: wait for its key.
    for (int i = 0; i < 200 && !crt32_pipe::KeyWaiting(); ++i)
        ::Sleep(10);
    ASSERT_TRUE(crt32_pipe::KeyWaiting());
    EXPECT_EQ(crt32_pipe::WaitKey(), crt32_pipe::KeyCtrlC);
    std::uint8_t key = 0;
    EXPECT_FALSE(crt32_pipe::PollKey(key)) << "one Ctrl+C, one key";

    // A WaitKey that blocks (at the page prompt) is woken by Ctrl+C.
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    EXPECT_EQ(crt32_pipe::WaitKey(), crt32_pipe::KeyCtrlC);

    // And the early check of every line sees it through PollKey.
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    bool got = false;
    for (int i = 0; i < 200 && !got; ++i) {
        got = crt32_pipe::KeyWaiting() && crt32_pipe::PollKey(key) && key == crt32_pipe::KeyCtrlC;
        if (!got) ::Sleep(10);
    }
    EXPECT_TRUE(got);
}
