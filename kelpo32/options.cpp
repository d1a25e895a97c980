#include "kelpo32/options.h"

#include "CmdLin/CmdLin.h"
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/forms.h"
#include "kelpo32/paging.h"
#include "kelpo32/state.h"
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

#include <algorithm>
#include <iterator>
#include <string_view>

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

constexpr std::string_view FormatPrefix = "format=";

// An argument in a message: in quotes, shown as standard error may show it.
std::string Quoted(std::string_view arg) {
    std::string quoted = "'";
    runtime::AppendSafeText(quoted, arg, runtime::StdErrSink());
    quoted += '\'';
    return quoted;
}

const OutputForm& ChooseForm(std::string_view value) {
    if (const OutputForm* form = FindForm(value)) return *form;
    std::string valid;
    for (const OutputForm& f : OutputForms())
        valid.append(valid.empty() ? "" : ", ").append(f.Name);
    runtime::WriteStdErr("kelpo32: invalid argument " + Quoted(value) +
                         " for '--format'\nValid arguments are: " + valid +
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

// The help that "--help" prints on POSIX: the usage, every switch and long
// option, the environment and the exit codes.
constexpr const char* UsageLines[] = {
    "Usage: kelpo32 [SWITCH]... [DIRECTORY]",
    "Print the directory tree below DIRECTORY (default: the current directory):",
    "one line per directory with its file count and bytes, a total per subtree.",
    "",
    "Switches (\"/\" or \"-\" and a letter, in any case):",
    "  /T          only the tree, without counts and sizes",
    "  /N          no pause after each page",
    "  /L          write a trace of the walk to logfile.txt",
    "  /132        widen the report on a terminal to 132 columns",
    "  /Wnnn       fit redirected output to nnn columns (default 200)",
    "  /Vnn        list nn levels below DIRECTORY at most",
    "  /J          JSON Lines, one object per directory (as --format=json)",
    "  /H, /?      the short help of the Windows program",
    "An argument that starts with \"/\" is a switch only in these forms.",
    "",
    "Long options:",
    "  --format=FORM      the output: text (default), windows, json, tsv, ncdu",
    "  --disk-usage       count the space files take on disk, each file with",
    "                     several links once",
    "  --apparent-size    count the files' sizes (the default)",
    "  --one-file-system  do not enter directories on other file systems",
    "  --no-progress      no progress line on standard error",
    "  --version          print the version and exit",
    "  --help             print this help and exit",
    "  --                 end of switches: what follows is the directory",
    "",
    "Environment:",
    "  KELPO32_THREADS    how many threads read directories (1 to 64)",
    "  NO_COLOR           when set and not empty: no colours",
    "  TERM               \"dumb\": no colours and no control sequences",
    "  LC_ALL, LC_CTYPE, LANG  the character set of the output",
    "",
    "Exit status: 0 done (also when stopped with Esc or Ctrl+C), 1 a directory",
    "that cannot be entered or an error, 2 a mistake on the command line.",
    "",
    "See kelpo32(1).",
};

// Every long option; those that take a value have it after "=".
struct LongOption {
    std::string_view Name;
    bool TakesValue;
};
constexpr LongOption KnownLongOptions[] = {
    {"help", false},       {"version", false},       {"one-file-system", false}, {"format", true},
    {"disk-usage", false}, {"apparent-size", false}, {"no-progress", false},
};

bool IsKnownLongOption(std::string_view arg) {
    std::string_view name = arg.substr(0, arg.find('='));
    bool hasValue = name.size() != arg.size();
    return std::any_of(
        std::begin(KnownLongOptions), std::end(KnownLongOptions),
        [&](const LongOption& o) { return o.Name == name && (o.TakesValue || !hasValue); });
}

// A mistake on the command line: what is wrong on standard error, exit code 2.
[[noreturn]] void UsageError(std::string_view text, bool tryHelp) {
    std::string message = "kelpo32: " + std::string(text) + "\n";
    if (tryHelp) message += "Try 'kelpo32 --help' for more information.\n";
    runtime::WriteStdErr(message);
    runtime::Halt(2);
}

// A start directory that cannot be entered: the Windows program's words on
// standard output, or on POSIX the directory and the system's reason on
// standard error.
[[noreturn]] void CannotEnter(const std::string& typed, const std::string& reason) {
    AbortIfKeyPending();
    if (CmdLin::PosixConventions())
        runtime::WriteStdErr("kelpo32: cannot enter " + Quoted(typed) + ": " + reason + "\n");
    else
        WriteLine("No such directory -- please try again.");
    runtime::Halt(1);
}

} // namespace

void WriteHelp() {
    runtime::StdOut().WriteLn();
    WriteLine(HelpTitle);
    for (const char* line : HelpLines)
        WriteLine(line);
}

void WriteUsage() {
    for (const char* line : UsageLines)
        WriteLine(line);
}

void CheckLongOptions(Options& options) {
    options.Form = &DefaultForm();
    for (const std::string& name : CmdLin::LongOptions()) {
        if (!IsKnownLongOption(name)) UsageError("unknown option " + Quoted("--" + name), true);
        if (name == "no-progress") options.NoProgress = true;
        if (name == "one-file-system") options.OneFileSystem = true;
        // The last of --disk-usage and --apparent-size counts.
        if (name == "disk-usage") options.DiskUsage = true;
        if (name == "apparent-size") options.DiskUsage = false;
        if (name.starts_with("format"))
            options.Form = &ChooseForm(
                std::string_view(name).substr(std::min(name.size(), FormatPrefix.size())));
    }
    // "/J" is "--format=json" on both builds.
    for (const OutputForm& form : OutputForms())
        if (form.Switch != 0 && CmdLin::HasSwitch(form.Switch)) options.Form = &form;
    // Every later line is written in the chosen form.
    if (options.Form->Bytes != FormBytes::Console) crt32_pipe::UseTextOutput();
    // A bad width is a mistake on the command line: nothing goes to standard output.
    if (CmdLin::PosixConventions() && CmdLin::HasSwitch('W') && CmdLin::SwitchValue('W') == 0)
        UsageError("Invalid /W numeric parameter.", false);
    if (CmdLin::HasLongOption("version")) {
        WriteLine("kelpo32 " KELPO32_VERSION);
        runtime::Halt(0);
    }
    if (CmdLin::HasLongOption("help")) {
        WriteUsage();
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
    if (CmdLin::HasSwitch('H') || CmdLin::HasSwitch('?')) {
        WriteHelp();
        runtime::Halt(0);
    }
    std::string startedIn;
    std::string startedInNative;
    if (int code = runtime::GetCurrentDir(startedIn, startedInNative); code != 0)
        runtime::RaiseIoError(code);
    if (CmdLin::PosixConventions())
        for (std::int32_t n = 2; n <= CmdLin::PositionalCount(); ++n)
            runtime::WriteStdErr("kelpo32: only one directory is reported; " +
                                 Quoted(CmdLin::PositionalParam(n)) + " is ignored\n");
    if (CmdLin::PositionalCount() >= 1) {
        StartDir = UpperCasePath(CmdLin::PositionalParam(1));
        // The directory itself is named by the argument as typed: the text
        // only shows it.
        StartNative = CmdLin::PositionalNative(1);
        if (std::string reason; runtime::EnterDir(StartDir, StartNative, reason) != 0)
            CannotEnter(CmdLin::PositionalParam(1), reason);
        if (int code = runtime::ChangeDir(startedIn, startedInNative); code != 0)
            runtime::RaiseIoError(code);
        StartDir = TrimSeparator(StartDir);
    }
}

} // namespace kelpo32
