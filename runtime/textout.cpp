#include "runtime/textout.h"

#include "runtime/gzip.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <charconv>

namespace runtime {

void TextOut::Assign(FileHandle h, std::size_t bufferSize) {
    handle_ = h;
    sink_ = nullptr;
    name_.clear();
    limit_ = bufferSize;
    written_ = 0;
    failed_ = false;
    buffer_.clear();
    buffer_.reserve(bufferSize);
}

void TextOut::Create(const std::string& name, std::size_t bufferSize) {
    FileHandle h = NoFile;
    if (int code = CreateFileForWrite(name, h); code != 0)
        RaiseIoError(code, "cannot create '" + name + "'");
    Assign(h, bufferSize);
    name_ = name;
}

std::string TextOut::Failed(std::string_view doing, int code) const {
    if (!name_.empty()) return "cannot " + std::string(doing) + " '" + name_ + "'";
    // A standard output that was never open is named as such; any other
    // failed write is a write error, as the platform's tools call it.
    return IsBadHandleError(code) ? "standard output" : "write error";
}

void TextOut::Close() {
    if (handle_ == NoFile) return;
    FileHandle h = handle_;
    int code = 0;
    try {
        Flush();
    } catch (const RunError&) {
        handle_ = NoFile;
        CloseFile(h);
        throw;
    }
    handle_ = NoFile;
    code = CloseFile(h);
    if (code != 0) RaiseIoError(code, Failed("close", code));
}

void TextOut::NoteName(std::string_view text, std::string_view native) {
    if (nativeTranslator_ == nullptr) return; // nothing to keep for a device without one
    noteText_.assign(text);
    noteNative_.assign(native);
}

bool TextOut::KeepsAll(std::string_view bytes) {
    if (!keptKnown_) {
        // Asked of the translator once, byte by byte. A line end is the
        // device's to translate, as a pair or alone.
        std::string probe;
        for (int b = 0; b < 256; ++b) {
            char c = static_cast<char>(b);
            probe.clear();
            translator_(probe, std::string_view(&c, 1), false);
            kept_[static_cast<std::size_t>(b)] =
                c != '\r' && c != '\n' && probe.size() == 1 && probe[0] == c;
        }
        keptKnown_ = true;
    }
    return std::all_of(bytes.begin(), bytes.end(),
                       [this](char c) { return kept_[static_cast<unsigned char>(c)]; });
}

void TextOut::Put(std::string_view bytes, bool name) {
    if (name && nativeTranslator_ != nullptr && !bytes.empty() && !noteNative_.empty() &&
        std::string_view(noteText_).starts_with(bytes))
        nativeTranslator_(buffer_, noteNative_, bytes.size());
    else if (translator_ != nullptr && (name || !KeepsAll(bytes)))
        translator_(buffer_, bytes, name);
    else
        buffer_.append(bytes); // no translation, or program text it keeps byte for byte
    if (buffer_.size() >= limit_) Flush();
}

void TextOut::Write(std::string_view bytes) {
    Put(bytes, false);
}

void TextOut::WriteRaw(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= limit_) Flush();
}

void TextOut::WriteName(std::string_view bytes) {
    Put(bytes, true);
}

void TextOut::WriteInt(long long value) {
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    Put(std::string_view(digits, static_cast<std::size_t>(res.ptr - digits)), false);
}

void TextOut::WriteFill(char c, std::size_t count) {
    // A byte the translation keeps as it is (the blanks and dashes that pad
    // every line) is appended as it stands, without translating each copy.
    if (translator_ == nullptr || KeepsAll(std::string_view(&c, 1))) {
        while (count > 0) {
            std::size_t n = std::min<std::size_t>(count, 256);
            buffer_.append(n, c);
            count -= n;
            if (buffer_.size() >= limit_) Flush();
        }
        return;
    }
    // Long runs go out in buffer-sized pieces, never as one string of their own.
    // Only as much of the chunk is filled as is written: most runs are short.
    char chunk[256];
    std::fill(chunk, chunk + std::min(count, sizeof chunk), c);
    while (count > 0) {
        std::size_t n = std::min(count, sizeof chunk);
        Put(std::string_view(chunk, n), false);
        count -= n;
    }
}

void TextOut::WriteLn() {
    if (lineEnd_.empty()) Translate(lineEnd_, "\r\n");
    buffer_.append(lineEnd_);
    if (lineFlush_ || buffer_.size() >= limit_) Flush();
}

void TextOut::Flush() {
    if (buffer_.empty()) return;
    if (handle_ == NoFile) {
        buffer_.clear();
        failed_ = true;
        RaiseIoError(IoFileNotOpen, Failed("write", IoFileNotOpen));
    }
    int code = sink_ != nullptr     ? sink_->Write(handle_, buffer_.data(), buffer_.size())
               : writer_ != nullptr ? writer_(handle_, buffer_.data(), buffer_.size())
                                    : WriteFile(handle_, buffer_.data(), buffer_.size());
    // What could not be written is dropped, so the exit path does not fail on it again.
    if (code == 0) written_ += buffer_.size();
    buffer_.clear();
    if (code != 0) {
        failed_ = true;
        RaiseIoError(code, Failed("write", code));
    }
}

void TextOut::FinishSink() {
    Flush();
    if (sink_ == nullptr) return;
    ByteSink* sink = sink_;
    sink_ = nullptr;
    if (int code = sink->Finish(handle_); code != 0) {
        failed_ = true;
        RaiseIoError(code, Failed("write", code));
    }
}

TextOut& StdOut() {
    static TextOut out;
    return out;
}

} // namespace runtime
