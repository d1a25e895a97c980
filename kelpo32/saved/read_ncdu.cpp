// The ncdu export (major version 1, minors 0 to 2) read back: [1, minor,
// {metadata}, [root info, entries...]], every directory an array of its info
// object and its entries, every file an object. Only the open directories
// are kept while reading (one frame each); files add into their directory's
// record (ncdu_files), and are kept for the browser when it asks.
#include "kelpo32/saved/ncdu_files.h"
#include "kelpo32/saved/sax.h"

#include <deque>

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
    Excluded,
    NotReg
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
    std::uint16_t Seen = 0; // the fields given, a bit each
    bool Hlnkc = false;
    bool ReadError = false;
    bool NotReg = false;

    // As new, the room of the strings kept for the next.
    void Reset() {
        Name.clear();
        Excluded.clear();
        Asize = Dsize = Dev = Ino = 0;
        Nlink = 1;
        Seen = 0;
        Hlnkc = ReadError = NotReg = false;
    }
};

class NcduSax final : public SavedSax {
  public:
    NcduSax(JsonInput& input, bool diskUsage, bool countLinks, SavedScan& scan, bool keep)
        : SavedSax(input), scan_(scan), diskUsage_(diskUsage), files_(scan, countLinks, keep) {}

    bool Done() const { return done_; }

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
        if (twice.empty()) twice = files_.Closed(top);
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
        item_.Reset();
        return true;
    }

    bool Key(std::string_view key) override {
        static constexpr std::pair<std::string_view, Field> Names[] = {
            {"name", Field::Name},         {"asize", Field::Asize},
            {"dsize", Field::Dsize},       {"dev", Field::Dev},
            {"ino", Field::Ino},           {"nlink", Field::Nlink},
            {"hlnkc", Field::Hlnkc},       {"read_error", Field::ReadError},
            {"excluded", Field::Excluded}, {"notreg", Field::NotReg},
        };
        field_ = FieldOf(key, Names, Field::Other);
        if (field_ == Field::Other) {
            SkipValue();
            return true;
        }
        // The last of two would win unseen: the entry is damaged.
        auto bit = static_cast<std::uint16_t>(1U << static_cast<unsigned>(field_));
        if ((item_.Seen & bit) != 0)
            return Fail("a second \"" + std::string(key) + "\" in one entry");
        item_.Seen |= bit;
        return true;
    }

    bool Scalar(const Value& v) override {
        if (!inItem_) return TopScalar(v);
        switch (field_) {
        case Field::Name:
            if (v.Type != Value::String) return Fail("a name that is not a string");
            item_.Name.assign(v.Text);
            return true;
        case Field::Excluded:
            // Older exports write true, newer ones why.
            item_.Excluded = v.Type == Value::String ? std::string(v.Text) : "pattern";
            if (v.Type == Value::Bool && !v.Flag) item_.Excluded.clear();
            return true;
        case Field::Hlnkc:
        case Field::ReadError:
        case Field::NotReg:
            if (v.Type != Value::Bool) return Fail("not true or false where either belongs");
            (field_ == Field::Hlnkc       ? item_.Hlnkc
             : field_ == Field::ReadError ? item_.ReadError
                                          : item_.NotReg) = v.Flag;
            return true;
        case Field::Asize:
            return Count(v, std::numeric_limits<std::int64_t>::max(), item_.Asize);
        case Field::Dsize:
            return Count(v, std::numeric_limits<std::int64_t>::max(), item_.Dsize);
        case Field::Dev:
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
        if (!Has(Field::Name)) return Fail("an entry without a name");
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
        if (Has(Field::Dev) && item_.Dev != Dev()) devs_.push_back({open_.size(), item_.Dev});
        if (!item_.Excluded.empty()) {
            NotEntered(index);
            return true;
        }
        if (item_.ReadError)
            scan_.Tree.SetTrouble(index, walk::DirProblem::Unreadable, "could not be read", false);
        // A directory's own blocks count in its bytes on disk, as the walk
        // counts them; its apparent size in neither kind.
        auto self = static_cast<std::int64_t>(item_.Dsize);
        std::string what;
        return files_.AddOwn(index, diskUsage_ ? self : 0, diskUsage_ ? 0 : self, what) ||
               Fail(what);
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
        if (!why.empty()) {
            files_.Name(top, item_.Name);
            return true;
        }
        tree::DirRecord& dir = scan_.Tree.At(top);
        if (dir.OwnFiles == std::numeric_limits<std::int32_t>::max())
            return Fail("too many files in one directory");
        ++dir.OwnFiles;
        NcduFile file;
        file.Name = item_.Name;
        file.Size = item_.Asize;
        file.Disk = item_.Dsize;
        file.Bytes = static_cast<std::int64_t>(diskUsage_ ? item_.Dsize : item_.Asize);
        file.Other = static_cast<std::int64_t>(diskUsage_ ? item_.Asize : item_.Dsize);
        file.Device = Has(Field::Dev) ? item_.Dev : Dev();
        file.Inode = item_.Ino;
        file.Links =
            static_cast<std::uint32_t>(std::max<std::uint64_t>(item_.Nlink, item_.Hlnkc ? 2 : 1));
        file.NotRegular = item_.NotReg;
        std::string what;
        return files_.Add(top, file, what) || Fail(what);
    }

    bool Has(Field f) const { return (item_.Seen & (1U << static_cast<unsigned>(f))) != 0; }

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
    NcduFiles files_;
    std::deque<tree::DirIndex> open_;
    std::int32_t elements_ = 0; // of the export's own array
    std::vector<Device> devs_;
    std::vector<tree::DirIndex> names_; // room for SharedName
    Item item_;
    Field field_ = Field::Other;
    bool inItem_ = false;
    bool done_ = false;
};

} // namespace

bool ReadNcdu(JsonInput& input, bool diskUsage, bool countLinks, SavedScan& scan, std::string& what,
              std::uint64_t& line, std::uint64_t& offset) {
    NcduSax sax(input, diskUsage, countLinks, scan, scan.Tree.BrowseIfAny() != nullptr);
    ReadJsonValues(input, sax, false);
    if (sax.What().empty() && !input.Failure().empty()) sax.Fail(input.Failure());
    if (sax.What().empty() && !sax.Done()) sax.Fail("truncated");
    what = sax.What();
    line = sax.Line();
    offset = sax.Offset();
    return what.empty();
}

} // namespace kelpo32::saved
