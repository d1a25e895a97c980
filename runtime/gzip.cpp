#include "runtime/gzip.h"

#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace runtime {

namespace {

constexpr std::size_t Block = std::size_t{1} << 16;
constexpr int GzipWindow = 15 + 16; // the largest window, with gzip's header and trailer

bool GzipMagic(const char* p) {
    return static_cast<unsigned char>(p[0]) == 0x1F && static_cast<unsigned char>(p[1]) == 0x8B;
}

uInt Chunk(std::size_t size) {
    return static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
}

} // namespace

bool GzipName(std::string_view name) {
    return name.size() > 3 && name.substr(name.size() - 3) == ".gz";
}

struct InputBytes::Stream {
    z_stream Z{};
    bool Open = false;
    ~Stream() {
        if (Open) inflateEnd(&Z);
    }
};

InputBytes::InputBytes(FileHandle file) : file_(file), in_(new char[Block]) {}

InputBytes::~InputBytes() = default;

bool InputBytes::Fill(std::string& failure) {
    if (inPos_ < inLen_ || inEnd_) return true;
    std::size_t got = 0;
    if (ReadFile(file_, in_.get(), Block, got) != 0) {
        failure = "cannot be read";
        return false;
    }
    inPos_ = 0;
    inLen_ = got;
    inEnd_ = got == 0;
    return true;
}

bool InputBytes::Read(char* data, std::size_t size, std::size_t& got, std::string& failure) {
    got = 0;
    if (state_ == Form::Unknown) {
        // Two bytes tell the form; a file of one byte is plain.
        if (!Fill(failure)) return false;
        if (inLen_ - inPos_ < 2 && !inEnd_) {
            std::size_t more = 0;
            if (ReadFile(file_, in_.get() + inLen_, Block - inLen_, more) != 0) {
                failure = "cannot be read";
                return false;
            }
            inLen_ += more;
        }
        state_ = inLen_ - inPos_ >= 2 && GzipMagic(in_.get() + inPos_) ? Form::Gzip : Form::Plain;
    }
    if (state_ == Form::Gzip) return Inflate(data, size, got, failure);
    if (state_ == Form::Done) return true;
    if (!Fill(failure)) return false;
    got = std::min(size, inLen_ - inPos_);
    std::memcpy(data, in_.get() + inPos_, got);
    inPos_ += got;
    return true;
}

bool InputBytes::Inflate(char* data, std::size_t size, std::size_t& got, std::string& failure) {
    if (stream_ == nullptr) {
        stream_ = std::make_unique<Stream>();
        if (inflateInit2(&stream_->Z, GzipWindow) != Z_OK) RaiseIoError(IoNotEnoughMemory);
        stream_->Open = true;
    }
    z_stream& z = stream_->Z;
    z.next_out = reinterpret_cast<Bytef*>(data);
    z.avail_out = Chunk(size);
    while (z.avail_out == Chunk(size)) {
        if (!Fill(failure)) return false;
        if (inPos_ == inLen_) {
            // The input ended inside a member.
            failure = "truncated: the compressed data ends too soon";
            return false;
        }
        z.next_in = reinterpret_cast<Bytef*>(in_.get() + inPos_);
        z.avail_in = Chunk(inLen_ - inPos_);
        int rc = inflate(&z, Z_NO_FLUSH);
        inPos_ = inLen_ - z.avail_in;
        if (rc == Z_MEM_ERROR) RaiseIoError(IoNotEnoughMemory);
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
            failure = std::string("damaged compressed data (") +
                      (z.msg != nullptr ? z.msg : "not gzip") + ")";
            return false;
        }
        if (rc != Z_STREAM_END) continue;
        // A member ended: another may follow, nothing else may.
        if (!Fill(failure)) return false;
        if (inPos_ == inLen_ && inEnd_) {
            state_ = Form::Done;
            break;
        }
        if (inLen_ - inPos_ >= 1 && static_cast<unsigned char>(in_[inPos_]) != 0x1F) {
            failure = "damaged compressed data (bytes after its end)";
            return false;
        }
        inflateReset(&z);
    }
    got = Chunk(size) - z.avail_out;
    return true;
}

namespace {

class GzipSink final : public ByteSink {
  public:
    GzipSink() : out_(new char[Block]) {
        if (deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, GzipWindow, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK)
            RaiseIoError(IoNotEnoughMemory);
    }
    ~GzipSink() override { deflateEnd(&z_); }

    int Write(FileHandle h, const char* data, std::size_t size) override {
        while (size > 0) {
            uInt n = Chunk(size);
            if (int code = Deflate(h, data, n, Z_NO_FLUSH); code != 0) return code;
            data += n;
            size -= n;
        }
        return 0;
    }
    int Finish(FileHandle h) override { return Deflate(h, nullptr, 0, Z_FINISH); }

  private:
    int Deflate(FileHandle h, const char* data, uInt size, int flush) {
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z_.avail_in = size;
        for (;;) {
            z_.next_out = reinterpret_cast<Bytef*>(out_.get());
            z_.avail_out = static_cast<uInt>(Block);
            int rc = deflate(&z_, flush);
            if (rc == Z_STREAM_ERROR) return IoNotOpenForOutput;
            std::size_t have = Block - z_.avail_out;
            if (have > 0)
                if (int code = WriteFile(h, out_.get(), have); code != 0) return code;
            if (flush == Z_FINISH ? rc == Z_STREAM_END : z_.avail_in == 0 && z_.avail_out != 0)
                return 0;
        }
    }

    z_stream z_{};
    std::unique_ptr<char[]> out_;
};

} // namespace

std::unique_ptr<ByteSink> NewGzipSink() {
    return std::make_unique<GzipSink>();
}

void CompressStdOut() {
    static std::unique_ptr<ByteSink> sink;
    sink = NewGzipSink();
    StdOut().SetSink(sink.get());
}

} // namespace runtime
