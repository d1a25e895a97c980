// Standard output into a file of its own (--output), the same on both
// platforms: as though the program had been started redirected there.
#include "crt32_pipe/crt32_pipe.h"
#include "crt32_pipe/redirect.h"
#include "runtime/textout.h"

namespace crt32_pipe {

void OutputToFile(runtime::FileHandle file) {
    runtime::TextOut& out = runtime::StdOut();
    out.Flush();
    out.Assign(file, out.BufferSize());
    out.SetTranslator(nullptr);
    out.SetNativeTranslator(nullptr);
    out.SetWriter(nullptr);
    out.SetLineFlush(false);
    BecomeRedirected();
}

} // namespace crt32_pipe
