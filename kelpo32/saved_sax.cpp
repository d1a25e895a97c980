#include "kelpo32/saved_sax.h"

namespace kelpo32 {

bool SavedSax::Fail(const std::string& what) {
    if (what_.empty()) {
        // A failure of the input itself says more than what the reader made of it.
        what_ = input_.Failure().empty() ? what : input_.Failure();
        line_ = input_.Line();
        offset_ = input_.Offset();
    }
    return false;
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

bool SavedSax::number_integer(json::number_integer_t v) {
    if (Passed()) return true;
    // Only negative numbers come here; the others are unsigned.
    if (v >= 0) return Scalar(Value{Value::Unsigned, false, static_cast<std::uint64_t>(v)});
    return Scalar(Value{Value::Negative, false, 0});
}

bool SavedSax::number_float(json::number_float_t, const std::string& text) {
    if (Passed()) return true;
    if (text.find_first_of(".eE") != std::string::npos) return Fail("not a whole number");
    return Fail("number out of range");
}

bool SavedSax::string(std::string& v) {
    if (Passed()) return true;
    RestoreBytes(v);
    return Scalar(Value{Value::String, false, 0, &v});
}

bool SavedSax::parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    // "[json.exception.parse_error.101] parse error at line 1, column 2: syntax
    // error while parsing value - invalid literal; last read: '...'": the
    // reason alone (the place is ours, the bytes read may be anything).
    std::string text = ex.what();
    if (auto at = text.find("; last read"); at != std::string::npos) text.resize(at);
    if (auto at = text.find(": ", text.find("column")); at != std::string::npos)
        text.erase(0, at + 2);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    return Fail("not JSON: " + text);
}

bool SavedSax::Count(const Value& v, std::uint64_t max, std::uint64_t& out) {
    if (v.Type == Value::Negative) return Fail("negative number");
    if (v.Type != Value::Unsigned) return Fail("not a number where a number belongs");
    if (v.Number > max) return Fail("number out of range");
    out = v.Number;
    return true;
}

} // namespace kelpo32
