#include "probe_resize.h"

#include "runtime/win32_support.h"

namespace probe {

// The active screen buffer and its window made smaller; the console tells the
// program by a size event.
void ResizeOwnScreen(int columns, int rows) {
    HANDLE active =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (active == INVALID_HANDLE_VALUE) return;
    SMALL_RECT window{0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
    ::SetConsoleWindowInfo(active, TRUE, &window);
    ::SetConsoleScreenBufferSize(active,
                                 COORD{static_cast<SHORT>(columns), static_cast<SHORT>(rows)});
    ::CloseHandle(active);
}

} // namespace probe
