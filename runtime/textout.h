// Buffered text output to standard output and to files. Every write's result
// is checked; a failed write raises an EInOutError.
#pragma once

#include "runtime/sysio.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

class ByteSink;

class TextOut {
  public:
    // Appends bytes to the buffer in the form the device shows them. `name`
    // marks text that comes from the file system rather than from the program.
    using Translator = void (*)(std::string& buffer, std::string_view bytes, bool name);
    // Writes a buffer to the device; returns 0 or an I/O error code.
    using Writer = int (*)(FileHandle h, const char* data, std::size_t size);
    // Appends, in the device's form, the part of a name's native form (opaque
    // bytes) that the first `length` bytes of its text stand for.
    using NativeTranslator = void (*)(std::string& buffer, std::string_view native,
                                      std::size_t length);

    TextOut() = default;
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;
    ~TextOut() = default; // owners close their files; a destructor must not raise

    void Assign(FileHandle h, std::size_t bufferSize);
    void Create(const std::string& name, std::size_t bufferSize); // replaces a file
    void Close();
    bool IsOpen() const { return handle_ != NoFile; }
    FileHandle Handle() const { return handle_; }

    void SetTranslator(Translator t) {
        translator_ = t;
        keptKnown_ = false;
        lineEnd_.clear();
    }
    void SetWriter(Writer w) { writer_ = w; }
    // The buffer goes to `sink` (not owned) in place of the writer, until
    // FinishSink or the next Assign.
    void SetSink(ByteSink* sink) { sink_ = sink; }
    // Flushes, then lets the sink end its form (a compressed stream's
    // trailer) and lets go of it.
    void FinishSink();
    void SetNativeTranslator(NativeTranslator t) { nativeTranslator_ = t; }
    // The native form of a name that the next lines write (empty where it
    // equals the text). A device with a native translator shows a name written
    // with WriteName, or the start of it, from its native form.
    void NoteName(std::string_view text, std::string_view native);
    // Console-style output: the buffer goes out at every line end.
    void SetLineFlush(bool on) { lineFlush_ = on; }

    void Write(std::string_view bytes);
    void WriteName(std::string_view bytes);
    void Write(char c) { Write(std::string_view(&c, 1)); }
    // Device control text (colour sequences), and program text in the
    // device's form already (from Translate): passes no translator.
    void WriteRaw(std::string_view bytes);
    // Appends the device's form of program text to `into`: for text that
    // many lines repeat, translated once and written with WriteRaw.
    void Translate(std::string& into, std::string_view bytes) const {
        if (translator_ != nullptr)
            translator_(into, bytes, false);
        else
            into.append(bytes);
    }
    void WriteInt(long long value);
    void WriteFill(char c, std::size_t count);
    void WriteLn();
    void Flush();
    // The bytes handed to the device since Assign or Create.
    std::uint64_t Written() const { return written_; }
    // Whether some write failed since Assign or Create: what was written
    // then is not whole.
    bool WriteFailed() const { return failed_; }
    std::size_t BufferSize() const { return limit_; }

  private:
    void Put(std::string_view bytes, bool name);
    // Whether the translator gives each byte of program text back as it is.
    bool KeepsAll(std::string_view bytes);
    // What a failure names: "standard output" or the file's name.
    std::string Failed(std::string_view doing, int code) const;
    FileHandle handle_ = NoFile;
    std::string name_; // the file Create made; empty for a standard handle
    std::string buffer_;
    std::size_t limit_ = 0;
    Translator translator_ = nullptr;
    Writer writer_ = nullptr;
    NativeTranslator nativeTranslator_ = nullptr;
    ByteSink* sink_ = nullptr;
    // The bytes of program text the translator gives back as they are,
    // learnt at its first use.
    std::array<bool, 256> kept_{};
    bool keptKnown_ = false;
    // The device's form of a line end, translated at the first one.
    std::string lineEnd_;
    std::string noteText_;
    std::string noteNative_;
    bool lineFlush_ = false;
    bool failed_ = false;
    std::uint64_t written_ = 0;
};

// Standard output, buffered; the console layer may set its translator and writer.
TextOut& StdOut();

} // namespace runtime
