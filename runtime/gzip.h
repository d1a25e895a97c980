// Gzip through zlib: input read whole whatever its form (plain bytes, or
// gzip members, told by their first two bytes), and a sink that compresses
// what a TextOut writes into its file.
#pragma once

#include "runtime/sysio.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace runtime {

// Whether `name` asks for a compressed file (it ends in ".gz").
bool GzipName(std::string_view name);

// The bytes of a file, inflated when they are gzip. One member or several
// in a row (as `cat a.gz b.gz` makes), each checked against its length and
// CRC; anything after the last member is damage.
class InputBytes {
  public:
    explicit InputBytes(FileHandle file);
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;
    ~InputBytes();

    // Reads up to `size` bytes; `got` is 0 at the end. False on a read
    // error or damaged compressed data, `failure` then says what.
    bool Read(char* data, std::size_t size, std::size_t& got, std::string& failure);
    bool Compressed() const { return state_ == Form::Gzip; }

  private:
    enum class Form : unsigned char { Unknown, Plain, Gzip, Done };
    bool Fill(std::string& failure);
    bool Inflate(char* data, std::size_t size, std::size_t& got, std::string& failure);

    struct Stream;
    FileHandle file_;
    std::unique_ptr<Stream> stream_;
    std::unique_ptr<char[]> in_;
    std::size_t inPos_ = 0;
    std::size_t inLen_ = 0;
    bool inEnd_ = false;
    Form state_ = Form::Unknown;
};

// What a TextOut hands its buffer to in place of the file: it may change
// the bytes on their way (compress them). Each returns 0 or an I/O code.
class ByteSink {
  public:
    ByteSink() = default;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;
    virtual ~ByteSink() = default;
    virtual int Write(FileHandle h, const char* data, std::size_t size) = 0;
    // After the last write: what the form needs at its end.
    virtual int Finish(FileHandle h) = 0;
};

// Gzip of what is written (one member, zlib's default level).
std::unique_ptr<ByteSink> NewGzipSink();

// Standard output is compressed from here on (--output=FILE.gz); the exit
// path ends the stream before the file takes its place.
void CompressStdOut();

} // namespace runtime
