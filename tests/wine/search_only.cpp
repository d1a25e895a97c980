// Linked into a test build of kelpo32.exe: every directory is searched by its
// path, as on file systems that refuse the listing through a handle, so the
// tests can compare the two ways on one tree.
#include "runtime/win32_support.h"

namespace {

const bool SearchOnly = (runtime::win32::UseSearchOnly(true), true);

} // namespace
