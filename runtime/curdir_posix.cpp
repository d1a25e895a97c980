#include "runtime/curdir.h"

#include "runtime/posix_support.h"
#include "runtime/rtl.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace runtime {

namespace {
// The system's text for an errno value, as the middle of a sentence
// ("no such file or directory").
std::string SystemReason(int e) {
    std::string text = std::strerror(e);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] + 32);
    return text;
}

// chdir, for a path beyond the system's limit too.
int Enter(const std::string& dir) {
    if (dir.size() < PATH_MAX) {
        if (::chdir(dir.c_str()) == 0) return 0;
        if (errno != ENAMETOOLONG) return -1;
    }
    int fd = OpenLongPath(dir, SearchFlags);
    if (fd == -1) return -1;
    int result = ::fchdir(fd);
    int e = errno;
    ::close(fd);
    errno = e;
    return result;
}
} // namespace

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
    if (Enter(dir) == 0) return 0;
    return MapErrno(errno);
}

int EnterDir(const std::string& dir, const std::string&, std::string& reason) {
    reason.clear();
    if (dir.empty()) {
        reason = "no such file or directory";
        return IoFileNotFound;
    }
    if (Enter(dir) == 0) return 0;
    int e = errno;
    reason = SystemReason(e);
    return MapErrno(e);
}

} // namespace runtime
