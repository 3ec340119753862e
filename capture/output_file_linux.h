// Writing a file on Linux so that nothing is ever damaged or lost.
//
// - A regular file, or a name that does not exist yet, is replaced in one step: the bytes go
//   to a temporary file in the same folder (an unnamed one, O_TMPFILE, where the file system
//   has it), which is flushed to the disk and then takes the old file's place. Until then
//   the old file is untouched, and an interruption at any moment leaves no temporary file.
//   The new file keeps the old one's owner, group and mode.
// - A symbolic link is followed: the file it points to is replaced, and the link stays.
// - A regular file with other hard links, one whose owner cannot be kept, or one in a folder
//   the user may not write to, is rewritten in place, so that every name sees the new bytes:
//   they are first made completely in a temporary file, and only then copied into the file.
// - Anything else that exists (a character device, a FIFO, a socket, a terminal, a
//   descriptor such as /dev/stdout or /dev/fd/N) is opened and written in place, never
//   replaced.
// - A file the user may not write, a read-only file (also for root), a folder and a name
//   in a missing folder are refused before anything is written.
#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// What went wrong, for the program's file errors: code 9 (the file could not be opened,
// created or put in place) or 7 (it could not be written), the step that failed and the
// system's reason.
struct file_failure {
    int code = 0;
    int error = 0;       // errno
    std::string what;    // "out.csv: No space left on device", "nodir/x.dso: the folder nodir does not exist"
};

enum class output_kind {
    replace,   // a new file, or a regular file replaced through a temporary file
    rewrite,   // a regular file written in place once its new bytes are complete
    in_place,  // a file that is not a regular file, or a descriptor: written as the bytes come
};

struct output_plan {
    std::string name;    // as given, for messages; "-" is standard output
    output_kind kind = output_kind::replace;
    std::string path;    // the file to write, links followed
    std::string folder;  // its folder
    std::string where;   // a new file: its folder's real path and its name, the same for every spelling
    int descriptor = -1; // standard output, /dev/stdout, /dev/fd/N: the descriptor to write
    bool exists = false;
    struct stat old {};  // the file as it was, when it exists (for a descriptor: fstat of it)
    bool terminal = false;  // the output is a terminal
    bool regular = false;   // what is written is a regular file (replaced, rewritten, or behind a descriptor)
};

// Checks that name can be written and how, without creating or changing anything. false
// with the failure when it cannot be: a missing folder, a folder given as the name, a file
// the user may not write, a link that leads nowhere it can follow.
bool plan_output(const std::string& name, output_plan& plan, file_failure& failure);

// Whether the planned output is the existing file st describes (the same device and inode).
bool is_same_file(const output_plan& plan, const struct stat& st);
// Whether two planned outputs are the one file (or the one descriptor).
bool is_same_output(const output_plan& a, const output_plan& b);

struct output_file {
    output_plan plan;
    int fd = -1;            // where the bytes go: the temporary file or the target itself
    int target_fd = -1;     // a staged in-place output: the target, opened at the commit
    bool staged = false;    // the bytes go to a temporary file that is copied at the commit
    bool unnamed = false;   // the temporary file has no name (O_TMPFILE)
    std::string temp_path;  // a named temporary file, removed on failure and on signals
    std::FILE* stream = nullptr;
    std::vector<char> buffer;  // the stream's
    file_failure failure;   // the first failure while writing
};

// Opens the planned output for writing. seekable: the writer goes back within what it wrote
// (a zip archive), so an output in place is staged in a temporary file first.
bool open_output(const output_plan& plan, output_file& out, bool seekable, file_failure& failure);

// Writes bytes; false once a write failed (out.failure says why).
bool write_output_bytes(output_file& out, const void* data, std::size_t size);

// A buffered stream on the output (fully buffered, 64 KB); its writes record their failure
// in out.failure. Close it with close_output_stream before the commit.
std::FILE* output_stream(output_file& out);
bool close_output_stream(output_file& out);

// Completes the file: flushed to the disk and put in place (or copied into the target).
// false with the failure; the old file is then as it was and no temporary file is left.
bool commit_output(output_file& out, file_failure& failure);

// Drops what was written; the old file stays as it was.
void abandon_output(output_file& out);

// Temporary files with names, as on a file system without unnamed ones (for tests).
void use_named_temporaries(bool named);

// Removes every named temporary file at once; for a signal handler that ends the program
// (async-signal-safe). Unnamed temporary files vanish with the program by themselves.
void remove_temp_files_now();
