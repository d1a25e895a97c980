// What the exports write alike: the start directory's path, numbers, and
// paths as TSV keeps them on their line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelpo32::output {

// The start directory of a run, the one value every output and the browser
// get it from: as the report shows it (empty: the current directory), in the
// platform's own form (opaque; empty when it is the text), and its path as
// the exports write it (UTF-8 on Windows, "." for the current directory).
struct RunStart {
    std::string Text;
    std::string Native;
    std::string Path;
};

// The start directory given as `text` and `native`, with its export path.
RunStart StartOf(std::string text, std::string native);

// How a number is written: in decimal as it is, or for a reader that keeps
// numbers as doubles (the HTML page's script) as a string of its digits
// when it lies beyond 2^53, so that the exact value still arrives.
enum class NumberForm : std::uint8_t { Exact, Double };

// Appends a number in decimal; every form writes its numbers through it.
void AppendNumber(std::string& out, std::int64_t value, NumberForm form = NumberForm::Exact);

// Appends a path as TSV writes it: every byte but those that would split a
// line or a field or drive a terminal, which are escaped ("\t", "\n", "\r",
// "\\", and "\xHH" for each byte of another control character, C1 ones too,
// and each lone byte from 80 to 9F).
void AppendTsvPath(std::string& out, std::string_view path);

} // namespace kelpo32::output
