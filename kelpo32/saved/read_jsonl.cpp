// JSON Lines of kelpo32 read back: one object per directory, each with every
// key the program writes (a line without one, or with one twice, is
// damaged), placed into the tree by jsonl_tree. Every number a line holds is
// kept: a directory cut off by a depth limit, a minimum size or a top-N
// keeps its subtree's totals. A path is taken in pieces, so a line of any
// depth the walk writes is read. A scan kept in a history has a first line
// of its own: when it was recorded, where, and its file system's space.
#include "kelpo32/saved/jsonl_tree.h"
#include "kelpo32/saved/scan_time.h"

#include <span>

namespace kelpo32::saved {

namespace {

enum class Field : std::uint8_t {
    Other,
    Path,
    Parent,
    Depth,
    Files,
    Bytes,
    Dirs,
    More,
    TotalFiles,
    TotalBytes,
    TotalDirs,
    Error,
    Partial,
    Compared,
    Recorded,
    Start,
    FsSize,
    FsFree
};

constexpr std::pair<std::string_view, Field> Names[] = {
    {"path", Field::Path},
    {"parent", Field::Parent},
    {"depth", Field::Depth},
    {"files", Field::Files},
    {"bytes", Field::Bytes},
    {"dirs", Field::Dirs},
    {"more", Field::More},
    {"total_files", Field::TotalFiles},
    {"total_bytes", Field::TotalBytes},
    {"total_dirs", Field::TotalDirs},
    {"error", Field::Error},
    {"partial", Field::Partial},
    {"old_bytes", Field::Compared},
    {"recorded", Field::Recorded},
    {"start", Field::Start},
    {"fs_size", Field::FsSize},
    {"fs_free", Field::FsFree},
};

constexpr std::uint32_t Bit(Field f) {
    return std::uint32_t{1} << static_cast<unsigned>(f);
}

// The keys every line of a directory holds, and every "more" line, in the
// order the program writes them.
constexpr Field DirKeys[] = {Field::Path, Field::Depth,      Field::Files,      Field::Bytes,
                             Field::Dirs, Field::TotalFiles, Field::TotalBytes, Field::TotalDirs};
constexpr Field MoreKeys[] = {Field::Parent,     Field::Depth,      Field::More,
                              Field::TotalFiles, Field::TotalBytes, Field::TotalDirs};

std::string_view NameOf(Field f) {
    for (const auto& [name, field] : Names)
        if (field == f) return name;
    return {};
}

class JsonLinesSax final : public SavedSax {
  public:
    JsonLinesSax(JsonInput& input, SavedScan& scan)
        : SavedSax(input), scan_(scan), tree_(scan, *this, input) {}

    bool Finish() { return tree_.Finish(); }

  private:
    bool StartObject() override {
        if (inObject_) return Fail("a nested object where a number or a string belongs");
        inObject_ = true;
        std::string error = std::move(line_.Error);
        error.clear();
        line_ = JsonLine{};
        line_.Error = std::move(error);
        head_ = ScanHeader{};
        seen_ = 0;
        return true;
    }
    bool StartArray() override {
        return Fail(inObject_ ? "an array where a number or a string belongs"
                              : "not a saved scan: a line that is not an object");
    }
    bool EndArray() override { return Fail("not JSON Lines"); }
    bool Key(std::string_view key) override {
        field_ = FieldOf(key, Names, Field::Other);
        if (field_ == Field::Compared)
            return Fail("not a saved scan: the JSON Lines of a comparison (--compare); "
                        "give the scans it compared");
        if (field_ == Field::Other) {
            SkipValue();
            return true;
        }
        // The last of two would win unseen: the line is damaged.
        if ((seen_ & Bit(field_)) != 0)
            return Fail("a second \"" + std::string(key) + "\" in one line");
        seen_ |= Bit(field_);
        if (field_ == Field::Path || field_ == Field::Parent) ValueAsPath();
        return true;
    }
    bool Scalar(const Value& v) override {
        if (!inObject_) return Fail("not a saved scan: a line that is not an object");
        switch (field_) {
        case Field::Path:
        case Field::Parent:
        case Field::Error:
            if (v.Type != Value::String) return Fail("not a string where a string belongs");
            if (field_ == Field::Error) line_.Error.assign(v.Text);
            return true;
        case Field::Depth:
            return Count(v, line_.Depth);
        case Field::Files:
            return Count(v, line_.Files);
        case Field::Bytes:
            return Count(v, line_.Bytes);
        case Field::Dirs:
            return Count(v, line_.Dirs);
        case Field::More:
            return Count(v, line_.More);
        case Field::TotalBytes:
            return Count(v, line_.Total);
        case Field::TotalFiles:
            return Count(v, static_cast<std::uint64_t>(tree::DirRecord::MaxFiles),
                         line_.TotalFiles);
        case Field::TotalDirs:
            return Count(v, line_.TotalDirs);
        case Field::Partial:
            if (v.Type != Value::Bool) return Fail("not true or false where one belongs");
            line_.Partial = v.Flag;
            return true;
        case Field::Recorded:
        case Field::Start:
            if (v.Type != Value::String) return Fail("not a string where a string belongs");
            if (field_ == Field::Start) {
                head_.Start.assign(v.Text);
                return true;
            }
            if (!ParseUtc(v.Text, head_.Time))
                return Fail("not a time of the form 2026-12-22T08:00:00Z");
            return true;
        case Field::FsSize:
            return Count(v, head_.FsSize);
        case Field::FsFree:
            return Count(v, head_.FsFree);
        case Field::Other:
        case Field::Compared:
            break;
        }
        return true;
    }

    // The first line of a scan kept in a history says when it was made.
    bool Header() {
        if (lines_ > 1) return Fail("a line of when the scan was recorded after the first line");
        if ((seen_ & (Bit(Field::Path) | Bit(Field::Parent))) != 0)
            return Fail("a line of when the scan was recorded that names a directory");
        scan_.Header = std::move(head_);
        scan_.Header.Known = true;
        return true;
    }
    bool EndObject() override {
        inObject_ = false;
        ++lines_;
        if ((seen_ & Bit(Field::Recorded)) != 0) return Header();
        bool path = (seen_ & Bit(Field::Path)) != 0;
        bool parent = (seen_ & Bit(Field::Parent)) != 0;
        if (path == parent || (seen_ & Bit(Field::Depth)) == 0 ||
            (seen_ & Bit(Field::TotalBytes)) == 0)
            return Fail("not a saved scan: a line without \"path\", \"depth\" or \"total_bytes\"");
        line_.IsMore = parent;
        line_.HasError = (seen_ & Bit(Field::Error)) != 0;
        for (Field f : parent ? std::span<const Field>(MoreKeys) : std::span<const Field>(DirKeys))
            if ((seen_ & Bit(f)) == 0 && f != Field::More)
                return Fail("a line without \"" + std::string(NameOf(f)) + "\"");
        line_.Path = &PathOfValue();
        return tree_.Place(line_);
    }

    SavedScan& scan_;
    JsonLinesTree tree_;
    JsonLine line_;
    ScanHeader head_;        // of a history's first line
    std::uint32_t seen_ = 0; // the fields of the line so far
    std::uint64_t lines_ = 0;
    Field field_ = Field::Other;
    bool inObject_ = false;
};

} // namespace

bool ReadJsonLines(JsonInput& input, SavedScan& scan, std::string& what, std::uint64_t& line,
                   std::uint64_t& offset) {
    JsonLinesSax sax(input, scan);
    if (input.SkipSpace()) ReadJsonValues(input, sax, true);
    if (sax.What().empty() && !input.Failure().empty()) sax.Fail(input.Failure());
    if (sax.What().empty()) sax.Finish();
    what = sax.What();
    line = sax.Line();
    offset = sax.Offset();
    return what.empty();
}

} // namespace kelpo32::saved
