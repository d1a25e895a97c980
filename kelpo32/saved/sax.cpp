#include "kelpo32/saved/sax.h"

#include "runtime/dirsearch.h"
#include "runtime/textsafe.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <new>

namespace kelpo32::saved {

void PathPieces::Clear() {
    Whole = true;
    TooLong = false;
    Length = 0;
    Hash = Basis;
    AboveLength = 0;
    AboveHash = Basis;
    used_ = 0;
    nameAt_ = 0;
    room_ = std::min(kept_.size(), MaxString);
}

void PathPieces::Overflow(char c) {
    if (used_ < MaxString) {
        kept_.resize(std::clamp<std::size_t>(2 * kept_.size(), 256, MaxString));
        room_ = kept_.size();
    } else {
        // The whole no longer fits: the last name alone is kept.
        if (Whole && nameAt_ > 0) {
            std::memmove(kept_.data(), kept_.data() + nameAt_, used_ - nameAt_);
            used_ -= nameAt_;
        }
        Whole = false;
        nameAt_ = 0;
        TooLong = used_ == MaxString;
    }
    if (!TooLong) kept_[used_++] = c;
    if (c == separator_) Separate();
}

void StringSink::Begin() {
    mode_ = next_;
    nuls_ = 0;
    tooLong_ = false;
    used_ = 0;
    room_ = std::min(text_.size(), MaxString + 1);
    if (mode_ == Mode::Path) path_.Clear();
}

void StringSink::Overflow(char c) {
    if (used_ > MaxString) {
        tooLong_ = true;
        return;
    }
    text_.resize(std::clamp<std::size_t>(2 * text_.size(), 256, MaxString + 1));
    room_ = text_.size();
    text_[used_++] = c;
}

void StringSink::PutNuls() {
    for (; nuls_ > 0; --nuls_)
        path_.Add('\0');
}

SavedSax::SavedSax(JsonInput& input) : input_(input), sink_(runtime::PathSeparator()) {}

bool SavedSax::Fail(const std::string& what) {
    if (what_.empty()) {
        // A failure of the input itself says more than what the reader made of it.
        what_ = input_.Failure().empty() ? what : input_.Failure();
        line_ = input_.Line();
        offset_ = input_.Offset();
    }
    return false;
}

bool SavedSax::FailAt(const std::string& what, std::uint64_t line, std::uint64_t offset) {
    if (what_.empty()) {
        what_ = what;
        line_ = line;
        offset_ = offset;
    }
    return false;
}

const char* NameProblem(std::string_view name) {
    if (name.empty()) return "an empty name";
    if (name == ".") return "the name \".\"";
    if (name == "..") return "the name \"..\"";
    if (name.find('\0') != std::string_view::npos) return "a name with a NUL byte in it";
    if (name.find('/') != std::string_view::npos ||
        name.find(runtime::PathSeparator()) != std::string_view::npos)
        return "a name with a path separator in it";
    return nullptr;
}

std::string SharedName(const SavedScan& scan, tree::DirIndex dir,
                       std::vector<tree::DirIndex>& names) {
    const tree::DirTree& t = scan.Tree;
    tree::DirIndex first = t.At(dir).First;
    if (first == tree::NoDir || t.At(first).Next == tree::NoDir) return {};
    // The records sorted by name, 4 bytes each: a directory of a million
    // subdirectories needs no copy of their names' views.
    names.clear();
    for (tree::DirIndex c = first; c != tree::NoDir; c = t.At(c).Next)
        if (!t.IsMore(c)) names.push_back(c);
    auto byName = [&](tree::DirIndex a, tree::DirIndex b) { return t.Name(a) < t.Name(b); };
    std::sort(names.begin(), names.end(), byName);
    auto twice =
        std::adjacent_find(names.begin(), names.end(), [&](tree::DirIndex a, tree::DirIndex b) {
            return t.Name(a) == t.Name(b);
        });
    if (twice == names.end()) return {};
    return "two subdirectories named \"" +
           runtime::SafeText(t.Name(*twice), runtime::StdErrSink()) + "\"";
}

bool SavedSax::Passed() {
    if (skip_ > 0) return true;
    if (!skipNext_) return false;
    skipNext_ = false;
    return true;
}

bool SavedSax::Enter() {
    if (skip_ == 0 && !skipNext_) return false;
    skipNext_ = false;
    if (++skip_ > MaxPassedDepth)
        Fail("a value nested more than " + std::to_string(MaxPassedDepth) + " levels deep");
    return true;
}

bool SavedSax::Leave() {
    if (skip_ == 0) return false;
    --skip_;
    return true;
}

bool SavedSax::Then(bool ok) {
    using Mode = StringSink::Mode;
    sink_.Next(skip_ > 0 || skipNext_ ? Mode::Pass : pathNext_ ? Mode::Path : Mode::Keep);
    pathNext_ = false;
    return ok;
}

bool SavedSax::fraction(double d) {
    if (Passed()) return Then(true);
    // What the reader cannot give as a whole number: a fraction, an
    // exponent, or a whole number beyond 64 bits.
    constexpr double Beyond = 18446744073709551616.0;
    if (d == std::floor(d) && d < 0) return Then(Scalar(Value{Value::Negative}));
    if (d == std::floor(d) && d >= Beyond) return Fail("number out of range");
    return Fail("not a whole number");
}

bool SavedSax::string() {
    if (Passed()) return Then(true);
    if (sink_.TooLong()) return Fail("a string longer than 4 MiB");
    return Then(Scalar(Value{Value::String, false, 0, sink_.Text()}));
}

bool SavedSax::key() {
    if (skip_ > 0) return Then(true);
    if (sink_.TooLong()) return Fail("a key longer than 4 MiB");
    return Then(Key(sink_.Text()));
}

bool SavedSax::parse_error(std::string_view reason) {
    return Fail("not JSON: " + std::string(reason));
}

bool SavedSax::Count(const Value& v, std::uint64_t max, std::uint64_t& out) {
    if (v.Type == Value::Negative) return Fail("negative number");
    if (v.Type != Value::Unsigned) return Fail("not a number where a number belongs");
    if (v.Number > max) return Fail("number out of range");
    out = v.Number;
    return true;
}

namespace {

// The reader's stack taken from operator new, so that running out of memory
// is std::bad_alloc like every other allocation, and the stack is left as it
// was (never written through a null pointer).
class CheckedAllocator {
  public:
    void* Malloc(std::size_t size) { return size == 0 ? nullptr : ::operator new(size); }
    void* Realloc(void* old, std::size_t oldSize, std::size_t newSize) {
        if (newSize == 0) {
            Free(old);
            return nullptr;
        }
        void* grown = ::operator new(newSize);
        if (old != nullptr) std::memcpy(grown, old, std::min(oldSize, newSize));
        Free(old);
        return grown;
    }
    static void Free(void* p) { ::operator delete(p); }
};

using Reader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, CheckedAllocator>;

// The reader's view of the input: its next byte, 0 at the end. The bytes of
// the input's block are taken here; Sync() tells the input how far, so that
// it can name the place of an error. A string is read "in place": its bytes
// go to the sink one at a time, never onto the reader's stack.
class ByteStream {
  public:
    using Ch = char;
    ByteStream(JsonInput& input, StringSink& sink) : input_(input), sink_(sink) {}
    Ch Peek() const { return cur_ != end_ ? *cur_ : Refill(); }
    Ch Take() {
        Ch c = Peek();
        if (cur_ != end_) ++cur_;
        return c;
    }
    // Asked for the place of an error; that is taken from the input itself
    // (SavedSax::Fail), so this one is never used.
    std::size_t Tell() const { return 0; }
    // A string's bytes, as the reader decodes them.
    Ch* PutBegin() {
        sink_.Begin();
        return nullptr;
    }
    void Put(Ch c) { sink_.Put(c); }
    void Flush() {}
    std::size_t PutEnd(Ch*) {
        sink_.End();
        return 1;
    }

    void Sync() const {
        input_.Took(static_cast<std::size_t>(cur_ - base_));
        base_ = cur_;
    }

  private:
    Ch Refill() const {
        Sync();
        std::string_view ahead = input_.Ahead();
        base_ = cur_ = ahead.data();
        end_ = ahead.data() + ahead.size();
        return cur_ != end_ ? *cur_ : '\0';
    }
    JsonInput& input_;
    StringSink& sink_;
    mutable const char* base_ = nullptr;
    mutable const char* cur_ = nullptr;
    mutable const char* end_ = nullptr;
};

// The reader's events handed on to a SavedSax; a string's bytes are in the
// sink already.
class Events {
  public:
    using Ch = char;
    Events(SavedSax& sax, const ByteStream& stream) : sax_(sax), stream_(stream) {}
    bool Null() { return At().null(); }
    bool Bool(bool b) { return At().boolean(b); }
    bool Int(int n) { return n < 0 ? At().negative() : At().whole(static_cast<std::uint64_t>(n)); }
    bool Uint(unsigned n) { return At().whole(n); }
    bool Int64(std::int64_t n) {
        return n < 0 ? At().negative() : At().whole(static_cast<std::uint64_t>(n));
    }
    bool Uint64(std::uint64_t n) { return At().whole(n); }
    bool Double(double d) { return At().fraction(d); }
    bool String(const Ch*, rapidjson::SizeType, bool) { return At().string(); }
    bool Key(const Ch*, rapidjson::SizeType, bool) { return At().key(); }
    bool StartObject() { return At().start_object(); }
    bool EndObject(rapidjson::SizeType) { return At().end_object(); }
    bool StartArray() { return At().start_array(); }
    bool EndArray(rapidjson::SizeType) { return At().end_array(); }
    // Numbers come as numbers (above); this one is never called.
    bool RawNumber(const Ch*, rapidjson::SizeType, bool) { return false; }

  private:
    // The input knows how far the reader is, for a message about this event.
    SavedSax& At() {
        stream_.Sync();
        return sax_;
    }
    SavedSax& sax_;
    const ByteStream& stream_;
};

} // namespace

bool ReadJsonValues(JsonInput& input, SavedSax& sax, bool many) {
    // Iterative: any depth of nesting is read without deep recursion. In
    // place: strings go to the sink. One reader for all values, so its stack
    // is not made again for every line.
    constexpr unsigned Flags = rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag |
                               rapidjson::kParseInsituFlag;
    Reader reader;
    do {
        ByteStream stream(input, sax.Sink());
        Events events(sax, stream);
        rapidjson::ParseResult result = reader.Parse<Flags>(stream, events);
        stream.Sync();
        if (result.IsError()) {
            if (!sax.What().empty()) return false;
            if (result.Code() == rapidjson::kParseErrorTermination) return sax.Fail("not JSON");
            // "Missing a comma or ']' after an array element." as "missing a
            // comma or ']' after an array element".
            std::string reason = rapidjson::GetParseError_En(result.Code());
            if (!reason.empty() && reason.back() == '.') reason.pop_back();
            if (!reason.empty())
                reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
            // Where the input itself ends, what is missing is the rest of the file.
            if (input.Ahead().empty()) return sax.Fail("truncated: " + reason);
            return sax.parse_error(reason);
        }
    } while (many && input.SkipSpace());
    if (!many && input.SkipSpace()) return sax.Fail("more after the end of the export");
    return true;
}

} // namespace kelpo32::saved
