#include "CmdLin/cmdsplit.h"

#include <cstdint>
#include <type_traits>

namespace CmdLin {

namespace {

// The rules over a line of code units: bytes of the ANSI code page, where a
// double-byte character is one step, or UTF-16, where a surrogate pair is.
template <typename Char, typename Stepper> class Splitter {
  public:
    using View = std::basic_string_view<Char>;
    using Text = std::basic_string<Char>;

    Splitter(View line, Stepper isPair) : line_(line), isPair_(isPair) {}

    // The code unit at pos as a number, or 0 past the end: the line ends at
    // its first NUL.
    std::uint32_t At(std::size_t pos) const {
        return pos < line_.size()
                   ? static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(line_[pos]))
                   : 0;
    }

    // One character forward.
    std::size_t Step(std::size_t pos) const {
        if (At(pos) == 0) return pos;
        if (isPair_(At(pos), At(pos + 1))) return pos + 2;
        return pos + 1;
    }

    Text Read(std::size_t& pos) const {
        for (;;) {
            std::uint32_t c = At(pos);
            if (c >= 1 && c <= 32) {
                pos = Step(pos);
            } else if (c == '"' && At(pos + 1) == '"') {
                pos += 2;
            } else {
                break;
            }
        }
        Text param;
        while (At(pos) > 32) {
            if (At(pos) == '"') {
                pos = Step(pos);
                while (At(pos) != 0 && At(pos) != '"')
                    Append(param, pos);
                if (At(pos) == '"') pos = Step(pos);
            } else {
                Append(param, pos);
            }
        }
        return param;
    }

    std::vector<Text> Split() const {
        std::vector<Text> params;
        std::size_t pos = 0;
        params.push_back(Read(pos));
        for (;;) {
            Text p = Read(pos);
            if (p.empty()) break;
            params.push_back(std::move(p));
        }
        return params;
    }

  private:
    void Append(Text& param, std::size_t& pos) const {
        std::size_t next = Step(pos);
        param.append(line_.substr(pos, next - pos));
        pos = next;
    }

    View line_;
    Stepper isPair_;
};

// A lead byte of the ANSI code page followed by any byte but the end.
struct BytePair {
    LeadBytePredicate IsLead;
    bool operator()(std::uint32_t c, std::uint32_t next) const {
        return IsLead != nullptr && IsLead(static_cast<unsigned char>(c)) && next != 0;
    }
};

// A high surrogate followed by a low one.
struct SurrogatePair {
    bool operator()(std::uint32_t c, std::uint32_t next) const {
        return c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF;
    }
};

} // namespace

std::string ReadParam(std::string_view line, std::size_t& pos, LeadBytePredicate isLead) {
    return Splitter<char, BytePair>(line, BytePair{isLead}).Read(pos);
}

std::vector<std::string> SplitCommandLine(std::string_view line, LeadBytePredicate isLead) {
    return Splitter<char, BytePair>(line, BytePair{isLead}).Split();
}

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
    return Splitter<char16_t, SurrogatePair>(line, SurrogatePair{}).Split();
}

} // namespace CmdLin
