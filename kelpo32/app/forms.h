// The table of output forms: per row what "--format=" calls it, how its
// consumer and its writer of rows are made, and what the rest of the run
// does for it. A new form is one row here and its writer's file; nothing
// else asks which form a run has.
#pragma once

#include "kelpo32/app/run_options.h"
#include "kelpo32/app/source.h"
#include "kelpo32/output/dir_row.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kelpo32 {

namespace saved {
struct SavedScan;
}

// What a form's consumer is made from.
struct FormInput {
    const Options& Opts;
    const output::RunStart& Start; // the start directory of the run
    std::int32_t Levels;           // the levels listed (ListedLevels)
    const saved::SavedScan* Old;   // the saved scan of --compare, or none
    const RunSource& Source;       // what feeds a layout of a whole tree
};

// The layout whose rows a writer gets.
enum class RowLayout : std::uint8_t {
    Plain,      // the walk's order
    Totals,     // the layout of totals
    Comparison, // the comparison with an older scan
};

struct OutputForm {
    std::string_view Name; // the value of "--format="
    // The consumer that writes the form: its own, or a layout handing rows
    // to its writer as the options ask (with the largest files after the
    // report). Whether the walk must deliver each entry, the consumer tells.
    std::unique_ptr<walk::WalkConsumer> (*Make)(const OutputForm& form, const FormInput& input);
    // Its writer of a layout's rows; nullptr: it takes no rows.
    std::unique_ptr<output::RowWriter> (*Rows)(const FormInput& input, RowLayout layout);
    unsigned char Switch; // the switch that also chooses it, or 0
    // The paged report: banner, widths, colours and pages, and messages
    // among its lines; an export is its data alone.
    bool Paged;
    // Written as text (the platform's, or UTF-8 of its own), not as the
    // Windows program's console bytes.
    bool TextOutput;
    bool Utf8;       // UTF-8 of its own, whatever the console shows
    bool ByteWidths; // names measured in bytes, as the Windows program does
    // The platform's text: the current directory is named as its tools do.
    bool PlatformNames;
    // The walk gives each subdirectory's own size with its parent's entries.
    bool DirectorySizes;
    // It can be made from a saved scan, which keeps no files.
    bool FromSaved;
    // Why it takes no --compare; empty: it compares.
    std::string_view NoComparison;
    // The levels it lists below the start when nothing bounds the listing
    // (Options::Bounded); -1: all.
    std::int32_t DefaultDepth;
    // Its writer of a growth's rows (--growth); nullptr: it has none.
    std::unique_ptr<output::RowWriter> (*GrowthRows)(const Options& options,
                                                     const output::RunStart& start) = nullptr;
};

std::span<const OutputForm> OutputForms();
// The row of "--format=NAME", or nullptr.
const OutputForm* FindForm(std::string_view name);
// The report in the platform's text, when no form is chosen.
const OutputForm& DefaultForm();
// The levels a run of `form` lists, 0 to the result - 1: the depth of /V or
// --max-depth, or the form's default depth.
std::int32_t ListedLevels(const OutputForm& form, const Options& options);

} // namespace kelpo32
