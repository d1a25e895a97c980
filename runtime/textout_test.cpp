#include "runtime/textout.h"

#include "runtime/rtl.h"

#include <gtest/gtest.h>
#include <string>

namespace runtime {
namespace {

std::string Sink;
int Calls = 0;
int FailWith = 0;

int Record(FileHandle, const char* data, std::size_t size) {
    ++Calls;
    if (FailWith != 0) return FailWith;
    Sink.append(data, size);
    return 0;
}

void Reset() {
    Sink.clear();
    Calls = 0;
    FailWith = 0;
}

TEST(TextOut, BuffersUntilFullOrFlushed) {
    Reset();
    TextOut out;
    out.Assign(1, 8);
    out.SetWriter(Record);
    out.Write("abc");
    out.WriteInt(-42);
    EXPECT_EQ(Calls, 0);
    out.Write("xy"); // reaches the buffer size
    EXPECT_EQ(Sink, "abc-42xy");
    out.WriteFill('-', 1000); // long runs go out in pieces
    out.WriteLn();
    out.Flush();
    EXPECT_EQ(Sink, "abc-42xy" + std::string(1000, '-') + "\r\n");
    EXPECT_EQ(out.Written(), Sink.size()); // what reached the device, not the buffer
    out.Write("z");
    EXPECT_EQ(out.Written(), Sink.size());
}

TEST(TextOut, LineFlushAndTranslation) {
    Reset();
    TextOut out;
    out.Assign(1, 4096);
    out.SetWriter(Record);
    out.SetLineFlush(true);
    out.SetTranslator([](std::string& buf, std::string_view bytes, bool name) {
        buf += name ? "<" + std::string(bytes) + ">" : std::string(bytes);
    });
    out.Write("a");
    out.WriteName("b");
    out.WriteRaw("!");
    EXPECT_EQ(Calls, 0);
    out.WriteLn();
    EXPECT_EQ(Sink, "a<b>!\r\n");
    // A fill goes through the translation like any text: a byte it keeps and
    // one it changes.
    out.SetTranslator([](std::string& buf, std::string_view bytes, bool) {
        for (char c : bytes)
            buf += c == '=' ? std::string("==") : std::string(1, c);
    });
    out.WriteFill('-', 300);
    out.WriteFill('=', 300);
    out.Write("x=y");
    out.Write("xy");
    out.Flush();
    EXPECT_EQ(Sink, "a<b>!\r\n" + std::string(300, '-') + std::string(600, '=') + "x==yxy");
    // A new translator's line end and kept bytes are its own.
    out.SetTranslator([](std::string& buf, std::string_view bytes, bool) {
        for (char c : bytes)
            if (c != '\r') buf += c == 'x' ? 'X' : c;
    });
    out.Write("x=y");
    out.WriteLn();
    EXPECT_EQ(Sink.substr(Sink.size() - 4), "X=y\n");
}

TEST(TextOut, FailedWriteRaisesOnceAndDropsTheBuffer) {
    Reset();
    TextOut out;
    out.Assign(1, 4096);
    out.SetWriter(Record);
    out.Write("lost");
    FailWith = IoDiskFull;
    try {
        out.Flush();
        FAIL() << "no error";
    } catch (const RunError& err) {
        EXPECT_EQ(err.Class, ErrorClass::InOutError);
        EXPECT_EQ(err.Code, IoDiskFull);
    }
    EXPECT_EQ(out.Written(), 0U);
    EXPECT_NO_THROW(out.Flush()); // nothing left to fail on at exit
}

TEST(TextOut, CreateFailureIsAnIoError) {
    TextOut out;
    try {
        out.Create("no-such-dir-kelpo32/x/logfile.txt", 64);
        FAIL() << "created";
    } catch (const RunError& err) {
        EXPECT_EQ(err.Class, ErrorClass::InOutError);
        EXPECT_EQ(err.Code, IoFileNotFound);
    }
}

} // namespace
} // namespace runtime
