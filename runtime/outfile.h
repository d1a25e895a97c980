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
    // The temporary file's path; empty while it has no name (POSIX: made
    // unnamed, named only when it is put in place).
    std::string Name;
    std::string Destination; // the path as given, for messages
    // POSIX: the name it takes in Directory (a link's target's where the
    // path was a link), and that directory as messages show it ("" or
    // ending with "/").
    std::string DestName;
    std::string Place;
    bool Unnamed = false;
    // The destination is a device, FIFO or socket (Windows: a device name),
    // opened itself and written into: no temporary file, nothing renamed or
    // removed.
    bool Direct = false;
};

// Makes a new file beside `name`, of no other file's name ("NAME.XXXXXXXX.tmp",
// or ".XXXXXXXX.tmp" where that would be too long; never following a link of
// that name), or on Linux unnamed, with the owner, group and permissions of
// the file `name` when it is one, as far as the program may give them. When
// `name` is a symbolic link, the file it names is the one beside which it is
// made; when it is a device, FIFO or socket, it is opened for writing
// instead (Direct). 0 or an I/O error code; `what` then names what failed.
int CreateBeside(const std::string& name, TempFile& temp, std::string& what);
// Writes the file through to the disk, closes it and renames it to its
// destination, replacing it (Direct: closes it). 0 or an I/O error code;
// `what` then names what failed, and the temporary file is gone.
int PutInPlace(TempFile& temp, std::string& what);
// Closes (where still open) and removes the temporary file.
void Remove(TempFile& temp) noexcept;

// The part of a temporary file's name that tells it from others: eight
// letters and digits, new at each call.
std::string UniquePart();
// How many names CreateBeside tries before it gives up.
inline constexpr int NameAttempts = 100;
// POSIX: whether the file may be made unnamed (tests make it named, as on
// a file system that refuses unnamed files).
void AllowUnnamed(bool allowed);

} // namespace outfile

} // namespace runtime
