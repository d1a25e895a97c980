// Private to the Win32 console layer: what the full screen (screen_win32.cpp)
// needs of crt32_pipe_win32.cpp, which owns the console control handler.
#pragma once

namespace crt32_pipe::win32 {

// Whether the control handler caught a Ctrl+C (or Ctrl+Break) that nothing
// has read yet; clears it. The handler also wakes a wait for console input.
bool TakeCtrlC();

} // namespace crt32_pipe::win32
