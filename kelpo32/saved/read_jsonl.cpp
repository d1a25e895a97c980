// JSON Lines of kelpo32 read back: one object per directory, children before
// their parent, the start directory last. A directory's line names its whole
// path; the record keeps its name alone, and a line waiting for its parent
// keeps the length and a hash of the path in front of its name, so that the
// parent can check that its children lie below it.
#include "kelpo32/saved/sax.h"

#include "runtime/dirsearch.h"

namespace kelpo32::saved {

namespace {

std::uint64_t Hash(std::string_view text) {
    std::uint64_t h = 14695981039346656037ULL;
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

enum class Field : std::uint8_t {
    Other,
    Path,
    Depth,
    Files,
    Bytes,
    Dirs,
    TotalFiles,
    TotalBytes,
    TotalDirs,
    Error,
    Partial
};

struct Waiting {
    tree::DirIndex Dir;
    std::int32_t Depth;
    std::size_t PrefixLength; // of the path up to and with the last separator
    std::uint64_t PrefixHash;
    std::int64_t Total;
};

class JsonLinesSax final : public SavedSax {
  public:
    JsonLinesSax(JsonInput& input, SavedScan& scan) : SavedSax(input), scan_(scan) {}

    bool Done() const { return scan_.Root != tree::NoDir; }

  private:
    bool StartObject() override {
        if (inObject_) return Fail("a nested object where a number or a string belongs");
        inObject_ = true;
        line_ = Fields{};
        return true;
    }
    bool StartArray() override {
        return Fail(inObject_ ? "an array where a number or a string belongs"
                              : "not a saved scan: a line that is not an object");
    }
    bool EndArray() override { return Fail("not JSON Lines"); }
    bool Key(std::string_view key) override {
        static constexpr std::pair<std::string_view, Field> Names[] = {
            {"path", Field::Path},
            {"depth", Field::Depth},
            {"files", Field::Files},
            {"bytes", Field::Bytes},
            {"dirs", Field::Dirs},
            {"total_files", Field::TotalFiles},
            {"total_bytes", Field::TotalBytes},
            {"total_dirs", Field::TotalDirs},
            {"error", Field::Error},
            {"partial", Field::Partial},
        };
        field_ = FieldOf(key, Names, Field::Other);
        if (field_ == Field::Other) SkipValue();
        return true;
    }
    bool Scalar(const Value& v) override {
        if (!inObject_) return Fail("not a saved scan: a line that is not an object");
        switch (field_) {
        case Field::Path:
        case Field::Error:
            if (v.Type != Value::String) return Fail("not a string where a string belongs");
            (field_ == Field::Path ? line_.Path : line_.Error) = std::move(*v.Text);
            if (field_ == Field::Path) line_.HasPath = true;
            if (field_ == Field::Error) line_.HasError = true;
            return true;
        case Field::Depth:
            line_.HasDepth = true;
            return Count(v, line_.Depth);
        case Field::Files:
            return Count(v, line_.Files);
        case Field::Bytes:
            return Count(v, line_.Bytes);
        case Field::Dirs:
            return Count(v, line_.Dirs);
        case Field::TotalBytes:
            line_.HasTotal = true;
            return Count(v, line_.Total);
        case Field::TotalFiles:
        case Field::TotalDirs: {
            std::int64_t ignored = 0;
            return Count(v, ignored);
        }
        case Field::Partial:
            if (v.Type != Value::Bool) return Fail("not true or false where one belongs");
            line_.Partial = v.Flag;
            return true;
        case Field::Other:
            break;
        }
        return true;
    }
    bool EndObject() override {
        inObject_ = false;
        if (!line_.HasPath || !line_.HasDepth || !line_.HasTotal)
            return Fail("not a saved scan: a line without \"path\", \"depth\" or \"total_bytes\"");
        if (Done()) return Fail("a line after the start directory's, which is the last");
        return Place();
    }

    // The line's directory takes its waiting children and waits for its parent.
    bool Place() {
        const char sep = runtime::PathSeparator();
        if (line_.Total < line_.Bytes)
            return Fail("the total bytes are less than the directory's own");
        std::size_t from = waiting_.size();
        while (from > 0 && waiting_[from - 1].Depth == line_.Depth + 1)
            --from;
        if (from > 0 && waiting_[from - 1].Depth > line_.Depth + 1)
            return Fail("a directory at depth " + std::to_string(waiting_[from - 1].Depth) +
                        " has no parent at the depth above it");
        std::string prefix = line_.Path;
        if (prefix.empty() || prefix.back() != sep) prefix += sep;
        std::uint64_t hash = Hash(prefix);
        std::int64_t sum = line_.Bytes;
        for (std::size_t i = from; i < waiting_.size(); ++i) {
            if (waiting_[i].PrefixLength != prefix.size() || waiting_[i].PrefixHash != hash)
                return Fail("a subdirectory's path does not begin with this directory's");
            if (waiting_[i].Total > std::numeric_limits<std::int64_t>::max() - sum)
                return Fail("number out of range");
            sum += waiting_[i].Total;
        }
        auto children = static_cast<std::int64_t>(waiting_.size() - from);
        if (children != 0 && children != line_.Dirs)
            return Fail("the line counts " + std::to_string(line_.Dirs) +
                        " subdirectories, the lines before it hold " + std::to_string(children));
        if (children != 0 && sum != line_.Total)
            return Fail("the total bytes are not the sum of the directory's and its "
                        "subdirectories'");
        // A subdirectory's name is what follows the last separator.
        std::size_t cut = line_.Path.rfind(sep);
        bool named = line_.Depth != 0 && cut != std::string::npos && cut + 1 != line_.Path.size();
        tree::DirIndex index = scan_.Tree.Add(named ? std::string_view(line_.Path).substr(cut + 1)
                                                    : std::string_view());
        if (index == tree::NoDir) return Fail("too many directories");
        tree::DirIndex last = tree::NoDir;
        for (std::size_t i = from; i < waiting_.size(); ++i)
            last = scan_.Tree.Append(index, last, waiting_[i].Dir);
        waiting_.resize(from);
        if (std::string twice = SharedName(scan_, index, names_); !twice.empty())
            return Fail(twice);
        tree::DirRecord& dir = scan_.Tree.At(index);
        dir.OwnFiles = line_.Files;
        dir.OwnBytes = line_.Bytes;
        dir.Subdirs = line_.Dirs;
        // A line cut off by a depth limit keeps its subtree's total.
        dir.TotalBytes = line_.Total;
        if (line_.HasError)
            scan_.Tree.SetTrouble(index, ProblemOf(line_.Error), line_.Error, line_.Partial);
        if (line_.Depth == 0) {
            if (line_.Path.find('\0') != std::string::npos)
                return Fail("a start directory with a NUL byte in it");
            scan_.Start = std::move(line_.Path);
            scan_.Root = index;
            if (!waiting_.empty()) return Fail("directories without a parent before the last line");
            return true;
        }
        if (!named) return Fail("the path of a subdirectory does not end in a name");
        if (const char* problem = NameProblem(scan_.Tree.Name(index))) return Fail(problem);
        waiting_.push_back({index, line_.Depth, cut + 1,
                            Hash(std::string_view(line_.Path).substr(0, cut + 1)), line_.Total});
        return true;
    }

    struct Fields {
        std::string Path;
        std::string Error;
        std::int32_t Depth = 0;
        std::int32_t Files = 0;
        std::int64_t Bytes = 0;
        std::int32_t Dirs = 0;
        std::int64_t Total = 0;
        bool HasPath = false;
        bool HasDepth = false;
        bool HasTotal = false;
        bool HasError = false;
        bool Partial = false;
    };

    SavedScan& scan_;
    std::vector<Waiting> waiting_;
    std::vector<std::string_view> names_; // room for SharedName
    Fields line_;
    Field field_ = Field::Other;
    bool inObject_ = false;
};

} // namespace

bool ReadJsonLines(JsonInput& input, SavedScan& scan, std::string& what, std::uint64_t& line,
                   std::uint64_t& offset) {
    JsonLinesSax sax(input, scan);
    if (input.SkipSpace()) ReadJsonValues(input, sax, true);
    if (sax.What().empty() && !input.Failure().empty()) sax.Fail(input.Failure());
    if (sax.What().empty() && !sax.Done())
        sax.Fail("truncated: the start directory's line, which is the last, is missing");
    what = sax.What();
    line = sax.Line();
    offset = sax.Offset();
    return what.empty();
}

} // namespace kelpo32::saved
