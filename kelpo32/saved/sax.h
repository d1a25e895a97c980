// What the readers of saved scans share: the JSON reader's event interface
// turned into a few calls, numbers checked, and the first error kept with
// the place in the input where it was met.
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

class SavedSax {
  public:
    explicit SavedSax(JsonInput& input) : input_(input) {}
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

    // The JSON reader's events, numbers as their text.
    bool null() { return Passed() || Scalar(Value{Value::Null}); }
    bool boolean(bool v) { return Passed() || Scalar(Value{Value::Bool, v}); }
    bool number(std::string_view text);
    bool string(std::string_view text);
    bool start_object() { return Enter() || StartObject(); }
    bool end_object() { return Leave() || EndObject(); }
    bool start_array() { return Enter() || StartArray(); }
    bool end_array() { return Leave() || EndArray(); }
    bool key(std::string_view k) { return skip_ > 0 || Key(k); }
    // What the reader found wrong with the JSON itself.
    bool parse_error(std::string_view reason);

  protected:
    struct Value {
        enum Kind : std::uint8_t { Null, Bool, Unsigned, Negative, String } Type;
        bool Flag = false;
        std::uint64_t Number = 0;
        std::string* Text = nullptr;
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
    bool Enter();
    bool Leave();

    std::string text_; // the string being handed on
    std::int64_t skip_ = 0;
    bool skipNext_ = false;
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
// they or the input failed (sax.What() then says why).
bool ReadJsonValues(JsonInput& input, SavedSax& sax, bool many);

bool ReadJsonLines(JsonInput& input, SavedScan& scan, std::string& what, std::uint64_t& line,
                   std::uint64_t& offset);
bool ReadNcdu(JsonInput& input, bool diskUsage, bool countLinks, SavedScan& scan, std::string& what,
              std::uint64_t& line, std::uint64_t& offset);

} // namespace kelpo32::saved
