#include "runtime/curdir.h"

#include "runtime/posix_support.h"
#include "runtime/rtl.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace runtime {

int GetCurrentDir(std::string& dir, std::string& native) {
    native.clear(); // the text is the name
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        if (::getcwd(buf.data(), buf.size()) != nullptr) {
            dir = buf.data();
            return 0;
        }
        if (errno != ERANGE) return MapErrno(errno);
        buf.resize(buf.size() * 2);
    }
}

int ChangeDir(const std::string& dir, const std::string&) {
    if (dir.empty()) return IoFileNotFound;
    if (::chdir(dir.c_str()) == 0) return 0;
    return MapErrno(errno);
}

} // namespace runtime
