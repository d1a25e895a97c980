#include "runtime/outfile.h"

#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <chrono>
#include <random>
#include <utility>

namespace runtime {

namespace {

struct OutputFileState {
    outfile::TempFile Temp;
    bool Open = false;      // made, and neither in place nor removed yet
    bool Completed = false; // the run said its output is whole
};

OutputFileState& State() {
    static OutputFileState state;
    return state;
}

// Standard output lets go of the file: it is closed or removed now.
void Detach() {
    TextOut& out = StdOut();
    if (out.Handle() == State().Temp.Handle) out.Assign(NoFile, 0);
}

void Discard() {
    OutputFileState& s = State();
    s.Open = false;
    Detach();
    outfile::Remove(s.Temp);
}

} // namespace

std::string outfile::UniquePart() {
    static constexpr char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    static std::mt19937_64 generator = [] {
        std::uint64_t seed =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        try {
            std::random_device device;
            seed ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
        } catch (...) {
            // No source of randomness: the clock alone, and the exclusive
            // create still keeps two runs apart.
        }
        return std::mt19937_64(seed);
    }();
    std::string part(8, '0');
    for (char& c : part)
        c = Digits[generator() % (sizeof Digits - 1)];
    return part;
}

FileHandle OpenOutputFile(const std::string& name) {
    OutputFileState& s = State();
    std::string what;
    if (int code = outfile::CreateBeside(name, s.Temp, what); code != 0)
        RaiseIoError(code, std::move(what));
    s.Open = true;
    s.Completed = false;
    AddExitProc(FinishOutputFile);
    return s.Temp.Handle;
}

void OutputComplete() {
    State().Completed = true;
}

void FinishOutputFile() {
    OutputFileState& s = State();
    if (!s.Open) return;
    TextOut& out = StdOut();
    if (!s.Completed || out.WriteFailed() || out.Handle() != s.Temp.Handle) {
        Discard();
        return;
    }
    try {
        out.FinishSink(); // a compressed file's trailer too
    } catch (...) {
        Discard();
        throw;
    }
    Detach();
    s.Open = false;
    std::string what;
    if (int code = outfile::PutInPlace(s.Temp, what); code != 0)
        RaiseIoError(code, std::move(what));
}

} // namespace runtime
