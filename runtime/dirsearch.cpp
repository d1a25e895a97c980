// The directory search's parts common to both platforms.
#include "runtime/dirsearch.h"

namespace runtime {

DirResult ListDirectory(const DirHandle& dir, std::vector<DirEntry>& entries) {
    DirReader reader;
    reader.StatDirectories = true;
    reader.Rewind = true;
    DirResult result = StartReading(dir, reader);
    if (result.Fault != DirFault::None) return result;
    DirEntry entry;
    while (ReadEntry(dir, reader, entry, result))
        entries.push_back(entry);
    StopReading(reader);
    return result;
}

} // namespace runtime
