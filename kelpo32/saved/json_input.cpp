#include "kelpo32/saved/json_input.h"

#include <array>
#include <cstring>
#include <string_view>
#include <utility>

namespace kelpo32::saved {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes between values: white space and the JSON structure.
constexpr std::array<bool, 256> StructuralBytes = [] {
    std::array<bool, 256> t{};
    for (char c : std::string_view(" \t\n\r,:[]{}"))
        t[static_cast<unsigned char>(c)] = true;
    return t;
}();

bool Structural(unsigned char c) {
    return StructuralBytes[c];
}

// A byte that stands for itself inside a string: any but the quote and the
// escape. What is not valid UTF-8 is the name's own bytes.
constexpr std::array<bool, 256> PlainStringBytes = [] {
    std::array<bool, 256> t{};
    for (unsigned c = 0; c < 256; ++c)
        t[c] = c != '"' && c != '\\';
    return t;
}();

bool PlainInString(unsigned char c) {
    return PlainStringBytes[c];
}

// Line ends are few beside the other bytes: found with memchr.
std::uint64_t CountLines(const char* p, const char* end) {
    std::uint64_t n = 0;
    while (p < end) {
        const void* at = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (at == nullptr) break;
        ++n;
        p = static_cast<const char*>(at) + 1;
    }
    return n;
}

} // namespace

void JsonInput::Fail(std::string text) {
    if (failure_.empty()) failure_ = std::move(text);
}

void JsonInput::EmitChanged(std::string_view text) {
    out_.append(text);
    // The byte that ends the change is being fed.
    marks_.emplace_back(out_.size(), consumed_ + 1);
}

void JsonInput::Feed(unsigned char c) {
    switch (state_) {
    case State::Outside:
        if (c == '"') {
            state_ = State::String;
            length_ = 0;
            afterHigh_ = false;
        } else if (Structural(c)) {
            length_ = 0;
        } else if (++length_ > MaxToken) {
            Fail("a value longer than 4096 bytes");
        }
        Emit(static_cast<char>(c));
        return;
    case State::Escape:
        held_ += static_cast<char>(c);
        if (c == 'u') {
            state_ = State::Unicode;
            return;
        }
        out_.append(held_);
        held_.clear();
        afterHigh_ = false;
        state_ = State::String;
        return;
    case State::Unicode: {
        held_ += static_cast<char>(c);
        if (held_.size() < 6) return;
        int v = 0;
        for (std::size_t i = 2; i < 6; ++i) {
            int h = HexValue(held_[i]);
            v = h < 0 || v < 0 ? -1 : v * 16 + h;
        }
        if (v >= 0xDC00 && v <= 0xDFFF && !afterHigh_) {
            // A lone low surrogate: the escape of a byte that is not UTF-8
            // (the byte itself), or nothing a name can hold.
            if (v >= 0xDC80 && v <= 0xDCFF) {
                const char byte = static_cast<char>(v & 0xFF);
                EmitChanged(std::string_view(&byte, 1));
            } else {
                EmitChanged({});
                Fail(held_ + ", a surrogate that is no character and no byte");
            }
            afterHigh_ = false;
        } else {
            out_.append(held_);
            afterHigh_ = v >= 0xD800 && v <= 0xDBFF;
        }
        held_.clear();
        state_ = State::String;
        return;
    }
    case State::String:
        break;
    }
    if (c == '"') state_ = State::Outside;
    if (c == '\\') {
        state_ = State::Escape;
        held_.assign(1, '\\');
        return;
    }
    afterHigh_ = false;
    Emit(static_cast<char>(c));
}

JsonInput::int_type JsonInput::underflow() {
    if (gptr() != nullptr && gptr() < egptr()) return traits_type::to_int_type(*gptr());
    blockLine_ += CountLines(out_.data(), out_.data() + out_.size());
    out_.clear();
    marks_.clear();
    blockOffset_ = consumed_ - held_.size();
    constexpr std::size_t Block = std::size_t{1} << 16;
    while (out_.size() < Block && failure_.empty()) {
        if (inPos_ == inLen_) {
            if (inputDone_) break;
            std::size_t got = 0;
            if (std::string why; !bytes_.Read(in_.data(), in_.size(), got, why)) {
                Fail(std::move(why));
                break;
            }
            inPos_ = 0;
            inLen_ = got;
            if (got == 0) {
                inputDone_ = true;
                // An escape cut off at the end reaches the reader as it was.
                out_.append(held_);
                held_.clear();
                break;
            }
        }
        // Bytes that stand for themselves go through as one run; only the
        // others (quotes and escapes, what is too long) are fed one at a time.
        const char* p = in_.data() + inPos_;
        const char* end = in_.data() + inLen_;
        const char* stop = end - p > static_cast<std::ptrdiff_t>(Block - out_.size())
                               ? p + (Block - out_.size())
                               : end;
        const char* first = p; // the first byte of this run
        const char* run = p;   // the first byte not yet in out_
        std::uint64_t at = consumed_;
        State state = state_;
        std::size_t length = length_;
        bool afterHigh = afterHigh_;
        // Hands what the run passed to the members, before a byte is fed
        // (Feed works on them) and at the end of the block.
        auto settle = [&] {
            out_.append(run, static_cast<std::size_t>(p - run));
            consumed_ = at + static_cast<std::uint64_t>(p - first);
            state_ = state;
            length_ = length;
            afterHigh_ = afterHigh;
        };
        while (p < stop) {
            if (state == State::Outside) {
                // Numbers, names of literals and the structure between them.
                for (; p < stop; ++p) {
                    auto c = static_cast<unsigned char>(*p);
                    if (c == '"' || (!Structural(c) && length == MaxToken)) break;
                    length = Structural(c) ? 0 : length + 1;
                }
                if (p == stop) break;
                if (*p == '"') {
                    state = State::String;
                    length = 0;
                    afterHigh = false;
                    ++p;
                    continue;
                }
            } else if (state == State::String) {
                const char* from = p;
                while (p < stop && PlainInString(static_cast<unsigned char>(*p)))
                    ++p;
                if (p > from) afterHigh = false;
                if (p == stop) break;
                if (*p == '"') {
                    state = State::Outside;
                    afterHigh = false;
                    ++p;
                    continue;
                }
            }
            settle();
            Feed(static_cast<unsigned char>(*p));
            state = state_;
            length = length_;
            afterHigh = afterHigh_;
            run = ++p;
            if (!failure_.empty()) break;
        }
        settle();
        inPos_ = static_cast<std::size_t>(p - in_.data());
    }
    if (out_.empty()) {
        setg(out_.data(), out_.data(), out_.data());
        return traits_type::eof();
    }
    setg(out_.data(), out_.data(), out_.data() + out_.size());
    return traits_type::to_int_type(*gptr());
}

std::uint64_t JsonInput::Offset() const {
    std::size_t at = gptr() == nullptr ? 0 : static_cast<std::size_t>(gptr() - eback());
    std::size_t markAt = 0;
    std::uint64_t offset = blockOffset_;
    for (const auto& [block, input] : marks_) {
        if (block > at) break;
        markAt = block;
        offset = input;
    }
    return offset + (at - markAt);
}

std::uint64_t JsonInput::Line() const {
    if (gptr() == nullptr) return blockLine_;
    return blockLine_ + CountLines(eback(), gptr());
}

bool JsonInput::SkipSpace() {
    for (;;) {
        int_type c = sgetc();
        if (traits_type::eq_int_type(c, traits_type::eof())) return false;
        char ch = traits_type::to_char_type(c);
        if (ch != ' ' && ch != '\t' && ch != '\n' && ch != '\r') return true;
        sbumpc();
    }
}

std::string_view JsonInput::Ahead() {
    if (gptr() == egptr()) underflow();
    return {gptr(), static_cast<std::size_t>(egptr() - gptr())};
}

} // namespace kelpo32::saved
