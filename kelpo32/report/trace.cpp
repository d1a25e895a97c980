#include "kelpo32/report/trace.h"

#include "kelpo32/state.h"

namespace kelpo32::report {

void WalkTrace::DirStart(const walk::WalkDir& dir) {
    LogFile.Write("Level: ");
    LogFile.WriteInt(dir.Level);
    LogFile.Write("  {");
    LogFile.Write(dir.Path);
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
    for (std::int32_t l = 0; l < dir.Level; ++l)
        LogFile.Write("  ");
    LogFile.Write(entry.Name);
    LogFile.WriteLn();
    LogFile.Flush();
}

} // namespace kelpo32::report
