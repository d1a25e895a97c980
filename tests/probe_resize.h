// For screen_probe: changes the size of its own terminal or console, as a
// user resizing the window would.
#pragma once

namespace probe {

void ResizeOwnScreen(int columns, int rows);

} // namespace probe
