// A saved scan as the JSON reader sees it: the bytes of a file or of standard
// input (inflated when they are gzip), read in blocks. Inside a string every
// byte stands for itself, valid UTF-8 or not (an ncdu export holds a name's
// bytes raw), and the escape \udcXX (XX from 80 to FF) that the exports write
// for a byte that is not part of valid UTF-8 reaches the reader as that byte,
// unless it is the second half of a surrogate pair: then it is part of a
// character. Any other lone surrogate stands for nothing a name can hold and
// is refused. It counts lines and bytes for messages and bounds the length of
// a token outside strings (a number, a literal); a string may be of any
// length: each reader takes what it needs of it (sax.h).
#pragma once

#include "runtime/gzip.h"
#include "runtime/sysio.h"

#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::saved {

class JsonInput final : public std::streambuf {
  public:
    static constexpr std::size_t MaxToken = 4096;

    explicit JsonInput(runtime::FileHandle file) : bytes_(file) {}

    // The line (from 1) and the byte offset (from 0) of the next byte the
    // reader takes.
    std::uint64_t Line() const;
    std::uint64_t Offset() const;
    // What went wrong with the input itself (a read error, a token too
    // long); empty when nothing did. The reader then meets an early end.
    const std::string& Failure() const { return failure_; }
    // Skips white space; false at the end of the input.
    bool SkipSpace();
    // The bytes the reader may take next, fetching a block when none are
    // left; empty at the end of the input. Took(n): it took n of them.
    std::string_view Ahead();
    void Took(std::size_t n) { gbump(static_cast<int>(n)); }

  protected:
    int_type underflow() override;

  private:
    enum class State : std::uint8_t { Outside, String, Escape, Unicode };

    void Feed(unsigned char c);
    void Emit(char c) { out_.push_back(c); }
    // Emits what stands in the block for the bytes fed since the last emit.
    void EmitChanged(std::string_view text);
    void Fail(std::string text);

    runtime::InputBytes bytes_; // inflated when the file is gzip
    std::vector<char> in_ = std::vector<char>(std::size_t{1} << 16);
    std::size_t inPos_ = 0;
    std::size_t inLen_ = 0;
    bool inputDone_ = false;
    std::string out_;
    // Where the block handed to the reader starts in the input, and after each
    // change in it, the position in the block and in the input.
    std::uint64_t blockOffset_ = 0;
    std::uint64_t blockLine_ = 1;
    std::vector<std::pair<std::size_t, std::uint64_t>> marks_;
    std::uint64_t consumed_ = 0; // input bytes fed so far

    State state_ = State::Outside;
    std::string held_;       // an escape not yet complete
    bool afterHigh_ = false; // the last escape was a high surrogate
    std::size_t length_ = 0; // of the token being read
    std::string failure_;
};

} // namespace kelpo32::saved
