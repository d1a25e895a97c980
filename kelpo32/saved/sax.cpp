#include "kelpo32/saved/sax.h"

#include "runtime/dirsearch.h"
#include "runtime/textsafe.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kelpo32::saved {

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
    if (skip_ > 0) {
        ++skip_;
        return true;
    }
    if (!skipNext_) return false;
    skipNext_ = false;
    skip_ = 1;
    return true;
}

bool SavedSax::Leave() {
    if (skip_ == 0) return false;
    --skip_;
    return true;
}

bool SavedSax::number(std::string_view text) {
    if (Passed()) return true;
    for (char c : text)
        if (c == '.' || c == 'e' || c == 'E') return Fail("not a whole number");
    bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    std::uint64_t n = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), n);
    if (negative && res.ec == std::errc() && n == 0) negative = false; // -0
    if (negative) return Scalar(Value{Value::Negative, false, 0});
    if (res.ec != std::errc()) return Fail("number out of range");
    return Scalar(Value{Value::Unsigned, false, n});
}

bool SavedSax::string(std::string_view text) {
    if (Passed()) return true;
    text_.assign(text);
    return Scalar(Value{Value::String, false, 0, &text_});
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

// The reader's view of the input: its next byte, 0 at the end. The bytes of
// the input's block are taken here; Sync() tells the input how far, so that
// it can name the place of an error.
class ByteStream {
  public:
    using Ch = char;
    explicit ByteStream(JsonInput& input) : input_(input) {}
    Ch Peek() const { return cur_ != end_ ? *cur_ : Refill(); }
    Ch Take() {
        Ch c = Peek();
        if (cur_ != end_) ++cur_;
        return c;
    }
    // Asked for at every byte of a string; the place of an error is taken
    // from the input itself (SavedSax::Fail), so this one is never used.
    std::size_t Tell() const { return 0; }
    // Only for reading in place, which this stream is not used for.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

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
    mutable const char* base_ = nullptr;
    mutable const char* cur_ = nullptr;
    mutable const char* end_ = nullptr;
};

// The reader's events handed on to a SavedSax. Numbers arrive as their text,
// so that every one is checked the same way, however large.
class Events {
  public:
    using Ch = char;
    Events(SavedSax& sax, const ByteStream& stream) : sax_(sax), stream_(stream) {}
    bool Null() { return At().null(); }
    bool Bool(bool b) { return At().boolean(b); }
    bool RawNumber(const Ch* s, rapidjson::SizeType n, bool) { return At().number({s, n}); }
    bool String(const Ch* s, rapidjson::SizeType n, bool) { return At().string({s, n}); }
    bool Key(const Ch* s, rapidjson::SizeType n, bool) { return At().key({s, n}); }
    bool StartObject() { return At().start_object(); }
    bool EndObject(rapidjson::SizeType) { return At().end_object(); }
    bool StartArray() { return At().start_array(); }
    bool EndArray(rapidjson::SizeType) { return At().end_array(); }
    // Numbers come as text (above); these are never called.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(std::int64_t) { return false; }
    bool Uint64(std::uint64_t) { return false; }
    bool Double(double) { return false; }

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
    // Iterative: any depth of nesting is read without deep recursion. One
    // reader for all values, so its stack is not made again for every line.
    constexpr unsigned Flags = rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag |
                               rapidjson::kParseNumbersAsStringsFlag;
    rapidjson::Reader reader;
    do {
        ByteStream stream(input);
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
