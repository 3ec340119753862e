// Writing a file so that a failure never destroys the file it was to replace: the bytes go
// to a new temporary file in the target's folder, which then takes the target's place in
// one step. On any failure the temporary file is removed and the old file stays as it was.
#pragma once
#include <cstddef>
#include <cstdio>

constexpr std::size_t REPLACEMENT_PATH_SIZE = 1100;  // a 511-character name plus the suffix

struct replacement_file {
    const char* target;
    char temp_path[REPLACEMENT_PATH_SIZE];
#ifdef _WIN32
    void* handle;  // HANDLE, or nullptr once closed or handed to a stream
#else
    int fd;  // -1 once closed or handed to a stream
#endif
};

// Creates the empty temporary file beside target; false when that is impossible.
bool begin_replacement(replacement_file& file, const char* target);

// Writes size bytes to the temporary file; false when fewer were written.
bool write_replacement(replacement_file& file, const void* data, std::size_t size);

// Hands the temporary file to a text-mode stream ("w"); the caller closes the stream.
// nullptr when no stream could be opened (the file is then still the caller's to abandon).
std::FILE* replacement_stream(replacement_file& file);

// Closes the temporary file if still open and moves it over the target in one step.
// false when the target could not be replaced; the temporary file is then removed.
bool commit_replacement(replacement_file& file);

// Closes and removes the temporary file; the target is untouched.
void abandon_replacement(replacement_file& file);

// A whole file written through a text-mode stream ("w") on the temporary file, buffered by
// buffer; write(stream) returns false when it could not write everything. Returns 0 once the
// file has taken the target's place, else the error code to report: 9 when the file could not
// be created or could not take the target's place, 7 when writing or closing failed. On a
// failure the temporary file is gone and the target is untouched.
template <typename Writer>
int replace_through_stream(const char* target, char* buffer, std::size_t size, Writer write) {
    replacement_file file;
    if (!begin_replacement(file, target)) return 9;
    std::FILE* out = replacement_stream(file);
    if (out == nullptr) {
        abandon_replacement(file);
        return 9;
    }
    std::setvbuf(out, buffer, _IOFBF, size);
    bool written = write(out);
    written = std::fflush(out) == 0 && written;
    written = std::fclose(out) == 0 && written;
    if (!written) {
        abandon_replacement(file);
        return 7;
    }
    return commit_replacement(file) ? 0 : 9;
}
