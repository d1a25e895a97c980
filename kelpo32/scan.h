// The directory walk: depth first, one call per directory.
#pragma once

#include <cstdint>
#include <string>

namespace kelpo32 {

// One pending subdirectory of the directory being scanned.
struct Dir_Rec {
    std::string Name;
    std::string Native; // the name in the platform's own form (SearchRec::Native)
    std::int32_t Id = 0;
    Dir_Rec* Next = nullptr;
    Dir_Rec* Prev = nullptr;
};

// Creates a record; tests replace it to make an allocation fail (nullptr).
extern Dir_Rec* (*NewDirRec)();

std::string AddBackslash(const std::string& s);

// `native` is the directory's name in the platform's own form; the directory
// is entered by it (empty for the start directory and on POSIX).
void ScanDir(const std::string& path, const std::string& name, std::int32_t id,
             std::int32_t siblingCount, std::int64_t& total,
             const std::string& native = std::string());

} // namespace kelpo32
