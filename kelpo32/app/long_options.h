// The program's long options as one table. A row holds everything about an
// option: its name, its value, its single-letter form, what it sets in the
// Options value and its help on each platform. The command line is read
// against the table and --help is printed from it: a new option is one row
// and the field it sets.
#pragma once

#include "kelpo32/app/run_options.h"
#include "kelpo32/conventions.h"

#include <array>
#include <span>
#include <string_view>

namespace kelpo32 {

// One use of an option on the command line.
struct OptionUse {
    std::string_view Shown; // as messages name it: "--top", or its letter as typed ("-d")
    std::string_view Value; // empty for an option that takes none
};

struct LongOption {
    std::string_view Name;
    // What its value is called in the help ("FORM"); empty: it takes none.
    std::string_view Value = {};
    // Its single-letter switch where the platform has them (du's "-d N"), or 0.
    char Letter = 0;
    // What one use sets; uses are applied in the order given, so a later one
    // wins. nullptr: the run asks for it by name (--help, --version).
    void (*Set)(Options& options, const OptionUse& use) = nullptr;
    // Whether, as set, it bounds what is listed; nullptr: it does not.
    bool (*Limits)(const Options& options) = nullptr;
    // Its help on each platform, indexed by HelpForm: lines split by "\n",
    // the first beside the option. Empty: not an option of that platform.
    std::array<std::string_view, 2> Help;
};

std::span<const LongOption> LongOptions();
// Whether the row is an option of the platform whose conventions are `c`.
bool OnPlatform(const LongOption& option, const Conventions& c);

// Hands the platform's rows (and their letters, where it has them) to the
// command line's reader; before the first query.
void UseLongOptionTable();
// Applies every use of the rows to `options`: the single letters first, then
// the long options in the order given. A bad value ends the run as a mistake.
void ReadLongOptions(Options& options);
// The usage text of "--help", in the platform's form: one entry per row.
void WriteUsage();
// Whether a row's option bounds what `options` list.
bool LimitedByLongOptions(const Options& options);

} // namespace kelpo32
