#include "kelpo32/options.h"

#include "CmdLin/CmdLin.h"
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/paging.h"
#include "kelpo32/state.h"
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <algorithm>

namespace kelpo32 {

namespace {

constexpr const char* HelpTitle = "KELPO V1.6 2015/09/06  Command Line Parameters:";

constexpr const char* HelpLines[] = {
    "/T    -  Only display Tree.",
    "/132  -  Put screen in 132 column mode.",
    "/Wnnn -  Set output width to nnn columns. (Only when output is redirected)",
    "/H    -  This Help.",
    "/N    -  no wait per page",
    "/L    -  generate log file",
    "/Vnn  -  deepest level to list",
};

// The forms of the output, by their names for "--format=".
struct FormatName {
    std::string_view Name;
    OutputFormat Value;
};
constexpr FormatName FormatNames[] = {
    {"text", OutputFormat::Text}, {"windows", OutputFormat::Windows}, {"json", OutputFormat::Json},
    {"tsv", OutputFormat::Tsv},   {"ncdu", OutputFormat::Ncdu},
};
constexpr std::string_view FormatPrefix = "format=";

void ChooseFormat(std::string_view value) {
    for (const FormatName& f : FormatNames)
        if (f.Name == value) {
            Format = f.Value;
            return;
        }
    std::string valid;
    for (const FormatName& f : FormatNames)
        valid.append(valid.empty() ? "" : ", ").append(f.Name);
    runtime::WriteStdErr("kelpo32: invalid argument '" + std::string(value) +
                         "' for '--format'\nValid arguments are: " + valid +
                         "\nTry 'kelpo32 --help' for more information.\n");
    runtime::Halt(2);
}

void WriteLine(std::string_view text) {
    runtime::StdOut().Write(text);
    runtime::StdOut().WriteLn();
}

// Upper-cases the letters where the file system ignores case.
std::string UpperCasePath(std::string dir) {
    if (runtime::PathsIgnoreCase())
        std::transform(dir.begin(), dir.end(), dir.begin(), [](char c) {
            return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        });
    return dir;
}

// Drops a separator that is the only one and the last character ("C:\" gives
// "C:", "TEMP\" gives "TEMP"). A lone separator stays: it names the root.
std::string TrimSeparator(std::string dir) {
    auto first = dir.find(runtime::PathSeparator());
    if (first != std::string::npos && first + 1 == dir.size() && dir.size() > 1) dir.pop_back();
    return dir;
}

} // namespace

void WriteHelp() {
    runtime::StdOut().WriteLn();
    WriteLine(HelpTitle);
    for (const char* line : HelpLines)
        WriteLine(line);
}

void CheckLongOptions() {
    for (const std::string& name : CmdLin::LongOptions()) {
        if (name == "help" || name == "version" || name == "one-file-system") continue;
        if (name == "no-progress") {
            NoProgress = true;
            continue;
        }
        if (name.starts_with(FormatPrefix)) {
            ChooseFormat(std::string_view(name).substr(FormatPrefix.size()));
            continue;
        }
        runtime::WriteStdErr("kelpo32: unknown option '--" + name + "'\n" + HelpTitle + "\n");
        runtime::Halt(2);
    }
    // "/J" is "--format=json" on both builds.
    if (CmdLin::HasSwitch('J')) Format = OutputFormat::Json;
    if (CmdLin::HasLongOption("version")) {
        WriteLine("kelpo32 " KELPO32_VERSION);
        runtime::Halt(0);
    }
}

void Set132Columns() {
    crt32_pipe::SetBufferSize(132, crt32_pipe::BufferExtent().Y);
    ScreenWidth = crt32_pipe::WindowExtent().X;
}

void ParseOptions() {
    TreeOnly = CmdLin::HasSwitch('T');
    NoWait = CmdLin::HasSwitch('N');
    LogEnabled = CmdLin::HasSwitch('L');
    OneFileSystem = CmdLin::HasLongOption("one-file-system");
    bool console = !crt32_pipe::IsRedirected();
    if (CmdLin::HasSwitch('1') && console) {
        Set132Columns();
        OutputWidth = ScreenWidth;
    }
    if (CmdLin::HasSwitch('W')) {
        std::int32_t width = CmdLin::SwitchValue('W');
        if (width == 0) {
            WriteLine("Invalid /W numeric parameter.");
            runtime::Halt(0);
        }
        OutputWidth = width;
        std::int32_t consoleWidth = crt32_pipe::WindowExtent().X;
        if (console && width > consoleWidth) {
            WriteLine("Can't exceed screen width unless output is re-directed!");
            OutputWidth = consoleWidth;
        }
    }
    MaxDepth = NoDepthLimit;
    if (CmdLin::HasSwitch('V')) {
        std::int32_t depth = CmdLin::SwitchValue('V');
        // The deepest listable level is the largest one: a value that would
        // need one more means no limit.
        if (depth >= 1 && depth < NoDepthLimit) MaxDepth = depth + 1;
    }
    if (CmdLin::HasSwitch('H') || CmdLin::HasSwitch('?') || CmdLin::HasLongOption("help")) {
        WriteHelp();
        runtime::Halt(0);
    }
    std::string startedIn;
    std::string startedInNative;
    if (int code = runtime::GetCurrentDir(startedIn, startedInNative); code != 0)
        runtime::RaiseIoError(code);
    if (CmdLin::PositionalCount() >= 1) {
        StartDir = UpperCasePath(CmdLin::PositionalParam(1));
        // The directory itself is named by the argument as typed: the text
        // only shows it.
        StartNative = CmdLin::PositionalNative(1);
        if (runtime::ChangeDir(StartDir, StartNative) != 0) {
            AbortIfKeyPending();
            WriteLine("No such directory -- please try again.");
            runtime::Halt(1);
        }
        if (int code = runtime::ChangeDir(startedIn, startedInNative); code != 0)
            runtime::RaiseIoError(code);
        StartDir = TrimSeparator(StartDir);
    }
}

} // namespace kelpo32
