// The ncdu export (major version 1, minors 0 to 2) read back: [1, minor,
// {metadata}, [root info, entries...]], every directory an array of its info
// object and its entries, every file an object. Only the open directories
// are kept while reading (one frame each); files add into their directory's
// record, and files of several links wait, one small record each, until the
// walk's order decides where each counts.
#include "kelpo32/saved/sax.h"

#include <algorithm>
#include <deque>
#include <unordered_set>

namespace kelpo32::saved {

namespace {

enum class Field : std::uint8_t {
    Other,
    Name,
    Asize,
    Dsize,
    Dev,
    Ino,
    Nlink,
    Hlnkc,
    ReadError,
    Excluded
};

// An info object or a file: the fields that count.
struct Item {
    std::string Name;
    std::string Excluded;
    std::uint64_t Asize = 0;
    std::uint64_t Dsize = 0;
    std::uint64_t Dev = 0;
    std::uint64_t Ino = 0;
    std::uint64_t Nlink = 1;
    bool HasName = false;
    bool HasDev = false;
    bool Hlnkc = false;
    bool ReadError = false;
};

// A file of several links, counted where the walk meets it first.
struct Link {
    tree::DirIndex Dir;
    std::uint64_t Dev;
    std::uint64_t Ino;
    std::int64_t Bytes;
    std::int64_t Other; // by the other size kind
    std::uint64_t Line; // where it ends in the input, for a message
    std::uint64_t Offset;
};

constexpr std::string_view TooLarge = "the sizes add up to more than 8 EiB";

struct LinkKey {
    std::uint64_t Dev;
    std::uint64_t Ino;
    bool operator==(const LinkKey&) const = default;
};
struct LinkHash {
    std::size_t operator()(const LinkKey& k) const {
        return std::hash<std::uint64_t>()(k.Ino * 0x9E3779B97F4A7C15ULL ^ k.Dev);
    }
};

class NcduSax final : public SavedSax {
  public:
    NcduSax(JsonInput& input, bool diskUsage, bool countLinks, SavedScan& scan)
        : SavedSax(input), scan_(scan), diskUsage_(diskUsage), countLinks_(countLinks) {}

    bool Done() const { return done_; }

    // Adds each file of several links where the walk's order meets it first.
    bool CountLinks() {
        std::stable_sort(links_.begin(), links_.end(),
                         [](const Link& a, const Link& b) { return a.Dir < b.Dir; });
        std::unordered_set<LinkKey, LinkHash> seen;
        for (const Link& l : links_)
            if (seen.insert({l.Dev, l.Ino}).second && !AddBytes(l.Dir, l.Bytes, l.Other))
                return FailAt(std::string(TooLarge), l.Line, l.Offset);
        return true;
    }

  private:
    // The open arrays: the export's own (the first, its elements counted in
    // elements_), then each directory's, its record once its info object is
    // read (NoDir before). 4 bytes each, in a deque that never copies: a
    // chain a million deep holds a million of them. While a directory's
    // array is open, its record's Next (its sibling link, set only once it
    // is closed) holds its last subdirectory so far.
    // A directory that gave a device other than its parent's, and the
    // device: the entries below it are on it unless they say otherwise.
    struct Device {
        std::size_t Level; // its place in open_
        std::uint64_t Dev;
    };
    bool AtTop() const { return open_.size() == 1; }
    std::uint64_t Dev() const { return devs_.empty() ? 0 : devs_.back().Dev; }
    enum class Expect : std::uint8_t { Start, Metadata, Info, Entry };

    // Every directory's bytes are part of the start's total, so no total
    // passes the largest number while the start's does not: checked here, a
    // file that takes it past is named where it stands.
    // With the browser's column, the other kind adds up beside them; past
    // the largest number it is only unknown.
    bool AddBytes(tree::DirIndex dir, std::int64_t bytes, std::int64_t other) {
        if (bytes > std::numeric_limits<std::int64_t>::max() - counted_) return false;
        counted_ += bytes;
        scan_.Tree.At(dir).OwnBytes += bytes;
        if (auto* browse = scan_.Tree.BrowseIfAny()) {
            if (other > std::numeric_limits<std::int64_t>::max() - otherCounted_)
                scan_.Tree.SetOtherKindUnknown();
            else
                otherCounted_ += other;
            (*browse)[dir].OtherOwnBytes += scan_.Tree.OtherKindKnown() ? other : 0;
        }
        return true;
    }

    bool StartArray() override {
        if (inItem_) return Fail("an array where a value of an entry belongs");
        if (open_.empty()) {
            if (done_) return Fail("more after the end of the export");
            open_.push_back(tree::NoDir);
            return true;
        }
        if (AtTop()) {
            if (elements_ != 3)
                return Fail(elements_ < 3 ? "not an ncdu export: no version and metadata"
                                          : "more than one tree in the export");
            ++elements_;
        } else if (open_.back() == tree::NoDir) {
            return Fail("an array where a directory's info object belongs");
        }
        // A directory: its info object comes next.
        open_.push_back(tree::NoDir);
        return true;
    }

    bool EndArray() override {
        tree::DirIndex top = open_.back();
        if (AtTop()) {
            if (elements_ < 4) return Fail("no tree in the export");
            open_.pop_back();
            done_ = true;
            return true;
        }
        if (top == tree::NoDir) return Fail("a directory without its info object");
        scan_.Tree.At(top).Next = tree::NoDir;
        std::string twice = SharedName(scan_, top, names_);
        if (!twice.empty()) return Fail(twice);
        if (!devs_.empty() && devs_.back().Level == open_.size()) devs_.pop_back();
        open_.pop_back();
        return true;
    }

    bool StartObject() override {
        if (inItem_) return Fail("an object where a value of an entry belongs");
        if (open_.empty()) return Fail("not an ncdu export: an object where its array belongs");
        if (AtTop()) {
            if (elements_ != 2)
                return Fail(elements_ < 2 ? "not an ncdu export: no version"
                                          : "more than one tree in the export");
            ++elements_;
            // The metadata: who wrote the export, when; nothing the report needs.
            SkipRest();
            return true;
        }
        inItem_ = true;
        item_ = Item{};
        return true;
    }

    bool Key(std::string_view key) override {
        static constexpr std::pair<std::string_view, Field> Names[] = {
            {"name", Field::Name},         {"asize", Field::Asize},
            {"dsize", Field::Dsize},       {"dev", Field::Dev},
            {"ino", Field::Ino},           {"nlink", Field::Nlink},
            {"hlnkc", Field::Hlnkc},       {"read_error", Field::ReadError},
            {"excluded", Field::Excluded},
        };
        field_ = FieldOf(key, Names, Field::Other);
        if (field_ == Field::Other) SkipValue();
        return true;
    }

    bool Scalar(const Value& v) override {
        if (!inItem_) return TopScalar(v);
        switch (field_) {
        case Field::Name:
            if (v.Type != Value::String) return Fail("a name that is not a string");
            item_.Name = std::move(*v.Text);
            item_.HasName = true;
            return true;
        case Field::Excluded:
            // Older exports write true, newer ones why.
            item_.Excluded = v.Type == Value::String ? *v.Text : std::string("pattern");
            if (v.Type == Value::Bool && !v.Flag) item_.Excluded.clear();
            return true;
        case Field::Hlnkc:
        case Field::ReadError:
            if (v.Type != Value::Bool) return Fail("not true or false where either belongs");
            (field_ == Field::Hlnkc ? item_.Hlnkc : item_.ReadError) = v.Flag;
            return true;
        case Field::Asize:
            return Count(v, std::numeric_limits<std::int64_t>::max(), item_.Asize);
        case Field::Dsize:
            return Count(v, std::numeric_limits<std::int64_t>::max(), item_.Dsize);
        case Field::Dev:
            item_.HasDev = true;
            return Count(v, std::numeric_limits<std::uint64_t>::max(), item_.Dev);
        case Field::Ino:
            return Count(v, std::numeric_limits<std::uint64_t>::max(), item_.Ino);
        case Field::Nlink:
            return Count(v, std::numeric_limits<std::uint32_t>::max(), item_.Nlink);
        case Field::Other:
            break;
        }
        return true;
    }

    bool TopScalar(const Value& v) {
        if (!AtTop())
            return Fail(open_.empty() ? "not an ncdu export: a value where its array belongs"
                                      : "a value where an entry belongs");
        std::uint64_t n = 0;
        if (elements_ >= 2) return Fail("more than one tree in the export");
        if (!Count(v, std::numeric_limits<std::uint32_t>::max(), n)) return false;
        if (elements_ == 0 && n != 1)
            return Fail("an ncdu export of major version " + std::to_string(n) +
                        ", of which only version 1 can be read");
        if (elements_ == 1 && n > 2)
            return Fail("an ncdu export of version 1." + std::to_string(n) +
                        ", of which only 1.0 to 1.2 can be read");
        ++elements_;
        return true;
    }

    bool EndObject() override {
        inItem_ = false;
        if (!item_.HasName) return Fail("an entry without a name");
        tree::DirIndex top = open_.back();
        // The start's name is a path; any other is one name of its directory.
        bool start = top == tree::NoDir && open_.size() == 2;
        if (start && item_.Name.find('\0') != std::string::npos)
            return Fail("a start directory with a NUL byte in it");
        if (const char* problem = start ? nullptr : NameProblem(item_.Name)) return Fail(problem);
        if (top == tree::NoDir) return OpenDir();
        return AddEntry(top);
    }

    // The info object of the directory whose array is open.
    bool OpenDir() {
        tree::DirIndex index = NewDir(open_.size() > 2 ? open_[open_.size() - 2] : tree::NoDir);
        if (index == tree::NoDir) return false;
        open_.back() = index;
        if (item_.HasDev && item_.Dev != Dev()) devs_.push_back({open_.size(), item_.Dev});
        if (!item_.Excluded.empty()) {
            NotEntered(index);
            return true;
        }
        if (item_.ReadError)
            scan_.Tree.SetTrouble(index, walk::DirProblem::Unreadable, "could not be read", false);
        // A directory's own blocks count in its bytes on disk, as the walk
        // counts them; its apparent size in neither kind.
        auto self = static_cast<std::int64_t>(item_.Dsize);
        return AddBytes(index, diskUsage_ ? self : 0, diskUsage_ ? 0 : self) ||
               Fail(std::string(TooLarge));
    }

    bool AddEntry(tree::DirIndex top) {
        const std::string& why = item_.Excluded;
        // Not entered for its file system: a directory. Excluded by a
        // pattern: neither counted nor entered, like --exclude.
        if (why == "othfs" || why == "otherfs" || why == "kernfs") {
            tree::DirIndex index = NewDir(top);
            if (index == tree::NoDir) return false;
            NotEntered(index);
            return true;
        }
        if (!why.empty()) return true;
        tree::DirRecord& dir = scan_.Tree.At(top);
        if (dir.OwnFiles == std::numeric_limits<std::int32_t>::max())
            return Fail("too many files in one directory");
        ++dir.OwnFiles;
        auto bytes = static_cast<std::int64_t>(diskUsage_ ? item_.Dsize : item_.Asize);
        auto other = static_cast<std::int64_t>(diskUsage_ ? item_.Asize : item_.Dsize);
        if (!countLinks_ && (item_.Hlnkc || item_.Nlink > 1) && item_.Ino != 0) {
            links_.push_back({top, item_.HasDev ? item_.Dev : Dev(), item_.Ino, bytes, other,
                              input_.Line(), input_.Offset()});
            return true;
        }
        return AddBytes(top, bytes, other) || Fail(std::string(TooLarge));
    }

    // A directory below `parent` (NoDir: the start directory), named as the
    // item says; its subtree's numbers are added up once all is read.
    tree::DirIndex NewDir(tree::DirIndex parent) {
        if (parent == tree::NoDir && scan_.Root != tree::NoDir) {
            Fail("more than one tree in the export");
            return tree::NoDir;
        }
        if (parent != tree::NoDir &&
            scan_.Tree.At(parent).Subdirs == std::numeric_limits<std::int32_t>::max()) {
            Fail("too many subdirectories in one directory");
            return tree::NoDir;
        }
        tree::DirIndex index =
            scan_.Tree.Add(parent == tree::NoDir ? std::string_view() : item_.Name);
        if (index == tree::NoDir) {
            Fail("too many directories");
            return tree::NoDir;
        }
        scan_.Tree.At(index).TotalBytes = -1;
        scan_.Tree.At(index).TotalDirs = -1;
        if (parent == tree::NoDir) {
            scan_.Root = index;
            scan_.Start = std::move(item_.Name);
        } else {
            tree::DirRecord& p = scan_.Tree.At(parent);
            p.Next = scan_.Tree.Append(parent, p.Next, index);
            ++p.Subdirs;
        }
        return index;
    }

    void NotEntered(tree::DirIndex dir) {
        bool otherFs = item_.Excluded == "othfs" || item_.Excluded == "otherfs";
        scan_.Tree.SetTrouble(dir, walk::DirProblem::OtherFileSystem,
                              otherFs ? "other file system" : "excluded", false);
    }

    SavedScan& scan_;
    bool diskUsage_;
    bool countLinks_;
    std::deque<tree::DirIndex> open_;
    std::int32_t elements_ = 0; // of the export's own array
    std::vector<Device> devs_;
    std::vector<Link> links_;
    std::vector<tree::DirIndex> names_; // room for SharedName
    std::int64_t counted_ = 0;          // the bytes counted so far: the start's total
    std::int64_t otherCounted_ = 0;     // the same by the other kind
    Item item_;
    Field field_ = Field::Other;
    bool inItem_ = false;
    bool done_ = false;
};

} // namespace

bool ReadNcdu(JsonInput& input, bool diskUsage, bool countLinks, SavedScan& scan, std::string& what,
              std::uint64_t& line, std::uint64_t& offset) {
    NcduSax sax(input, diskUsage, countLinks, scan);
    bool ok = ReadJsonValues(input, sax, false);
    if (ok && sax.Done()) sax.CountLinks();
    if (sax.What().empty() && !input.Failure().empty()) sax.Fail(input.Failure());
    if (sax.What().empty() && !sax.Done()) sax.Fail("truncated");
    what = sax.What();
    line = sax.Line();
    offset = sax.Offset();
    return what.empty();
}

} // namespace kelpo32::saved
