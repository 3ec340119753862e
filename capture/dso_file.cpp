#include "capture/dso_file.h"

#include "app/error_handler.h"
#include "capture/dso_structure.h"
#include "capture/replacement_file.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

int save_dso_structure(const char* file_name) {
    replacement_file file;
    if (!begin_replacement(file, file_name)) {
        error_handler(9, "save_dso_structure", file_name);
        return 0;
    }
    if (!write_replacement(file, &dso_structure, DSO_IMAGE_SIZE)) {
        abandon_replacement(file);
        error_handler(7, "save_dso_structure", file_name);
        return 0;
    }
    // The target could not take the new file's place: as if it could not be created.
    if (!commit_replacement(file)) error_handler(9, "save_dso_structure", file_name);
    return 0;
}

int load_dso_structure(const char* file_name) {
    char number[16];
#ifdef _WIN32
    HANDLE h = CreateFileA(file_name, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_handler(9, "load_dso_structure", file_name);
        return 0;
    }
    DWORD got = 0;
    ReadFile(h, &dso_structure, static_cast<DWORD>(DSO_IMAGE_SIZE), &got, nullptr);
    if (got < DSO_IMAGE_SIZE) {
        std::snprintf(number, sizeof number, "%ld", static_cast<long>(GetLastError()));
        CloseHandle(h);
        error_handler(8, "load_dso_structure", number);
        return 0;
    }
    CloseHandle(h);
#else
    int fd = open(file_name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error_handler(9, "load_dso_structure", file_name);
        return 0;
    }
    errno = 0;
    char* into = reinterpret_cast<char*>(&dso_structure);
    std::size_t got = 0;
    while (got < DSO_IMAGE_SIZE) {
        ssize_t n = read(fd, into + got, DSO_IMAGE_SIZE - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got < DSO_IMAGE_SIZE) {
        std::snprintf(number, sizeof number, "%d", errno);
        close(fd);
        error_handler(8, "load_dso_structure", number);
        return 0;
    }
    close(fd);
#endif
    return 0;
}
