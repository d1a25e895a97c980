// Private to the console layer: the platform's part of OutputToFile
// (output_file.cpp), which both platforms share.
#pragma once

namespace crt32_pipe {

// Standard output is redirected from now on: no colour, no control sequences.
void BecomeRedirected();

} // namespace crt32_pipe
