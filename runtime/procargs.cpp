// The process's arguments as main received them.
#include "runtime/sysio.h"

namespace rtl {

namespace {
int gArgc = 0;
char** gArgv = nullptr;
} // namespace

void SetProcessArgs(int argc, char** argv) {
    gArgc = argc;
    gArgv = argv;
}

int ProcessArgCount() {
    return gArgc;
}

const char* ProcessArg(int i) {
    return i >= 0 && i < gArgc && gArgv[i] != nullptr ? gArgv[i] : "";
}

const char* const* ProcessArgv() {
    return gArgv;
}

} // namespace rtl
