// What the readers of saved scans share: the JSON reader's event interface
// turned into a few calls, numbers checked, strings taken as each reader
// needs them, and the first error kept with the place in the input where it
// was met.
#pragma once

#include "kelpo32/saved/json_input.h"
#include "kelpo32/saved/saved_scan.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelpo32::saved {

// The field a key names in a table of names, or `none`. The lengths and first
// letters tell most names apart before any comparison of the whole.
template <typename F, std::size_t N>
F FieldOf(std::string_view key, const std::pair<std::string_view, F> (&names)[N], F none) {
    for (const auto& [name, field] : names)
        if (key.size() == name.size() && key[0] == name[0] && key == name) return field;
    return none;
}

// The longest string kept whole: a name, a reason, a start directory.
inline constexpr std::size_t MaxString = std::size_t{4} << 20;

// A path taken byte by byte: what a reader needs of it whatever its length
// (the name after its last separator, the length and hash of the whole and
// of what lies above the name), and the whole only while it is short enough
// to keep. So a path of any depth the walk can write is read in memory that
// follows its last name.
class PathPieces {
  public:
    static constexpr std::uint64_t Basis = 14695981039346656037ULL;
    static constexpr std::uint64_t Prime = 1099511628211ULL;
    static std::uint64_t Step(std::uint64_t hash, char c) {
        return (hash ^ static_cast<unsigned char>(c)) * Prime;
    }

    explicit PathPieces(char separator) : separator_(separator) {}
    void Clear();
    void Add(char c) {
        Hash = Step(Hash, c);
        ++Length;
        if (used_ == room_) {
            Overflow(c);
            return;
        }
        kept_[used_++] = c;
        if (c == separator_) Separate();
    }

    // The whole while Whole, else what follows the last separator.
    std::string_view Kept() const { return {kept_.data(), used_}; }
    std::string_view Name() const { return Kept().substr(nameAt_); }

    bool Separated() const { return AboveLength > 0; }

    bool Whole = true;
    bool TooLong = false; // a name longer than MaxString: not all of it kept
    std::uint64_t Length = 0;
    std::uint64_t Hash = Basis;
    std::uint64_t AboveLength = 0; // up to and with the last separator
    std::uint64_t AboveHash = Basis;

  private:
    void Separate() {
        AboveLength = Length;
        AboveHash = Hash;
        // Too long to keep whole: only the name that follows is kept.
        if (!Whole) {
            used_ = 0;
            TooLong = false;
        }
        nameAt_ = used_;
    }
    void Overflow(char c);

    std::vector<char> kept_;
    std::size_t used_ = 0;
    std::size_t room_ = 0;   // of kept_ that may be used
    std::size_t nameAt_ = 0; // where in what is kept the last name begins
    char separator_;
};

// Where the reader puts the bytes of each string, and how: kept, passed
// over, or taken as a path. The reader ends every string with a NUL of its
// own, which End takes back.
class StringSink {
  public:
    enum class Mode : std::uint8_t { Keep, Pass, Path };

    explicit StringSink(char separator) : path_(separator) {}
    void Next(Mode mode) { next_ = mode; }
    void Begin();
    void Put(char c) {
        switch (mode_) {
        case Mode::Keep:
            // Room for MaxString bytes and the reader's NUL.
            if (used_ < room_)
                text_[used_++] = c;
            else
                Overflow(c);
            return;
        case Mode::Pass:
            return;
        case Mode::Path:
            // A NUL may be the name's own or the reader's end: known at End.
            if (c == '\0') {
                ++nuls_;
            } else {
                if (nuls_ != 0) PutNuls();
                path_.Add(c);
            }
            return;
        }
    }
    void End() {
        if (mode_ == Mode::Keep && !tooLong_) --used_;
        if (mode_ == Mode::Path && nuls_ > 1) {
            --nuls_;
            PutNuls();
        }
    }

    std::string_view Text() const { return {text_.data(), used_}; }
    bool TooLong() const { return tooLong_; }
    const PathPieces& Path() const { return path_; }

  private:
    void Overflow(char c);
    void PutNuls();

    std::vector<char> text_;
    std::size_t used_ = 0;
    std::size_t room_ = 0;
    PathPieces path_;
    std::size_t nuls_ = 0;
    Mode mode_ = Mode::Keep;
    Mode next_ = Mode::Keep;
    bool tooLong_ = false;
};

class SavedSax {
  public:
    explicit SavedSax(JsonInput& input);
    SavedSax(const SavedSax&) = delete;
    SavedSax& operator=(const SavedSax&) = delete;
    virtual ~SavedSax() = default;

    const std::string& What() const { return what_; }
    std::uint64_t Line() const { return line_; }
    std::uint64_t Offset() const { return offset_; }

    // Keeps the first error and where it was met; false stops the reader.
    bool Fail(const std::string& what);
    // The same for an error that belongs to an earlier place in the input.
    bool FailAt(const std::string& what, std::uint64_t line, std::uint64_t offset);

    // The JSON reader's events; a string's bytes are in Sink().
    StringSink& Sink() { return sink_; }
    bool null() { return Then(Passed() || Scalar(Value{Value::Null})); }
    bool boolean(bool v) { return Then(Passed() || Scalar(Value{Value::Bool, v})); }
    bool whole(std::uint64_t n) {
        return Then(Passed() || Scalar(Value{Value::Unsigned, false, n}));
    }
    bool negative() { return Then(Passed() || Scalar(Value{Value::Negative})); }
    bool fraction(double d);
    bool string();
    bool start_object() { return Then(Enter() ? what_.empty() : StartObject()); }
    bool end_object() { return Then(Leave() || EndObject()); }
    bool start_array() { return Then(Enter() ? what_.empty() : StartArray()); }
    bool end_array() { return Then(Leave() || EndArray()); }
    bool key();
    // What the reader found wrong with the JSON itself.
    bool parse_error(std::string_view reason);

    // A value passed over may hold others this deep at most: a file of
    // brackets costs no memory for them.
    static constexpr std::int64_t MaxPassedDepth = 64;

  protected:
    struct Value {
        enum Kind : std::uint8_t { Null, Bool, Unsigned, Negative, String } Type;
        bool Flag = false;
        std::uint64_t Number = 0;
        std::string_view Text = {}; // a string kept; a path is in PathOfValue()
    };

    virtual bool StartObject() = 0;
    virtual bool EndObject() = 0;
    virtual bool StartArray() = 0;
    virtual bool EndArray() = 0;
    virtual bool Key(std::string_view key) = 0;
    virtual bool Scalar(const Value& value) = 0;

    // The next value is of no interest: it and all inside it are passed over.
    void SkipValue() { skipNext_ = true; }
    // The same for the object or array that has just begun.
    void SkipRest() { skip_ = 1; }
    // The next value, a string, is a path: taken in pieces.
    void ValueAsPath() { pathNext_ = true; }
    const PathPieces& PathOfValue() const { return sink_.Path(); }

    // A number that must be whole, not negative and at most `max`.
    bool Count(const Value& v, std::uint64_t max, std::uint64_t& out);
    template <typename T> bool Count(const Value& v, T& out) {
        std::uint64_t n = 0;
        if (!Count(v, static_cast<std::uint64_t>(std::numeric_limits<T>::max()), n)) return false;
        out = static_cast<T>(n);
        return true;
    }

    JsonInput& input_;

  private:
    // True for the events of a value passed over (skip_ counts its depth).
    bool Passed();
    // True for an object or array passed over; one too deep fails.
    bool Enter();
    bool Leave();
    // After each event: how the next string is taken.
    bool Then(bool ok);

    StringSink sink_;
    std::int64_t skip_ = 0;
    bool skipNext_ = false;
    bool pathNext_ = false;
    std::string what_;
    std::uint64_t line_ = 0;
    std::uint64_t offset_ = 0;
};

// What is wrong with `name` as the name of an entry below the start
// directory: empty, "." or "..", a NUL byte or a path separator in it (either
// platform's: a path made of it would lead elsewhere); nullptr when nothing is.
const char* NameProblem(std::string_view name);

// The message for two subdirectories of `dir` of the same name (a comparison
// would match only one of them), or empty when their names differ. `names` is
// room for the work, kept between calls.
std::string SharedName(const SavedScan& scan, tree::DirIndex dir,
                       std::vector<tree::DirIndex>& names);

// Reads JSON values from `input` into `sax`: one and nothing after it, or
// (`many`) as many as there are, with white space between them. False when
// they or the input failed (sax.What() then says why). Running out of memory
// is std::bad_alloc, from the reader's own stack too.
bool ReadJsonValues(JsonInput& input, SavedSax& sax, bool many);

bool ReadJsonLines(JsonInput& input, SavedScan& scan, std::string& what, std::uint64_t& line,
                   std::uint64_t& offset);
bool ReadNcdu(JsonInput& input, bool diskUsage, bool countLinks, SavedScan& scan, std::string& what,
              std::uint64_t& line, std::uint64_t& offset);

} // namespace kelpo32::saved
