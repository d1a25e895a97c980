#include "kelpo32/state.h"

namespace kelpo32 {

bool TreeOnly = false;
bool NoWait = false;
bool LogEnabled = false;
std::int32_t MaxDepth = NoDepthLimit;
std::string StartDir;
std::int32_t ScreenWidth = 0;
std::int32_t OutputWidth = 0;
std::uint8_t DrawDepth = 0;
std::int32_t PageLines = 0;
std::int32_t AllocCount = 0;
std::int32_t AllocPeak = 0;
runtime::TextOut LogFile;

void ResetSharedState() {
    TreeOnly = NoWait = LogEnabled = false;
    MaxDepth = NoDepthLimit;
    StartDir.clear();
    ScreenWidth = OutputWidth = PageLines = 0;
    DrawDepth = 0;
    AllocCount = AllocPeak = 0;
}

void ModuleShutdown() {
    // An error that ended the run early must not lose what the log holds.
    if (LogFile.IsOpen()) LogFile.Close();
}

} // namespace kelpo32
