#include "runtime/textsafe.h"

namespace runtime {

// A console shows every byte above 127 as a character of its code page, and
// none of them starts a control sequence.
TextSink StdErrSink() {
    return TextSink::Plain;
}

} // namespace runtime
