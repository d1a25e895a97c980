// How report bytes are shown on a terminal. On a UTF-8 terminal the program's
// own bytes are the code page 437 characters they stand for and file names are
// UTF-8 with every control character and every invalid byte shown as "?". On
// any other terminal the glyphs are their nearest ASCII and a name shows the
// printable characters of the locale's character set, "?" for the rest.
// Redirected text is the same report for files and pipes: the glyphs in the
// locale's character set, names byte for byte, lines ended by LF.
#pragma once

#include <string>
#include <string_view>

namespace crt32_pipe {

// utf8: the terminal's character set; lineFeedOnly: the terminal adds the CR
// to a LF itself, so a line ends with LF alone.
void SetPresentation(bool utf8, bool lineFeedOnly);

void PresentText(std::string& out, std::string_view bytes, bool name);
void PresentFileText(std::string& out, std::string_view bytes, bool name);

} // namespace crt32_pipe
