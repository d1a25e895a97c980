#include "runtime/textsafe.h"

#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

namespace runtime {

TextSink StdErrSink() {
    if (::isatty(STDERR_FILENO) != 1) return TextSink::Plain;
    // The locale the program set at start-up.
    const char* codeset = ::nl_langinfo(CODESET);
    bool utf8 = codeset != nullptr &&
                (::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "UTF8") == 0);
    return utf8 ? TextSink::Utf8Terminal : TextSink::ByteTerminal;
}

} // namespace runtime
