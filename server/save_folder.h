// serve --save-dir: every capture written into a folder as a new file of its own,
// korvane-NNNNNN.dso, numbered on from the highest number already there. The files are made
// relative to the folder's descriptor and never through a link: a name that something else
// has put there since the start (a file, or a link planted to send the capture elsewhere)
// is left alone and skipped. A file appears whole or not at all.
#pragma once
#include <cstdint>
#include <string>

#include "capture/dso_structure.h"

class save_folder {
public:
    save_folder() = default;
    ~save_folder();
    save_folder(const save_folder&) = delete;
    save_folder& operator=(const save_folder&) = delete;

    // false with the message: the folder cannot be opened, or its numbers have run out.
    bool open(const std::string& path, std::string& message);
    bool is_open() const { return fd_ >= 0; }

    // Writes the record as the next file; its path, or empty with the message (and errno's
    // code of the error table: 7 a write, 9 a file that cannot be made). Names skipped are
    // said in skipped ("korvane-000007.dso is there already ...; it is left alone").
    std::string save(const dso_record& record, int& code, std::string& message, std::string& skipped);

    uint64_t next_number() const { return next_; }

private:
    int fd_ = -1;
    std::string path_;
    uint64_t next_ = 1;
};

// The most a name's number may be; past it the folder's numbers have run out.
constexpr uint64_t LAST_SAVE_NUMBER = 999999999999999999ULL;
