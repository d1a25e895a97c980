#include "kelpo32/json_input.h"

#include <algorithm>

namespace kelpo32 {

namespace {

constexpr char Hex[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Structural(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ':' || c == '[' ||
           c == ']' || c == '{' || c == '}';
}

// A byte that stands for itself inside a string: no quote, escape, control
// character or part of a sequence of several bytes.
bool PlainInString(unsigned char c) {
    return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
}

} // namespace

void JsonInput::Fail(std::string text) {
    if (failure_.empty()) failure_ = std::move(text);
}

void JsonInput::EmitExpanded(std::string_view text) {
    out_.append(text);
    // The byte that ends the expansion is being fed.
    marks_.emplace_back(out_.size(), consumed_ + 1);
}

void JsonInput::EmitBadByte(unsigned char c) {
    const char marker[12] = {'\\', 'u', 'd', 'b', 'f',         'f',
                             '\\', 'u', 'd', 'c', Hex[c >> 4], Hex[c & 15]};
    EmitExpanded(std::string_view(marker, sizeof marker));
}

// A sequence that broke off: each of its bytes stands for itself.
void JsonInput::FlushSequence() {
    for (char b : held_)
        EmitBadByte(static_cast<unsigned char>(b));
    held_.clear();
    need_ = 0;
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
            // A lone low surrogate: paired with a high one, it reads as U+10FCxx.
            EmitExpanded("\\udbff" + held_);
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
    if (++length_ > MaxString) Fail("a string longer than 4 MiB");
    if (need_ > 0) {
        if (c >= low_ && c <= high_) {
            held_ += static_cast<char>(c);
            low_ = 0x80;
            high_ = 0xBF;
            if (--need_ == 0) {
                out_.append(held_);
                held_.clear();
            }
            return;
        }
        FlushSequence();
    }
    if (c < 0x80) {
        if (c == '"') state_ = State::Outside;
        if (c == '\\') {
            state_ = State::Escape;
            held_.assign(1, '\\');
            return;
        }
        afterHigh_ = false;
        Emit(static_cast<char>(c));
        return;
    }
    afterHigh_ = false;
    // The lead byte of a UTF-8 sequence: how many bytes follow and the range
    // of the first of them (no overlong forms, no surrogates, up to U+10FFFF).
    low_ = 0x80;
    high_ = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need_ = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need_ = 2;
        if (c == 0xE0) low_ = 0xA0;
        if (c == 0xED) high_ = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        need_ = 3;
        if (c == 0xF0) low_ = 0x90;
        if (c == 0xF4) high_ = 0x8F;
    } else {
        EmitBadByte(c);
        return;
    }
    held_.assign(1, static_cast<char>(c));
}

JsonInput::int_type JsonInput::underflow() {
    if (gptr() != nullptr && gptr() < egptr()) return traits_type::to_int_type(*gptr());
    blockLine_ += static_cast<std::uint64_t>(std::count(out_.begin(), out_.end(), '\n'));
    out_.clear();
    marks_.clear();
    blockOffset_ = consumed_ - held_.size();
    constexpr std::size_t Block = std::size_t{1} << 16;
    while (out_.size() < Block && failure_.empty()) {
        if (inPos_ == inLen_) {
            if (inputDone_) break;
            std::size_t got = 0;
            if (runtime::ReadFile(file_, in_.data(), in_.size(), got) != 0) {
                Fail("cannot be read");
                break;
            }
            inPos_ = 0;
            inLen_ = got;
            if (got == 0) {
                inputDone_ = true;
                // What was cut off at the end reaches the reader as it was.
                if (state_ == State::String && need_ > 0) FlushSequence();
                out_.append(held_);
                held_.clear();
                break;
            }
        }
        // Plain bytes outside and inside strings go through in one run.
        const char* p = in_.data() + inPos_;
        const char* end = in_.data() + inLen_;
        while (p < end && out_.size() < Block && failure_.empty()) {
            // A run of plain bytes inside a string goes through at once.
            if (state_ == State::String && need_ == 0) {
                const char* run = p;
                const char* stop = end;
                if (static_cast<std::size_t>(stop - run) > MaxString - length_)
                    stop = run + (MaxString - length_);
                while (p < stop && PlainInString(static_cast<unsigned char>(*p)))
                    ++p;
                if (p > run) {
                    auto n = static_cast<std::size_t>(p - run);
                    out_.append(run, n);
                    length_ += n;
                    consumed_ += n;
                    afterHigh_ = false;
                    continue;
                }
            }
            // So does one outside strings: numbers, names of literals and
            // the structure between them.
            if (state_ == State::Outside) {
                const char* run = p;
                for (; p < end && *p != '"'; ++p) {
                    if (Structural(static_cast<unsigned char>(*p)))
                        length_ = 0;
                    else if (++length_ > MaxToken)
                        break;
                }
                if (p > run) {
                    auto n = static_cast<std::size_t>(p - run);
                    out_.append(run, n);
                    consumed_ += n;
                    if (p < end && *p != '"') {
                        Fail("a value longer than 4096 bytes");
                        out_.push_back(*p++);
                        ++consumed_;
                    }
                    continue;
                }
            }
            Feed(static_cast<unsigned char>(*p));
            ++p;
            ++consumed_;
        }
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
    return blockLine_ + static_cast<std::uint64_t>(std::count(eback(), gptr(), '\n'));
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

void RestoreBytes(std::string& text) {
    // U+10FC00 + XX is F4 8F B0-B3 80-BF in UTF-8.
    std::size_t at = text.find("\xF4\x8F");
    if (at == std::string::npos) return;
    std::size_t to = at;
    for (std::size_t from = at; from < text.size();) {
        auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[from + i]); };
        if (from + 3 < text.size() && b(0) == 0xF4 && b(1) == 0x8F && b(2) >= 0xB0 &&
            b(2) <= 0xB3) {
            text[to++] = static_cast<char>(((b(2) & 3) << 6) | (b(3) & 0x3F));
            from += 4;
        } else {
            text[to++] = text[from++];
        }
    }
    text.resize(to);
}

} // namespace kelpo32
