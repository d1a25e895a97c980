#include "kelpo32/conventions.h"

#include "CmdLin/CmdLin.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"
#include "runtime/textsafe.h"

namespace kelpo32 {

namespace {

// --help on POSIX: the usage and the switches, the long options (from their
// table), then the environment and the exit codes.
constexpr std::string_view PosixUsageHead[] = {
    "Usage: kelpo32 [SWITCH]... [DIRECTORY]",
    "Print the directory tree below DIRECTORY (default: the current directory):",
    "one line per directory with its file count and bytes, a total per subtree.",
    "",
    "Switches (\"/\" or \"-\" and a letter, in any case; \"/\" only in these forms):",
    "  /T          only the tree, without counts and sizes",
    "  /N          no pause after each page",
    "  /L          write a trace of the walk to logfile.txt",
    "  /132        widen the report on a terminal to 132 columns",
    "  /Wnnn       fit redirected output to nnn columns (default 200)",
    "  /Vnn        list nn levels below DIRECTORY at most",
    "  /J          JSON Lines, one object per directory (as --format=json)",
    "  /H, /?, -H  the short help of the Windows program",
    "",
    "Long options and du's letters (these in lower case only):",
};

constexpr std::string_view PosixUsageTail[] = {
    "  --                 end of switches: what follows is the directory",
    "",
    "Environment:",
    "  KELPO32_THREADS    how many threads read directories (1 to 64)",
    "  NO_COLOR           when set and not empty: no colours",
    "  TERM               \"dumb\": no colours and no control sequences",
    "  LC_ALL, LC_CTYPE, LANG  the character set of the output",
    "",
    "Exit status: 0 done (also when stopped with Esc or Ctrl+C on a terminal),",
    "1 a directory that cannot be entered, a directory or entry that could not",
    "be read (the rest of the report is complete) or an error, 2 a mistake on",
    "the command line, 130 stopped while the output went to a file or a pipe.",
    "",
    "See kelpo32(1).",
};

// --help on Windows: the same in the Windows forms.
constexpr std::string_view WindowsUsageHead[] = {
    "Usage: kelpo32 [switches] [directory]",
    "Prints the directory tree below the directory (default: the current one):",
    "one line per directory with its file count and bytes, a total per subtree.",
    "",
    "Switches (\"/\" or \"-\" and a letter, in any case):",
    "  /T          only the tree, without counts and sizes",
    "  /N          no wait per page",
    "  /L          write a trace of the walk to logfile.txt",
    "  /132        put the console in 132 column mode",
    "  /Wnnn       set the output width to nnn columns (only when redirected)",
    "  /Vnn        list nn levels below the directory at most",
    "  /J          JSON Lines, one object per directory (as --format=json)",
    "  /H, /?      the short help",
    "",
    "Long options:",
};

constexpr std::string_view WindowsUsageTail[] = {
    "",
    "Environment:",
    "  KELPO32_THREADS    how many threads read directories (1 to 64)",
    "",
    "Exit code: 0 done (also when stopped with Esc or Ctrl+C), 1 a directory that",
    "cannot be entered, an unknown option or an error.",
};

constexpr Conventions Posix{
    .Words =
        {
            "unknown option '{0}'",
            "option '{0}' is ambiguous; possibilities:{1}",
            "option '{0}' requires an argument",
            "option '{0}' doesn't allow an argument",
            "invalid argument '{0}' for '{1}'\n{2}",
            "invalid argument '{0}' for '--format'\nValid arguments are: {1}",
            "cannot read '{0}' for '--exclude-from': {1}",
            "cannot enter '{0}': {1}",
            "Could not alocate record!",
            "only one directory is reported; '{0}' is ignored",
            "--follow-links has no effect here: symbolic links are never followed",
        },
    .NamedOnStdErr = true,
    .MistakeExit = 2,
    .SwitchLetters = "tnl1wvh?j",
    .ShortForms = true,
    .CheckFirst = true,
    .Help = HelpForm::Posix,
    .UsageHead = PosixUsageHead,
    .UsageTail = PosixUsageTail,
    .StopRedirectedExit = 130,
    .DotForCurrentDir = true,
    .UnreadExit = 1,
    .NoNumber = "\u2013",
};

constexpr Conventions Windows{
    .Words =
        {
            "Unknown option {0}.",
            "Ambiguous option {0}:{2}.",
            "Option {0} needs a value.",
            "Option {0} takes no value.",
            "Invalid {1} parameter '{0}'. {2}.",
            "Invalid --format value '{0}'; valid: {1}.",
            "Cannot read --exclude-from file '{0}': {1}.",
            "No such directory -- please try again.",
            "Could not alocate record!",
            "",
            "",
        },
    .NamedOnStdErr = false,
    .MistakeExit = 1,
    .SwitchLetters = "",
    .ShortForms = false,
    .CheckFirst = false,
    .Help = HelpForm::Windows,
    .UsageHead = WindowsUsageHead,
    .UsageTail = WindowsUsageTail,
    .StopRedirectedExit = 0,
    .DotForCurrentDir = false,
    .UnreadExit = 0,
    .NoNumber = "-",
};

constexpr std::string_view TryHelp = "Try 'kelpo32 --help' for more information.\n";

void WriteLine(std::string_view text) {
    runtime::StdOut().Write(text);
    runtime::StdOut().WriteLn();
}

} // namespace

const Conventions& PlatformConventions() {
    return CmdLin::PosixConventions() ? Posix : Windows;
}

std::string ShownArg(std::string_view text) {
    return runtime::SafeText(text, runtime::StdErrSink());
}

std::string ShownSwitch(std::string_view arg) {
    std::size_t end = 2;
    while (end < arg.size() && (static_cast<unsigned char>(arg[end]) & 0xC0) == 0x80)
        ++end;
    return ShownArg(arg.substr(0, end));
}

std::string MessageText(const Conventions& c, Message m,
                        std::initializer_list<std::string_view> args) {
    std::string_view words = c.Words[static_cast<std::size_t>(m)];
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const char digit = i + 2 < words.size() ? words[i + 1] : '\0';
        if (words[i] == '{' && digit >= '0' && digit <= '9' && words[i + 2] == '}') {
            const auto n = static_cast<std::size_t>(digit - '0');
            if (n < args.size()) text += *(args.begin() + n);
            i += 2;
        } else {
            text += words[i];
        }
    }
    return text;
}

void Mistake(Message m, std::initializer_list<std::string_view> args) {
    const Conventions& c = PlatformConventions();
    if (c.NamedOnStdErr)
        runtime::WriteStdErr("kelpo32: " + MessageText(c, m, args) + "\n" + std::string(TryHelp));
    else
        WriteLine(MessageText(c, m, args));
    runtime::Halt(c.MistakeExit);
}

void UsageError(std::string_view text, bool tryHelp) {
    std::string message = "kelpo32: " + std::string(text) + "\n";
    if (tryHelp) message += TryHelp;
    runtime::WriteStdErr(message);
    runtime::Halt(2);
}

void Tell(Message m, std::initializer_list<std::string_view> args, bool report) {
    const Conventions& c = PlatformConventions();
    auto& out = runtime::StdOut();
    if (c.NamedOnStdErr) {
        out.Flush();
        runtime::WriteStdErr("kelpo32: " + MessageText(c, m, args) + "\n");
    } else if (!report) {
        // Never into an export: it ends with its last whole record.
        out.Flush();
        runtime::WriteStdErr(MessageText(c, m, args) + "\r\n");
    } else {
        WriteLine(MessageText(c, m, args));
        out.Flush();
    }
}

void Note(Message m, std::initializer_list<std::string_view> args) {
    const Conventions& c = PlatformConventions();
    if (c.Words[static_cast<std::size_t>(m)].empty()) return;
    runtime::WriteStdErr((c.NamedOnStdErr ? "kelpo32: " : "") + MessageText(c, m, args) +
                         (c.NamedOnStdErr ? "\n" : "\r\n"));
}

} // namespace kelpo32
