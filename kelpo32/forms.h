// The table of output forms: per row what "--format=" calls it, how its
// consumer is made and what the rest of the run does for it. A new form is
// one row here and its consumer's file.
#pragma once

#include "kelpo32/run_options.h"
#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kelpo32 {

namespace saved {
struct SavedScan;
}

// The bytes a form writes.
enum class FormBytes : std::uint8_t {
    Console, // the Windows program's bytes, names measured in bytes
    Text,    // the platform's text: on POSIX the locale's characters, widths in columns
    Utf8,    // UTF-8 of its own, whatever the console shows
};

// What a form's consumer is made from.
struct FormInput {
    const Options& Opts;
    const saved::SavedScan* Old = nullptr; // the saved scan of --compare, or none
};

struct OutputForm {
    std::string_view Name; // the value of "--format="
    // The consumer that writes the form (with the layout of totals, the
    // comparison or the largest files where the options ask for them).
    // Whether the walk must deliver each entry, the consumer tells.
    std::unique_ptr<walk::WalkConsumer> (*Make)(const FormInput& input);
    unsigned char Switch; // the switch that also chooses it, or 0
    // The paged report: banner, widths, colours and pages; an export is its
    // data alone.
    bool Report;
    FormBytes Bytes;
    // The walk gives each subdirectory's own size with its parent's entries.
    bool DirectorySizes;
    // It can be made from a saved scan, which keeps no files.
    bool FromSaved;
};

std::span<const OutputForm> OutputForms();
// The row of "--format=NAME", or nullptr.
const OutputForm* FindForm(std::string_view name);
// The report in the platform's text, when no form is chosen.
const OutputForm& DefaultForm();

} // namespace kelpo32
