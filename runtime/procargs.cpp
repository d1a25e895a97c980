// The process's arguments as main received them.
#include "runtime/sysio.h"

namespace runtime {

namespace {
int Argc = 0;
char** Argv = nullptr;
} // namespace

void SetProcessArgs(int argc, char** argv) {
    Argc = argc;
    Argv = argv;
}

int ProcessArgCount() {
    return Argc;
}

const char* ProcessArg(int i) {
    return i >= 0 && i < Argc && Argv[i] != nullptr ? Argv[i] : "";
}

const char* const* ProcessArgv() {
    return Argv;
}

} // namespace runtime
