// peek.exe [PROGRAM [ARGS...]]
//
// Wine 8 starts reading a terminal for console input only once some program on
// that console has read or peeked console input. This helper peeks (consuming
// nothing) and then, when a program is named, runs it on the same console with
// the rest of its own command line, unchanged, waits for it and ends with its
// exit code. Ctrl+C is left to the program: the helper only survives it.
//
//   tests/wine-run.sh build/win32/tests/wine/peek.exe build/win32/kelpo32.exe /N
#include <windows.h> // NOMINMAX and WIN32_LEAN_AND_MEAN come from the build

#include <string>

namespace {

BOOL WINAPI SurviveCtrlC(DWORD type) {
    return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT;
}

// The command line after parameter 0 (parameter 0 may be quoted).
const char* ArgumentTail(const char* line) {
    bool quoted = false;
    while (*line != '\0' && (quoted || (*line != ' ' && *line != '\t'))) {
        if (*line == '"') quoted = !quoted;
        ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

} // namespace

int main() {
    INPUT_RECORD rec;
    DWORD count = 0;
    ::PeekConsoleInputA(::GetStdHandle(STD_INPUT_HANDLE), &rec, 1, &count);

    std::string command = ArgumentTail(::GetCommandLineA());
    if (command.empty()) return 0;
    ::SetConsoleCtrlHandler(SurviveCtrlC, TRUE);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                          &pi))
        return 126;
    ::CloseHandle(pi.hThread);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
