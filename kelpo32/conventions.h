// The conventions of the platform the program runs on, as one value chosen
// once: where messages go and their words, the exit code of each kind of
// mistake and of each unhappy end, the texts of --help around the long
// options, and how the text report names the current directory. The program
// asks this value instead of branching on the platform.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace kelpo32 {

// The messages whose words differ between the platforms. In the words, {0},
// {1} and {2} stand for the arguments each one names here.
enum class Message : std::uint8_t {
    UnknownOption,      // {0} the argument as typed
    AmbiguousOption,    // {0} as typed; the candidates as {1} " '--a' '--b'" or {2} " --a --b"
    MissingValue,       // {0} the option ("--format", "-d")
    UnwantedValue,      // {0} the option
    BadValue,           // {0} the value, {1} the option, {2} the valid forms
    BadForm,            // {0} the value of --format, {1} the valid names
    UnreadablePatterns, // {0} the file of --exclude-from, {1} the system's reason
    CannotEnter,        // {0} the start directory as typed, {1} the system's reason
    NoRecords,          // no record for a subdirectory could be had
    IgnoredArgument,    // {0} a positional argument after the start directory
    LinksNotFollowed,   // --follow-links where links are never followed
};
inline constexpr std::size_t MessageCount = 11;

// Which of a long option's help texts the platform's --help shows.
enum class HelpForm : std::uint8_t { Posix, Windows };

struct Conventions {
    // The words of each message, indexed by Message; an empty one is not said.
    std::array<std::string_view, MessageCount> Words;
    // true: a message goes to standard error as "kelpo32: WORDS" and a line
    // feed, a mistake followed by the line "Try 'kelpo32 --help' ...". false:
    // the Windows program's own lines, on standard output, except a message
    // beside an export, which goes to standard error with CR LF.
    bool NamedOnStdErr;
    // The exit code of a mistake on the command line.
    int MistakeExit;
    // The switch letters (lower case) of the program; a switch with another
    // letter is a mistake. Empty: letters it does not know are passed over.
    std::string_view SwitchLetters;
    // The long options' single letters (du's "-d N", "-x") are switches.
    bool ShortForms;
    // The whole command line and the start directory are checked before
    // anything is written: a mistake or a start directory that cannot be
    // entered leaves standard output empty, and a key typed ahead never hides
    // the message. false: each is checked as it is read, after the banner.
    bool CheckFirst;
    // Whose help texts the long options show in --help.
    HelpForm Help;
    // The lines of --help before the long options and after them.
    std::span<const std::string_view> UsageHead;
    std::span<const std::string_view> UsageTail;
    // The exit code of a run stopped (Esc, Ctrl+C, SIGINT) while standard
    // output is not a terminal.
    int StopRedirectedExit;
    // The text report names the current directory "." (true) or "ROOT".
    bool DotForCurrentDir;
    // The exit code of a complete run in which some directory or entry could
    // not be read.
    int UnreadExit;
    // What the text shows for a number not known (a change the history is
    // too short for): an en dash in UTF-8, or the code page's hyphen.
    std::string_view NoNumber;
};

// The conventions of this platform.
const Conventions& PlatformConventions();

// An argument or a name as a message shows it: control characters as "?", so
// that none can drive the terminal.
std::string ShownArg(std::string_view text);

// A switch as typed up to its letter (the whole of a letter of several
// bytes), shown as ShownArg shows it.
std::string ShownSwitch(std::string_view arg);

// The words of `m` with its arguments in their places.
std::string MessageText(const Conventions& c, Message m,
                        std::initializer_list<std::string_view> args);

// A mistake on the command line, in the platform's words and place; ends the
// run with the platform's exit code for it.
[[noreturn]] void Mistake(Message m, std::initializer_list<std::string_view> args);
// A mistake the Windows program has no words for: on every platform
// "kelpo32: TEXT" on standard error (and the "Try" line), exit code 2.
[[noreturn]] void UsageError(std::string_view text, bool tryHelp = true);
// A message that precedes an unhappy end, where the platform writes it;
// `report`: the paged report is the run's output. Standard output is flushed.
void Tell(Message m, std::initializer_list<std::string_view> args, bool report);
// A remark on standard error that does not end the run, where the platform
// has words for it.
void Note(Message m, std::initializer_list<std::string_view> args);

} // namespace kelpo32
