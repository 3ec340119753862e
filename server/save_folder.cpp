#include "server/save_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {

// The number of "korvane-<digits>.dso", or 0 for any other name (and for numbers too long to
// be one of ours).
uint64_t number_of(const char* name) {
    if (std::strncmp(name, "korvane-", 8) != 0) return 0;
    const char* digits = name + 8;
    size_t count = 0;
    uint64_t value = 0;
    while (digits[count] >= '0' && digits[count] <= '9') {
        if (++count > 18) return 0;
        value = value * 10 + static_cast<uint64_t>(digits[count - 1] - '0');
    }
    return count > 0 && std::strcmp(digits + count, ".dso") == 0 ? value : 0;
}

std::string file_name(uint64_t number) {
    char name[48];
    std::snprintf(name, sizeof name, "korvane-%06llu.dso", static_cast<unsigned long long>(number));
    return name;
}

bool write_all(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Gives the temporary file its name only if nothing has that name: never over a file, never
// through a link.
int rename_no_replace(int folder, const char* from, const char* to) {
    if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without the exclusive rename: a hard link fails where the name exists.
    if (linkat(folder, from, folder, to, 0) != 0) return -1;
    unlinkat(folder, from, 0);
    return 0;
}

}  // namespace

save_folder::~save_folder() {
    if (fd_ >= 0) ::close(fd_);
}

bool save_folder::open(const std::string& path, std::string& message) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 || faccessat(fd_, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        message = path + ": " + std::strerror(errno) + " (the save folder must be a folder the program may write to)";
        return false;
    }
    path_ = path;
    uint64_t highest = 0;
    const int listing = dup(fd_);
    if (DIR* d = listing >= 0 ? fdopendir(listing) : nullptr) {
        while (const dirent* e = readdir(d)) {
            const uint64_t n = number_of(e->d_name);
            if (n > highest) highest = n;
        }
        closedir(d);
    } else if (listing >= 0) {
        ::close(listing);
    }
    if (highest >= LAST_SAVE_NUMBER) {
        message = path + ": the save folder's numbers have run out (" + file_name(highest) +
                  " is there): choose another folder, or move its captures away";
        return false;
    }
    next_ = highest + 1;
    return true;
}

std::string save_folder::save(const dso_record& record, int& code, std::string& message, std::string& skipped) {
    skipped.clear();
    std::random_device device;
    char temporary[64];
    int file = -1;
    for (int attempt = 0; attempt < 16 && file < 0; ++attempt) {
        std::snprintf(temporary, sizeof temporary, ".korvane-%08x.partial", device());
        file = openat(fd_, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file < 0 && errno != EEXIST) break;
    }
    if (file < 0) {
        code = 9;
        message = path_ + ": a new file cannot be made in the save folder: " + std::strerror(errno);
        return "";
    }
    const bool written = write_all(file, reinterpret_cast<const unsigned char*>(&record), DSO_IMAGE_SIZE) &&
                         fsync(file) == 0;
    const int write_error = errno;
    ::close(file);
    if (!written) {
        unlinkat(fd_, temporary, 0);
        code = 7;
        message = path_ + "/" + temporary + ": " + std::strerror(write_error);
        return "";
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (next_ > LAST_SAVE_NUMBER) break;
        const std::string name = file_name(next_++);
        if (rename_no_replace(fd_, temporary, name.c_str()) == 0) {
            fsync(fd_);
            return path_ + "/" + name;
        }
        if (errno != EEXIST) {
            const int error = errno;
            unlinkat(fd_, temporary, 0);
            code = 9;
            message = path_ + "/" + name + ": " + std::strerror(error);
            return "";
        }
        skipped += (skipped.empty() ? "" : "; ") + name + " is in the save folder already (put there since the start, "
                                                          "as a file or a link): it is left alone";
    }
    unlinkat(fd_, temporary, 0);
    code = 9;
    message = next_ > LAST_SAVE_NUMBER ? path_ + ": the save folder's numbers have run out; choose another folder"
                                       : path_ + ": a thousand names in a row are taken in the save folder";
    return "";
}
