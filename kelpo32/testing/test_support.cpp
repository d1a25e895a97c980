#include "kelpo32/testing/test_support.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/app/body.h"
#include "kelpo32/app/forms.h"
#include "kelpo32/report/report.h"
#include "kelpo32/state.h"
#include "runtime/textout.h"

namespace kelpo32::testing {

namespace {
int AppendToCapture(runtime::FileHandle, const char* data, std::size_t size) {
    Captured().append(data, size);
    return 0;
}
} // namespace

std::string& Captured() {
    static std::string text;
    return text;
}

void CaptureStdOut() {
    // The console layer decides that output is redirected (tests run with
    // standard output on a pipe or file) and that no keys can arrive.
    static bool started = [] {
        crt32_pipe::ConsoleStartup();
        return true;
    }();
    (void)started;
    runtime::StdOut().Assign(1, 1 << 16);
    runtime::StdOut().SetWriter(AppendToCapture);
    Captured().clear();
}

void PrepareReport(std::int32_t width) {
    CaptureStdOut();
    ResetSharedState();
    report::ResetReport();
    SetStartValues();
    SetRedirectedProfile(DefaultForm());
    OutputWidth = width;
}

} // namespace kelpo32::testing
