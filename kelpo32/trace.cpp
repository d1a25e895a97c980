#include "kelpo32/trace.h"

#include "kelpo32/state.h"

namespace kelpo32 {

void WalkTrace::DirStart(const WalkDir& dir) {
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

void WalkTrace::Entry(const WalkDir& dir, const WalkEntry& entry) {
    if (entry.Kind == EntryKind::Directory) {
        LogFile.Write("DIR: ");
        LogFile.Write(entry.Name);
        LogFile.WriteLn();
        return;
    }
    if (entry.Kind == EntryKind::Skipped) LogFile.Write("LFNATTR: ");
    for (std::int32_t l = 0; l < dir.Level; ++l)
        LogFile.Write("  ");
    LogFile.Write(entry.Name);
    LogFile.WriteLn();
    LogFile.Flush();
}

} // namespace kelpo32
