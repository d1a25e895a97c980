// The table of output forms: per row what "--format=" calls it, how its
// consumer is made and what the rest of the run must do for it. A new form is
// one row here and its consumer's file.
#pragma once

#include "kelpo32/consumer.h"
#include "kelpo32/run_options.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace kelpo32 {

// The bytes a form writes.
enum class FormBytes : std::uint8_t {
    Console, // the Windows program's bytes, names measured in bytes
    Text,    // the platform's text: on POSIX the locale's characters, widths in columns
    Utf8,    // UTF-8 of its own, whatever the console shows
};

struct OutputForm {
    std::string_view Name; // the value of "--format="
    std::unique_ptr<WalkConsumer> (*Make)(const Options& options);
    unsigned char Switch; // the switch that also chooses it, or 0
    // The paged report: banner, widths, colours and pages; an export is its
    // data alone.
    bool Report;
    FormBytes Bytes;
    // The walk gives each subdirectory's own size with its parent's entries.
    // (Whether a form needs the entries at all its consumer tells.)
    bool DirectorySizes;
};

std::span<const OutputForm> OutputForms();
// The row of "--format=NAME", or nullptr.
const OutputForm* FindForm(std::string_view name);
// The report in the platform's text, when no form is chosen.
const OutputForm& DefaultForm();

} // namespace kelpo32
