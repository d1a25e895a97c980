// The process's current directory.
#pragma once

#include <string>

namespace rtl {

// Each returns 0 on success or a neutral I/O error code.
int GetCurrentDir(std::string& dir);
int ChangeDir(const std::string& dir);

} // namespace rtl
