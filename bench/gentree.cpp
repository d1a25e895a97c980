// Seeded generator of benchmark trees: directories and sparse files in a
// shape like a real disk (about 9 % directories, depth 3-12, skewed
// fan-out, names of varied length, file sizes from empty to gigabytes).
// Files are sized with ftruncate, so the tree costs inodes, not space.
//
// Usage: gentree [--seed S] [--entries N] [--dir-share P] DIR
// DIR must not exist. On success prints one line:
//   entries=N dirs=D files=F bytes=B maxdepth=M
// (dirs excludes DIR itself), which the bench keeps to check the walkers.
//
// The same seed and entry count give the same tree on any machine: the
// generator uses its own random number and distribution code.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

// xoshiro256** seeded through splitmix64.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) {
        for (auto& w : s_) {
            seed += 0x9e3779b97f4a7c15ULL;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            w = z ^ (z >> 31);
        }
    }
    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    // Uniform in [0, n).
    std::uint64_t below(std::uint64_t n) {
        return static_cast<std::uint64_t>(unit() * static_cast<double>(n));
    }
    double normal() {
        double u = unit();
        while (u <= 0.0)
            u = unit();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * unit());
    }
    // Log-uniform in [lo, hi).
    std::uint64_t logUniform(double lo, double hi) {
        return static_cast<std::uint64_t>(
            std::exp(std::log(lo) + unit() * (std::log(hi) - std::log(lo))));
    }

  private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t s_[4];
};

constexpr int MaxDepth = 12;

// Share of new directories placed at each depth 1..12: few at the top,
// most between 4 and 9, a thin tail down to 12.
constexpr double DepthWeight[MaxDepth + 1] = {0,    0.0002, 0.003, 0.03, 0.08, 0.13, 0.16,
                                              0.16, 0.14,   0.11,  0.08, 0.06, 0.04};

struct Dir {
    int parent;
    int depth;
    std::string path; // relative to the tree root, ends in '/' (root: "")
    std::uint32_t files = 0;
};

// Picks an index from cumulative weights.
std::size_t pickCumulative(const std::vector<double>& cum, double u) {
    const double x = u * cum.back();
    return static_cast<std::size_t>(std::upper_bound(cum.begin(), cum.end(), x) - cum.begin());
}

const char NameChars[] = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz"
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
const char* const Extensions[] = {
    "",    "",   "",    ".c",  ".h",    ".cpp", ".txt", ".md",  ".json", ".xml", ".png", ".jpg",
    ".so", ".o", ".py", ".js", ".html", ".log", ".dat", ".bin", ".gz",   ".pdf", ".mp3", ".config"};

// Name length: mostly 4-16 characters, some 1-3, a tail up to 60.
std::size_t nameLength(Rng& rng) {
    const double u = rng.unit();
    if (u < 0.08) return 1 + rng.below(3);
    if (u < 0.85) return 4 + rng.below(13);
    return 17 + rng.below(44);
}

std::string makeName(Rng& rng, bool isFile, std::size_t extraLen) {
    std::string name;
    const std::size_t len = nameLength(rng) + extraLen;
    for (std::size_t i = 0; i < len; i++)
        name += NameChars[rng.below(sizeof NameChars - 1)];
    if (isFile) name += Extensions[rng.below(std::size(Extensions))];
    if (name == "." || name == "..") name += "x";
    return name;
}

// A name not yet used in this directory; grows the name after collisions.
std::string uniqueName(Rng& rng, bool isFile, std::unordered_set<std::string>& used) {
    for (std::size_t extra = 0;; extra++) {
        std::string name = makeName(rng, isFile, extra);
        if (used.insert(name).second) return name;
    }
}

// File size: some empty, most small, a tail of large sparse files.
std::uint64_t fileSize(Rng& rng) {
    const double u = rng.unit();
    if (u < 0.08) return 0;
    if (u < 0.63) return rng.logUniform(1, 16384);
    if (u < 0.935) return rng.logUniform(16384, 4.0 * 1048576);
    if (u < 0.995) return rng.logUniform(4.0 * 1048576, 256.0 * 1048576);
    return rng.logUniform(256.0 * 1048576, 8.0 * 1073741824);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "gentree: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void usage() {
    std::fprintf(stderr, "usage: gentree [--seed S] [--entries N] [--dir-share P] DIR\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1;
    std::uint64_t entries = 100000;
    double dirShare = 0.09;
    const char* root = nullptr;
    for (int i = 1; i < argc; i++) {
        std::string_view a = argv[i];
        if (a == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--entries" && i + 1 < argc)
            entries = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--dir-share" && i + 1 < argc)
            dirShare = std::strtod(argv[++i], nullptr);
        else if (!a.empty() && a[0] != '-' && !root)
            root = argv[i];
        else
            usage();
    }
    if (!root || entries < 2 || entries > 100000000 || !(dirShare > 0 && dirShare < 1)) usage();

    Rng rng(seed);
    const auto nDirs = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(std::llround(static_cast<double>(entries) * dirShare)));
    const std::uint64_t nFiles = entries - nDirs;

    // Directory skeleton. Each new directory draws a depth, then a parent one
    // level up, skewed towards the parent's earlier siblings so that a few
    // directories get many subdirectories and most get few.
    std::vector<Dir> dirs;
    dirs.reserve(nDirs + 1);
    dirs.push_back({-1, 0, ""});
    std::vector<std::vector<int>> byDepth(MaxDepth + 1);
    byDepth[0].push_back(0);
    std::vector<double> depthCum;
    for (int d = 1; d <= MaxDepth; d++)
        depthCum.push_back((depthCum.empty() ? 0 : depthCum.back()) + DepthWeight[d]);
    for (std::uint64_t i = 0; i < nDirs; i++) {
        int depth = static_cast<int>(pickCumulative(depthCum, rng.unit())) + 1;
        while (byDepth[depth - 1].empty())
            depth--;
        const auto& level = byDepth[depth - 1];
        const double u = rng.unit();
        const int parent =
            level[static_cast<std::size_t>(u * u * static_cast<double>(level.size()))];
        dirs.push_back({parent, depth, {}});
        byDepth[depth].push_back(static_cast<int>(dirs.size() - 1));
    }

    // Names, parents first (a parent's index is always below its children's).
    {
        std::vector<std::unordered_set<std::string>> used(dirs.size());
        for (std::size_t i = 1; i < dirs.size(); i++) {
            const auto p = static_cast<std::size_t>(dirs[i].parent);
            dirs[i].path = dirs[p].path + uniqueName(rng, false, used[p]) + "/";
        }
        // File names must not collide with subdirectory names: keep the sets.
        // Files per directory: log-normal weights, a tenth of the
        // directories hold no files at all.
        std::vector<double> cum;
        cum.reserve(dirs.size());
        double acc = 0;
        for (std::size_t i = 0; i < dirs.size(); i++) {
            const double w = rng.unit() < 0.10 ? 0.0 : std::exp(1.5 * rng.normal());
            acc += w;
            cum.push_back(acc);
        }
        for (std::uint64_t f = 0; f < nFiles; f++)
            dirs[pickCumulative(cum, rng.unit())].files++;

        if (mkdir(root, 0755) != 0) fail(root);
        std::string base = root;
        if (base.back() != '/') base += '/';
        for (std::size_t i = 1; i < dirs.size(); i++)
            if (mkdir((base + dirs[i].path).c_str(), 0755) != 0) fail(base + dirs[i].path);

        std::uint64_t bytes = 0;
        int maxDepth = 0;
        for (std::size_t i = 0; i < dirs.size(); i++) {
            maxDepth = std::max(maxDepth, dirs[i].depth);
            if (dirs[i].files == 0) continue;
            const std::string dpath = base + dirs[i].path;
            const int dfd = open(dpath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dfd < 0) fail(dpath);
            for (std::uint32_t k = 0; k < dirs[i].files; k++) {
                const std::string name = uniqueName(rng, true, used[i]);
                const std::uint64_t size = fileSize(rng);
                const int fd =
                    openat(dfd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                if (fd < 0) fail(dpath + name);
                if (size && ftruncate(fd, static_cast<off_t>(size)) != 0) fail(dpath + name);
                close(fd);
                bytes += size;
            }
            close(dfd);
            used[i].clear();
        }
        std::printf("entries=%llu dirs=%llu files=%llu bytes=%llu maxdepth=%d\n",
                    static_cast<unsigned long long>(entries),
                    static_cast<unsigned long long>(nDirs), static_cast<unsigned long long>(nFiles),
                    static_cast<unsigned long long>(bytes), maxDepth);
    }
    return 0;
}
