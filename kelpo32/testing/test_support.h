// Unit-test helpers: standard output captured in memory and a redirected
// report state to call the report and scan functions on.
#pragma once

#include <cstdint>
#include <string>

namespace kelpo32::testing {

// Everything written to standard output since CaptureStdOut.
std::string& Captured();
void CaptureStdOut();

// Start values and the redirected display profile, fitted to `width`.
void PrepareReport(std::int32_t width);

} // namespace kelpo32::testing
