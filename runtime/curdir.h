// The process's current directory.
#pragma once

#include <string>

namespace runtime {

// Each returns 0 on success or a neutral I/O error code. `native` is the
// directory in the platform's own form (opaque bytes, UTF-16 on Windows; empty
// on POSIX, where the text is the name); ChangeDir uses it when it is not empty.
int GetCurrentDir(std::string& dir, std::string& native);
int ChangeDir(const std::string& dir, const std::string& native = std::string());
// ChangeDir that also says why it failed, in a few lower-case words
// ("no such file or directory", "not a directory", "permission denied").
int EnterDir(const std::string& dir, const std::string& native, std::string& reason);

} // namespace runtime
