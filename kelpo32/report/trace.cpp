#include "kelpo32/report/trace.h"

#include "kelpo32/report/report.h"
#include "kelpo32/state.h"

#include <algorithm>

namespace kelpo32::report {

void WalkTrace::DirStart(const walk::WalkDir& dir) {
    LogFile.Write("Level: ");
    LogFile.WriteInt(dir.Level);
    LogFile.Write("  {");
    std::string room;
    LogFile.Write(ShownPath(dir.Path, room));
    LogFile.Write("} {");
    LogFile.Write(dir.Name);
    LogFile.Write("}");
    LogFile.WriteLn();
    LogFile.Flush();
}

void WalkTrace::Entry(const walk::WalkDir& dir, const walk::WalkEntry& entry) {
    if (entry.Kind == walk::EntryKind::Directory) {
        LogFile.Write("DIR: ");
        LogFile.Write(entry.Name);
        LogFile.WriteLn();
        return;
    }
    if (entry.Kind == walk::EntryKind::Skipped) LogFile.Write("LFNATTR: ");
    // The indent stops at a bound, as the paths do.
    for (std::int32_t l = 0; l < std::min<std::int32_t>(dir.Level, ShownPathLimit / 2); ++l)
        LogFile.Write("  ");
    LogFile.Write(entry.Name);
    LogFile.WriteLn();
    LogFile.Flush();
}

} // namespace kelpo32::report
