#include "runtime/fsspace.h"

#include "runtime/posix_support.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace runtime {

bool SpaceOf(const std::string& path, const std::string& /*native*/, FileSystemSpace& space) {
    struct statvfs st {};
    if (::statvfs(path.empty() ? "." : path.c_str(), &st) != 0) return false;
    const auto unit = static_cast<std::uint64_t>(st.f_frsize != 0 ? st.f_frsize : st.f_bsize);
    space.Size = static_cast<std::uint64_t>(st.f_blocks) * unit;
    space.Free = static_cast<std::uint64_t>(st.f_bavail) * unit;
    return true;
}

std::string AbsolutePath(const std::string& path, const std::string& /*native*/) {
    char* real = ::realpath(path.empty() ? "." : path.c_str(), nullptr);
    if (real == nullptr) return {};
    std::string text = real;
    std::free(real);
    return text;
}

int MakeDirectory(const std::string& path, std::string& reason) {
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    int e = errno;
    struct stat st {};
    if (e == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    if (e == EEXIST) e = ENOTDIR;
    reason = std::strerror(e);
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] += 'a' - 'A';
    return MapErrno(e);
}

} // namespace runtime
