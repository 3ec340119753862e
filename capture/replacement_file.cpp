#include "capture/replacement_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

unsigned temp_counter = 0;

#ifdef _WIN32
unsigned process_tag() { return static_cast<unsigned>(GetCurrentProcessId()); }
bool is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }
#else
unsigned process_tag() { return static_cast<unsigned>(getpid()); }
bool is_separator(char c) { return c == '/'; }
#endif

// Builds "<folder of target>~kvXXXXXXXX.tmp"; false when it does not fit.
bool make_temp_name(const char* target, unsigned tag, char (&out)[REPLACEMENT_PATH_SIZE]) {
    std::size_t folder = 0;
    for (std::size_t i = 0; target[i] != '\0'; ++i)
        if (is_separator(target[i])) folder = i + 1;
    int n = std::snprintf(out, sizeof out, "%.*s~kv%08x.tmp", static_cast<int>(folder), target, tag);
    return n > 0 && static_cast<std::size_t>(n) < sizeof out;
}

}  // namespace

bool begin_replacement(replacement_file& file, const char* target) {
    file.target = target;
    file.temp_path[0] = '\0';
#ifdef _WIN32
    file.handle = nullptr;
#else
    file.fd = -1;
#endif
    for (int attempt = 0; attempt < 64; ++attempt) {
        unsigned tag = process_tag() * 2654435761u + (++temp_counter);
        if (!make_temp_name(target, tag, file.temp_path)) return false;
#ifdef _WIN32
        HANDLE h = CreateFileA(file.temp_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file.handle = h;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
#else
        int fd = open(file.temp_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // A replaced file keeps its permissions.
            struct stat old_file;
            if (stat(target, &old_file) == 0 && S_ISREG(old_file.st_mode))
                (void)fchmod(fd, old_file.st_mode & 07777);
            file.fd = fd;
            return true;
        }
        if (errno != EEXIST) return false;
#endif
    }
    return false;
}

bool write_replacement(replacement_file& file, const void* data, std::size_t size) {
#ifdef _WIN32
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(file.handle), data, static_cast<DWORD>(size), &written,
                   nullptr))
        return false;
    return written == size;
#else
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(file.fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
#endif
}

std::FILE* replacement_stream(replacement_file& file) {
#ifdef _WIN32
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.handle), _O_WRONLY | _O_TEXT);
    if (fd < 0) return nullptr;
    std::FILE* stream = _fdopen(fd, "w");
    if (stream == nullptr) {
        _close(fd);  // closes the handle too
        file.handle = nullptr;
        return nullptr;
    }
    file.handle = nullptr;
    return stream;
#else
    std::FILE* stream = fdopen(file.fd, "w");
    if (stream != nullptr) file.fd = -1;
    return stream;
#endif
}

namespace {

bool close_temp(replacement_file& file) {
#ifdef _WIN32
    if (file.handle == nullptr) return true;
    bool ok = CloseHandle(static_cast<HANDLE>(file.handle)) != 0;
    file.handle = nullptr;
    return ok;
#else
    if (file.fd < 0) return true;
    bool ok = close(file.fd) == 0;
    file.fd = -1;
    return ok;
#endif
}

}  // namespace

bool commit_replacement(replacement_file& file) {
    if (!close_temp(file)) {
        abandon_replacement(file);
        return false;
    }
#ifdef _WIN32
    bool moved = MoveFileExA(file.temp_path, file.target,
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    bool moved = std::rename(file.temp_path, file.target) == 0;
#endif
    if (!moved) abandon_replacement(file);
    return moved;
}

void abandon_replacement(replacement_file& file) {
    close_temp(file);
    if (file.temp_path[0] != '\0') std::remove(file.temp_path);
    file.temp_path[0] = '\0';
}
