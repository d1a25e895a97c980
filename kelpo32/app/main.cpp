// Entry point: starts the modules in order and runs the body through the exit
// path, which shuts them down in reverse on every end of the process.
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/app/body.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textout.h"

namespace {

constexpr std::size_t StdOutBufferSize = std::size_t{64} * 1024;

void Program() {
    // Its buffer is the first allocation: inside the exit path like every other.
    runtime::StdOut().Assign(runtime::StdHandle(runtime::StdStream::Output), StdOutBufferSize);
    crt32_pipe::ConsoleStartup();
    runtime::AddExitProc(crt32_pipe::ConsoleShutdown);
    runtime::AddExitProc(kelpo32::ModuleShutdown);
    kelpo32::RunBody();
}

} // namespace

int main(int argc, char** argv) {
    runtime::ReserveStdHandles();
    runtime::SetProcessArgs(argc, argv);
    return runtime::RunOnLargeStack([] { return runtime::RunProgram(Program); });
}
