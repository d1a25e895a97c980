#include "kelpo32/history/growth.h"

#include "runtime/rtl.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

namespace kelpo32::history {

namespace {

constexpr std::int64_t Absent = -1;

// A directory of any scan, matched by its path (its parent and name).
struct Node {
    std::int32_t Parent = -1;
    std::string_view Name; // in a scan's names, which outlive the computation
    std::int32_t First = -1;
    std::int32_t Last = -1;
    std::int32_t Next = -1;
    tree::DirIndex Now = tree::NoDir; // its record in the newest scan
};

struct NodeKey {
    std::int32_t Parent;
    std::string_view Name;
    bool operator==(const NodeKey&) const = default;
};
struct NodeHash {
    std::size_t operator()(const NodeKey& k) const {
        return std::hash<std::string_view>()(k.Name) * 31 + static_cast<std::size_t>(k.Parent);
    }
};

// The scans' directories matched into nodes: per node and used scan its
// bytes (Absent) and whether that scan listed all of its subdirectories.
class Matched {
  public:
    explicit Matched(std::size_t scans) : scans_(scans) { AddNode(-1, {}); }

    void Take(std::size_t k, const saved::SavedScan& scan, bool now) {
        const tree::DirTree& t = scan.Tree;
        if (scan.Root == tree::NoDir) return;
        std::vector<std::pair<tree::DirIndex, std::int32_t>> todo{{scan.Root, 0}};
        while (!todo.empty()) {
            auto [d, n] = todo.back();
            todo.pop_back();
            const tree::DirRecord& r = t.At(d);
            bytes_[Cell(n, k)] = r.TotalBytes;
            std::int32_t listed = 0;
            for (tree::DirIndex c = r.First; c != tree::NoDir; c = t.At(c).Next) {
                if (t.IsMore(c)) continue;
                ++listed;
                todo.emplace_back(c, Child(n, t.Name(c)));
            }
            complete_[Cell(n, k)] = listed >= r.Subdirs;
            if (now) nodes_[static_cast<std::size_t>(n)].Now = d;
        }
    }

    // The node's bytes in scan k: Absent where the scan cannot tell (not in
    // it, below a parent that did not list all its subdirectories).
    std::int64_t Bytes(std::int32_t n, std::size_t k) const {
        std::int64_t b = bytes_[Cell(n, k)];
        if (b != Absent || n == 0) return b;
        std::int32_t p = nodes_[static_cast<std::size_t>(n)].Parent;
        return bytes_[Cell(p, k)] != Absent && complete_[Cell(p, k)] != 0 ? 0 : Absent;
    }
    bool In(std::int32_t n, std::size_t k) const { return bytes_[Cell(n, k)] != Absent; }
    const Node& At(std::int32_t n) const { return nodes_[static_cast<std::size_t>(n)]; }

  private:
    std::size_t Cell(std::int32_t n, std::size_t k) const {
        return static_cast<std::size_t>(n) * scans_ + k;
    }
    std::int32_t AddNode(std::int32_t parent, std::string_view name) {
        auto n = static_cast<std::int32_t>(nodes_.size());
        nodes_.push_back({parent, name});
        bytes_.resize(bytes_.size() + scans_, Absent);
        complete_.resize(complete_.size() + scans_, 0);
        if (parent >= 0) {
            Node& p = nodes_[static_cast<std::size_t>(parent)];
            if (p.Last < 0)
                p.First = n;
            else
                nodes_[static_cast<std::size_t>(p.Last)].Next = n;
            p.Last = n;
        }
        return n;
    }
    std::int32_t Child(std::int32_t parent, std::string_view name) {
        auto [it, added] = index_.try_emplace(NodeKey{parent, name}, 0);
        if (added) it->second = AddNode(parent, name);
        return it->second;
    }

    std::size_t scans_;
    std::vector<Node> nodes_;
    std::vector<std::int64_t> bytes_;
    std::vector<char> complete_;
    std::unordered_map<NodeKey, std::int32_t, NodeHash> index_;
};

} // namespace

std::size_t WindowStart(std::span<const std::int64_t> times, std::int64_t window) {
    if (times.empty()) return 0;
    const std::int64_t now = times.back();
    std::size_t first = times.size() - 1;
    while (first > 0 && now - times[first - 1] <= window)
        --first;
    if (times.size() - first < 2 && first > 0) --first;
    return first;
}

std::int64_t ChangeScan(std::span<const std::int64_t> times, std::int64_t span) {
    std::int64_t best = -1;
    std::int64_t bestOff = 0;
    if (times.empty()) return best;
    const std::int64_t now = times.back();
    for (std::size_t j = 0; j + 1 < times.size(); ++j) {
        std::int64_t age = now - times[j];
        if (age * 2 < span || age > 2 * span) continue;
        std::int64_t off = age > span ? age - span : span - age;
        if (best < 0 || off < bestOff) {
            best = static_cast<std::int64_t>(j);
            bestOff = off;
        }
    }
    return best;
}

bool LeastSquares(std::span<const double> x, std::span<const double> y, double& slope) {
    if (x.size() < 2) return false;
    double mx = 0;
    double my = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= static_cast<double>(x.size());
    my /= static_cast<double>(y.size());
    double sxy = 0;
    double sxx = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    if (sxx <= 0) return false;
    slope = sxy / sxx;
    return true;
}

void ComputeGrowth(std::span<const KeptScan> scans, std::int64_t window, Growth& out) {
    out = Growth{};
    if (scans.empty()) return;
    std::vector<std::int64_t> times;
    for (const KeptScan& s : scans)
        times.push_back(s.Time);
    const std::int64_t now = times.back();
    const std::size_t first = WindowStart(times, window);
    // The scans used: the window's and those of the changes, the newest
    // first so that the tree keeps its order.
    std::vector<std::size_t> used;
    for (std::size_t i = scans.size(); i-- > first;)
        used.push_back(i);
    std::array<std::int64_t, 3> changeAt{};
    for (std::size_t s = 0; s < 3; ++s) {
        changeAt[s] = ChangeScan(times, ChangeSpans[s]);
        if (changeAt[s] >= 0 && static_cast<std::size_t>(changeAt[s]) < first)
            used.push_back(static_cast<std::size_t>(changeAt[s]));
    }
    std::sort(used.begin() + static_cast<std::ptrdiff_t>(scans.size() - first), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    std::vector<std::size_t> slot(scans.size(), 0); // a scan's place among the used
    Matched m(used.size());
    for (std::size_t k = 0; k < used.size(); ++k) {
        slot[used[k]] = k;
        m.Take(k, *scans[used[k]].Scan, k == 0);
    }
    const saved::SavedScan& newest = *scans.back().Scan;

    // The window's times in days before now, for the fits.
    for (std::size_t i = first; i < scans.size(); ++i)
        out.Times.push_back(times[i]);
    const std::size_t inWindow = out.Times.size();
    std::vector<double> x;
    std::vector<double> y;

    tree::DirTree& t = out.Tree;
    t.Compared();
    tree::Column<tree::GrowthCells>& cells = t.Growth();
    // Each node is copied below its parent's record, parents first.
    std::vector<std::pair<std::int32_t, tree::DirIndex>> todo{{0, tree::NoDir}};
    std::vector<tree::DirIndex> lastChild;
    while (!todo.empty()) {
        auto [n, parent] = todo.back();
        todo.pop_back();
        const Node& node = m.At(n);
        const std::int64_t nowBytes = m.Bytes(n, 0);
        if (nowBytes == Absent) continue; // not known now: its numbers are its parent's
        bool seen = false;                // in a scan of the window
        for (std::size_t i = first; i < scans.size(); ++i)
            seen = seen || m.In(n, slot[i]);
        if (!m.In(n, 0) && !seen) continue;
        tree::DirIndex d =
            node.Now != tree::NoDir ? t.AddCopy(newest.Tree, node.Now) : t.Add(node.Name);
        if (d == tree::NoDir) runtime::RaiseRangeError();
        if (parent == tree::NoDir) {
            out.Root = d;
        } else {
            auto& last = lastChild[static_cast<std::size_t>(parent)];
            last = t.Append(parent, last, d);
        }
        lastChild.resize(static_cast<std::size_t>(t.Size()), tree::NoDir);
        // Its sizes in the window's scans, their fit and its changes.
        auto series =
            static_cast<std::int32_t>(out.Samples.size() / std::max<std::size_t>(inWindow, 1));
        x.clear();
        y.clear();
        for (std::size_t i = first; i < scans.size(); ++i) {
            std::int64_t b = m.Bytes(n, slot[i]);
            out.Samples.push_back(b);
            if (b == Absent) continue;
            x.push_back(static_cast<double>(times[i] - now) / DaySeconds);
            y.push_back(static_cast<double>(b));
        }
        tree::GrowthCells& g = cells[d];
        g.Series = series;
        g.RateKnown = LeastSquares(x, y, g.Rate);
        for (std::size_t s = 0; s < 3; ++s) {
            if (changeAt[s] < 0) continue;
            std::int64_t then = m.Bytes(n, slot[static_cast<std::size_t>(changeAt[s])]);
            if (then != Absent) g.Changes[s] = nowBytes - then;
        }
        const std::int64_t start = m.Bytes(n, slot[first]);
        tree::CompareCells& c = t.Compared()[d];
        c.OldBytes = start == Absent ? nowBytes : start;
        c.State = !m.In(n, 0)                           ? tree::Mark::Gone
                  : start == 0 && !m.In(n, slot[first]) ? tree::Mark::New
                                                        : tree::Mark::Both;
        // Children in reverse, so that they come off the stack in order.
        std::vector<std::int32_t> kids;
        for (std::int32_t k = node.First; k >= 0; k = m.At(k).Next)
            kids.push_back(k);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            todo.emplace_back(*it, d);
    }

    // The file system: its free space fitted over the window.
    output::GrowthHead& h = out.Head;
    h.Now = now;
    h.Window = window;
    h.Span = now - times[first];
    h.Scans = static_cast<std::int32_t>(inWindow);
    h.FsSize = newest.Header.FsSize;
    h.FsFree = newest.Header.FsFree;
    x.clear();
    y.clear();
    for (std::size_t i = first; i < scans.size(); ++i) {
        const saved::ScanHeader& head = scans[i].Scan->Header;
        if (head.FsFree < 0) continue;
        x.push_back(static_cast<double>(times[i] - now) / DaySeconds);
        y.push_back(static_cast<double>(head.FsFree));
    }
    h.RateKnown = h.FsFree >= 0 && LeastSquares(x, y, h.FreeRate);
    if (h.RateKnown && h.FreeRate < 0) {
        double days = static_cast<double>(h.FsFree) / -h.FreeRate;
        h.FullAt =
            days < 1e6 ? now + static_cast<std::int64_t>(std::llround(days * DaySeconds)) : -1;
    }
    h.Times = out.Times;
    h.Samples = out.Samples;
}

} // namespace kelpo32::history
