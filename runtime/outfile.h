// Output that lands whole: standard output goes to a temporary file of a
// name of its own beside FILE, which takes FILE's place only when the run
// completed. A reader of FILE (a collector, a nightly job) never sees half a
// file, and a run that fails or is stopped leaves the last good FILE as it
// was, with no temporary file behind. The platform's part (making the
// temporary file, putting it in place, removing it) lives in
// outfile_posix.cpp and outfile_win32.cpp.
#pragma once

#include "runtime/sysio.h"

#include <string>

namespace runtime {

// Makes the temporary file beside `name` and registers its end with the exit
// path: every end of the run either puts it in place or removes it. Returns
// its handle, for standard output to take. A `name` that is a directory, or
// a directory where no file can be made, is an uncaught error (nothing is
// made then).
FileHandle OpenOutputFile(const std::string& name);

// The run's output is whole: at the end of the run the file takes FILE's
// place, unless a write to it failed.
void OutputComplete();

// Where the run ends (an exit proc): flushes standard output into the file
// and puts it in place when the run completed and every write succeeded,
// else removes it. A failure to put it in place is an uncaught error.
void FinishOutputFile();

// Removes the temporary file at once: for a signal that ends the process.
// Safe inside a signal handler; does nothing when there is none.
void RemoveOutputFileNow() noexcept;

// The platform's part, for the functions above and the tests.
namespace outfile {

// A temporary file beside its destination.
struct TempFile {
    FileHandle Handle = NoFile;
    // The directory both lie in, held open where the platform can (POSIX):
    // the names below are taken in it, whatever the current directory.
    FileHandle Directory = NoFile;
    std::string Name;        // the temporary file's path
    std::string Destination; // the path it takes in the end
};

// Makes a new file of a name no other file has, in the directory of `name`
// ("NAME.XXXXXXXX.tmp", never following a link of that name), with the
// permissions of the file `name` when it is one. 0 or an I/O error code;
// `what` then names what failed.
int CreateBeside(const std::string& name, TempFile& temp, std::string& what);
// Writes the file through to the disk, closes it and renames it to its
// destination, replacing it. 0 or an I/O error code; `what` then names
// what failed, and the temporary file is gone.
int PutInPlace(TempFile& temp, std::string& what);
// Closes (where still open) and removes the temporary file.
void Remove(TempFile& temp) noexcept;

// The part of a temporary file's name that tells it from others: eight
// letters and digits, new at each call.
std::string UniquePart();
// How many names CreateBeside tries before it gives up.
inline constexpr int NameAttempts = 100;

} // namespace outfile

} // namespace runtime
