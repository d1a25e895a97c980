#include "kelpo32/app/long_options.h"

#include "CmdLin/CmdLin.h"
#include "kelpo32/app/forms.h"
#include "kelpo32/app/option_values.h"
#include "kelpo32/output/sizes.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace kelpo32 {

namespace {

constexpr std::string_view SizeForms =
    "Valid arguments are: a number with an optional K, M, G, T, P (powers of 1024) or KB, MB, "
    "GB, TB, PB (powers of 1000)";
constexpr std::string_view CountForms = "Valid arguments are: a whole number from 1 to 2147483647";
constexpr std::string_view DepthForms = "Valid arguments are: a whole number from 0 to 2147483647";

[[noreturn]] void BadValue(const OptionUse& use, std::string_view valid) {
    Mistake(Message::BadValue, {ShownArg(use.Value), use.Shown, valid});
}

std::int32_t WholeNumber(const OptionUse& use, std::int32_t least, std::string_view valid) {
    std::int32_t n = 0;
    auto res = std::from_chars(use.Value.data(), use.Value.data() + use.Value.size(), n);
    if (res.ec != std::errc() || res.ptr != use.Value.data() + use.Value.size() || n < least)
        BadValue(use, valid);
    return n;
}

std::int64_t Size(const OptionUse& use) {
    std::int64_t size = 0;
    if (!output::ParseSize(use.Value, size)) BadValue(use, SizeForms);
    return size;
}

struct SortName {
    std::string_view Name;
    tree::SortKey Value;
};
constexpr SortName SortNames[] = {
    {"change", tree::SortKey::Change}, {"growth", tree::SortKey::Growth},
    {"size", tree::SortKey::Size},     {"files", tree::SortKey::Files},
    {"name", tree::SortKey::Name},     {"none", tree::SortKey::None}};

tree::SortKey Sort(const OptionUse& use) {
    const auto* it = std::find_if(std::begin(SortNames), std::end(SortNames),
                                  [&](const SortName& s) { return s.Name == use.Value; });
    if (it == std::end(SortNames))
        BadValue(use, "Valid arguments are: change, growth, size, files, name, none");
    return it->Value;
}

// --top and --min-size list the largest: in size order unless another order
// is asked for (the comparison's own is by change).
void ImplySizeOrder(Options& o) {
    if (!CmdLin::HasLongOption("sort") && !CmdLin::HasLongOption("compare") &&
        !CmdLin::HasLongOption("growth"))
        o.Sort = tree::SortKey::Size;
}

// The form "--format=NAME" chooses, by the table of output forms.
const OutputForm* Form(const OptionUse& use) {
    if (const OutputForm* form = FindForm(use.Value)) return form;
    std::string valid;
    for (const OutputForm& f : OutputForms())
        valid.append(valid.empty() ? "" : ", ").append(f.Name);
    Mistake(Message::BadForm, {ShownArg(use.Value), valid});
}

std::string SavedFile(const OptionUse& use) {
    if (use.Value.empty()) BadValue(use, "Valid arguments are: a file, or - (standard input)");
    return std::string(use.Value);
}

// "-" is standard output, as without the option.
std::string OutputFile(const OptionUse& use) {
    if (use.Value.empty()) BadValue(use, "Valid arguments are: a file, or - (standard output)");
    return use.Value == "-" ? std::string() : std::string(use.Value);
}

using Use = const OptionUse&;

bool Excluding(const Options& o) {
    return !o.Excludes.empty();
}

// The same help on both platforms.
constexpr std::array<std::string_view, 2> Both(std::string_view help) {
    return {help, help};
}

// The rows in the order --help lists them. A help text's lines are at most 58
// columns: beside the option's column they fit 79.
constexpr LongOption Table[] = {
    {.Name = "format",
     .Value = "FORM",
     .Set = [](Options& o, Use u) { o.Form = Form(u); },
     .Help = {"the output: text (default), windows, json, tsv, ncdu,\n"
              "html (a page with a treemap and a table), prometheus\n"
              "(metrics, 3 levels deep when nothing else bounds them)",
              "the output: text (default), windows (the same here),\n"
              "json, tsv, ncdu, prometheus (metrics, 3 levels deep\n"
              "when nothing else bounds them)"}},
    {.Name = "disk-usage",
     .Set =
         [](Options& o, Use) {
             o.DiskUsage = true;
             o.ApparentSize = false;
         },
     .Help = {"count the space files take on disk",
              "count the space files take on disk (compressed and\n"
              "sparse files by what they take, files whose data is\n"
              "not on the disk as 0)"}},
    {.Name = "apparent-size",
     .Set =
         [](Options& o, Use) {
             o.DiskUsage = false;
             o.ApparentSize = true;
         },
     .Help = Both("count the files' sizes (the default; --browse: disk usage)")},
    {.Name = {},
     .Letter = 'b',
     .Set =
         [](Options& o, Use) {
             o.DiskUsage = false;
             o.ApparentSize = true;
             o.Units = output::SizeUnits::Exact;
         },
     .Help = {"the files' sizes in exact bytes (du's -b)", ""}},
    {.Name = "count-links",
     .Set = [](Options& o, Use) { o.CountLinks = true; },
     .Help = {"count every link of a file with several (du's -l)",
              "count every link of a file with several; by default\n"
              "such a file counts once"}},
    {.Name = "max-depth",
     .Value = "N",
     .Letter = 'd',
     .Set = [](Options& o, Use u) { o.DepthLimit = WholeNumber(u, 0, DepthForms); },
     .Limits = [](const Options& o) { return o.DepthLimit >= 0; },
     .Help = {"list N levels below DIRECTORY at most, as /VN does",
              "list N levels below the directory at most, as /VN does;\n"
              "0: the directory alone"}},
    {.Name = {},
     .Letter = 's',
     .Set = [](Options& o, Use) { o.DepthLimit = 0; },
     .Help = {"DIRECTORY alone: as -d 0 (du's -s)", ""}},
    {.Name = "one-file-system",
     .Letter = 'x',
     .Set = [](Options& o, Use) { o.OneFileSystem = true; },
     .Help = {"do not enter directories on other file systems",
              "do not enter directories on other volumes"}},
    {.Name = "no-progress",
     .Set = [](Options& o, Use) { o.NoProgress = true; },
     .Help = {"no progress line on standard error", "no progress line"}},
    {.Name = "follow-links",
     .Set = [](Options& o, Use) { o.FollowLinks = true; },
     .Help = {"accepted for the Windows build; links count as files",
              "enter junctions, directory symbolic links and mount\n"
              "points (by default listed with 0 files, not entered)"}},
    {.Name = "totals",
     .Set = [](Options& o, Use) { o.Totals = true; },
     .Help = Both("each line with its subtree's totals, no \"Total in\" lines")},
    {.Name = "sort",
     .Value = "KEY",
     .Set =
         [](Options& o, Use u) {
             o.Sort = Sort(u);
             o.Totals = true;
         },
     .Help = Both("siblings by size (largest first), files, name or none\n"
                  "(as listed); implies --totals")},
    {.Name = "top",
     .Value = "N",
     .Set =
         [](Options& o, Use u) {
             o.Top = WholeNumber(u, 1, CountForms);
             o.Totals = true;
             ImplySizeOrder(o);
         },
     .Limits = [](const Options& o) { return o.Top > 0; },
     .Help = Both("at most N subdirectories per directory, the rest as one\n"
                  "line; implies --totals and, without --sort, size order")},
    {.Name = "min-size",
     .Value = "SIZE",
     .Set =
         [](Options& o, Use u) {
             o.MinSize = Size(u);
             o.Totals = true;
             ImplySizeOrder(o);
         },
     .Limits = [](const Options& o) { return o.MinSize > 0; },
     .Help = Both("only directories that hold SIZE bytes (500K, 1M, 2G;\n"
                  "1MB: powers of 1000); implies what --top implies")},
    {.Name = "human-readable",
     .Letter = 'h',
     .Set =
         [](Options& o, Use) {
             o.Units = output::SizeUnits::Binary;
             o.Totals = true;
         },
     .Help = Both("sizes like 1.0K, 340M (powers of 1024); implies --totals")},
    {.Name = "si",
     .Set =
         [](Options& o, Use) {
             o.Units = output::SizeUnits::Si;
             o.Totals = true;
         },
     .Help = Both("sizes like 1.0k, 340M (powers of 1000); implies --totals")},
    {.Name = "largest-files",
     .Value = "N",
     .Set = [](Options& o, Use u) { o.LargestFiles = WholeNumber(u, 1, CountForms); },
     .Help = Both("the N largest files, largest first: after the report,\n"
                  "or alone without /T, a depth limit or the layout of totals")},
    {.Name = "exclude",
     .Value = "PATTERN",
     .Set = [](Options& o, Use u) { o.Excludes.emplace_back(u.Value); },
     .Limits = Excluding,
     .Help = {"neither count nor enter entries whose name matches the\n"
              "shell pattern PATTERN (*, ?, [...]); with a / their path",
              "neither count nor enter entries whose name matches\n"
              "PATTERN (* and ?, without regard to case), or whose\n"
              "path does for a PATTERN with \\ or /"}},
    {.Name = "exclude-from",
     .Value = "FILE",
     .Set = [](Options& o, Use u) { ReadPatterns(u.Value, o.Excludes); },
     .Limits = Excluding,
     .Help = Both("the same for each line of FILE")},
    {.Name = "from",
     .Value = "FILE",
     .Set = [](Options& o, Use u) { o.From = SavedFile(u); },
     .Help = {"read a saved scan (JSON Lines or an ncdu export; \"-\":\n"
              "standard input) instead of walking DIRECTORY",
              "read a saved scan (JSON Lines or an ncdu export; \"-\":\n"
              "standard input) instead of walking the directory"}},
    {.Name = "compare",
     .Value = "OLD",
     .Set = [](Options& o, Use u) { o.Compare = SavedFile(u); },
     .Help = Both("each directory beside the saved scan OLD: its bytes\n"
                  "now, their change and its files' change")},
    {.Name = "min-change",
     .Value = "SIZE",
     .Set = [](Options& o, Use u) { o.MinChange = Size(u); },
     .Help = Both("with --compare: only directories changed by SIZE\n"
                  "and their parents; --sort=change: largest change first")},
    {.Name = "all",
     .Set = [](Options& o, Use) { o.All = true; },
     .Help = Both("with --compare: list unchanged directories too")},
    {.Name = "history",
     .Value = "DIR",
     .Set = [](Options& o, Use u) { o.History = HistoryDir(u); },
     .Help = Both("add the scan to the history in DIR (made if missing)")},
    {.Name = "history-keep",
     .Value = "RULE",
     .Set = [](Options& o, Use u) { o.HistoryKeep = KeepRuleOf(u); },
     .Help = Both("the scans it keeps: EVERY:FOR,... (1h:2d,1d:60d,1w)")},
    {.Name = "growth",
     .Set =
         [](Options& o, Use) {
             o.Growth = true;
             if (!CmdLin::HasLongOption("sort")) o.Sort = tree::SortKey::Growth;
         },
     .Help = Both("with --history: what grows fastest, when the disk is full")},
    {.Name = "window",
     .Value = "SPAN",
     .Set = [](Options& o, Use u) { o.Window = WindowOf(u); },
     .Help = Both("the span of --growth's rates: 36h, 7d (default), 2w, 3m")},
    {.Name = "output",
     .Value = "FILE",
     .Set = [](Options& o, Use u) { o.Output = OutputFile(u); },
     .Help = Both("write to FILE, replacing it only once the run is done")},
    {.Name = "browse",
     .Set = [](Options& o, Use) { o.Browse = true; },
     .Help = Both("browse the scan on the whole screen (? lists the keys)")},
    {.Name = "read-only",
     .Set = [](Options& o, Use) { o.ReadOnly = true; },
     .Help = Both("with --browse: never delete anything")},
    {.Name = "version", .Help = Both("print the version and exit")},
    {.Name = "help", .Help = Both("print this help and exit")},
};

std::string_view HelpOf(const LongOption& option, const Conventions& c) {
    return option.Help[static_cast<std::size_t>(c.Help)];
}

// A platform's rows as the command line's reader takes them, and the letters
// of those without a value and with one; made when the program is compiled.
struct PlatformRows {
    std::array<CmdLin::LongOptionSpec, std::size(Table)> Specs{};
    std::size_t Count = 0;
    std::array<char, std::size(Table) + 1> Flags{};
    std::array<char, std::size(Table) + 1> Values{};
};

constexpr PlatformRows RowsFor(HelpForm form) {
    PlatformRows rows;
    std::size_t flags = 0;
    std::size_t values = 0;
    for (const LongOption& option : Table) {
        if (option.Help[static_cast<std::size_t>(form)].empty()) continue;
        if (!option.Name.empty()) rows.Specs[rows.Count++] = {option.Name, !option.Value.empty()};
        if (option.Letter != 0 && option.Value.empty()) rows.Flags[flags++] = option.Letter;
        if (option.Letter != 0 && !option.Value.empty()) rows.Values[values++] = option.Letter;
    }
    return rows;
}

constexpr PlatformRows RowsOf[] = {RowsFor(HelpForm::Posix), RowsFor(HelpForm::Windows)};

} // namespace

std::span<const LongOption> LongOptions() {
    return Table;
}

bool OnPlatform(const LongOption& option, const Conventions& c) {
    return !HelpOf(option, c).empty();
}

void UseLongOptionTable() {
    const Conventions& c = PlatformConventions();
    const PlatformRows& rows = RowsOf[static_cast<std::size_t>(c.Help)];
    CmdLin::UseLongOptions(std::span(rows.Specs.data(), rows.Count));
    if (c.ShortForms)
        CmdLin::UseShortOptions(rows.Flags.data(), rows.Values.data());
    else
        CmdLin::UseShortOptions({}, {});
}

void ReadLongOptions(Options& options) {
    // Every use, short or long, in the order of the command line: a later
    // one wins, as du's do ("-h -b" exact, "-b -h" human-readable).
    struct Applied {
        std::int32_t Index;
        const LongOption* Option;
        std::string Shown;
        std::string Value;
    };
    std::vector<Applied> uses;
    for (const CmdLin::ShortOptionUse& use : CmdLin::ShortOptionUses()) {
        const auto* option =
            std::find_if(std::begin(Table), std::end(Table),
                         [&](const LongOption& o) { return o.Letter == use.Letter; });
        if (option == std::end(Table) || option->Set == nullptr) continue;
        std::string shown = std::string("-") + use.Letter;
        if (use.MissingValue) Mistake(Message::MissingValue, {shown});
        uses.push_back({use.Index, option, std::move(shown), use.Value});
    }
    for (const CmdLin::LongOptionUse& use : CmdLin::LongOptionUses()) {
        const auto* option = std::find_if(std::begin(Table), std::end(Table),
                                          [&](const LongOption& o) { return o.Name == use.Name; });
        if (option == std::end(Table) || option->Set == nullptr) continue;
        uses.push_back({use.Index, option, "--" + std::string(option->Name), use.Value});
    }
    std::stable_sort(uses.begin(), uses.end(),
                     [](const Applied& a, const Applied& b) { return a.Index < b.Index; });
    for (const Applied& use : uses)
        use.Option->Set(options, OptionUse{use.Shown, use.Value});
}

bool LimitedByLongOptions(const Options& options) {
    return std::any_of(std::begin(Table), std::end(Table), [&](const LongOption& option) {
        return option.Limits != nullptr && option.Limits(options);
    });
}

} // namespace kelpo32
