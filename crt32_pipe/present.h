// How report bytes are shown on a UTF-8 terminal: the program's own bytes as
// the code page 437 characters they stand for, file names as UTF-8 with every
// control character and every invalid byte shown as "?".
#pragma once

#include <string>
#include <string_view>

namespace crt32_pipe {

void PresentText(std::string& out, std::string_view bytes, bool name);

} // namespace crt32_pipe
