#include "probe_resize.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace probe {

// The terminal's new size; the kernel tells the foreground job by SIGWINCH.
void ResizeOwnScreen(int columns, int rows) {
    struct winsize ws {};
    ws.ws_col = static_cast<unsigned short>(columns);
    ws.ws_row = static_cast<unsigned short>(rows);
    ::ioctl(STDOUT_FILENO, TIOCSWINSZ, &ws);
}

} // namespace probe
