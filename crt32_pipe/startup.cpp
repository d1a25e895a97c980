// The module's start-up and shut-down entries. They nest: only the first
// start-up runs ConsoleInit and only the call that balances it runs ConsoleDone.
#include "crt32_pipe/crt32_pipe.h"

#include <cstdint>

namespace crt32_pipe {

namespace {
std::int32_t StartupCounter = 0;
} // namespace

void ConsoleStartup() {
    if (StartupCounter-- == 0) ConsoleInit();
}

void ConsoleShutdown() {
    if (++StartupCounter == 0) ConsoleDone();
}

} // namespace crt32_pipe
