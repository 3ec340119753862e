#include "capture/output_file_linux.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// ---- Names ----

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool fail(file_failure& failure, int code, int error, const std::string& what) {
    failure.code = code;
    failure.error = error;
    failure.what = what;
    return false;
}

// "name: the system's reason (what was being done)".
bool fail_with(file_failure& failure, int code, int error, const std::string& name, const std::string& detail = "") {
    return fail(failure, code, error, name + ": " + std::strerror(error) + (detail.empty() ? "" : " (" + detail + ")"));
}

bool fail_errno(file_failure& failure, int code, const std::string& name, const std::string& detail = "") {
    return fail_with(failure, code, errno != 0 ? errno : EIO, name, detail);
}

// The descriptor a path names when it leads into this process's /proc/PID/fd (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N), else -1. Opening such a path would open the file afresh; the
// descriptor itself is what the user means.
int descriptor_named(const std::string& path) {
    const std::string base = base_of(path);
    if (base.empty() || base.find_first_not_of("0123456789") != std::string::npos || base.size() > 9) return -1;
    char* real = realpath(folder_of(path).c_str(), nullptr);
    if (real == nullptr) return -1;
    const std::string folder(real);
    std::free(real);
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd";
    if (folder != own && folder != "/proc/self/fd") return -1;
    return std::atoi(base.c_str());
}

// ---- Temporary files and signals ----

// Named temporary files (where the file system has no unnamed ones) that a signal must not
// leave behind: fixed storage, which the signal handler can read at any moment.
constexpr int TEMP_SLOTS = 8;
char temp_slot_names[TEMP_SLOTS][PATH_MAX + 1];
std::atomic<bool> temp_slot_used[TEMP_SLOTS];

void remove_temp_files_and_die(int signal_number) {
    remove_temp_files_now();
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(signal_number, &plain, nullptr);
    raise(signal_number);
}

// Installs the clean-up for the signals that end a program, where the program has not
// chosen its own handling of them (a program that handles them itself finishes its files).
void guard_temp_files() {
    static bool guarded = false;
    if (guarded) return;
    guarded = true;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = remove_temp_files_and_die;
        sigemptyset(&cleanup.sa_mask);
        sigaction(s, &cleanup, nullptr);
    }
}

void remember_temp(const std::string& name) {
    guard_temp_files();
    if (name.size() > PATH_MAX) return;
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (temp_slot_used[i].load()) continue;
        std::memcpy(temp_slot_names[i], name.c_str(), name.size() + 1);
        temp_slot_used[i].store(true);
        return;
    }
}

void forget_temp(const std::string& name) {
    for (int i = 0; i < TEMP_SLOTS; ++i)
        if (temp_slot_used[i].load() && name == temp_slot_names[i]) temp_slot_used[i].store(false);
}

bool can_access(const std::string& path, int mode) { return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0; }

// The signals that end a program, held back while a file changes its name or its bytes, so
// that the step completes.
struct signals_held {
    sigset_t old;
    signals_held() {
        sigset_t held;
        sigemptyset(&held);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, s);
        sigprocmask(SIG_BLOCK, &held, &old);
    }
    ~signals_held() { sigprocmask(SIG_SETMASK, &old, nullptr); }
};

unsigned temp_counter = 0;

std::string temp_name_in(const std::string& folder) {
    const unsigned tag = static_cast<unsigned>(getpid()) * 2654435761u + ++temp_counter;
    char name[32];
    std::snprintf(name, sizeof name, "~kv%08x.tmp", tag);
    return (folder == "/" ? std::string("/") : folder + "/") + name;
}

bool named_temporaries = false;

bool unnamed_files_work() {
    static const int works = access("/proc/self/fd", X_OK) == 0 ? 1 : 0;
    return works == 1 && !named_temporaries;
}

// A new temporary file in folder for out, unnamed where the file system allows it.
bool make_temp(output_file& out, const std::string& folder, mode_t mode, file_failure& failure) {
    if (unnamed_files_work()) {
        const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (fd >= 0) {
            out.fd = fd;
            out.unnamed = true;
            return true;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return fail_errno(failure, 9, out.plan.name, "cannot create a temporary file in " + folder);
    }
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = temp_name_in(folder);
        out.temp_path = name;
        remember_temp(out.temp_path);
        const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            out.fd = fd;
            return true;
        }
        const int error = errno;
        forget_temp(out.temp_path);
        out.temp_path.clear();
        if (error != EEXIST) {
            errno = error;
            return fail_errno(failure, 9, out.plan.name, "cannot create a temporary file in " + folder);
        }
    }
    return fail_with(failure, 9, EEXIST, out.plan.name, "no free name for a temporary file in " + folder);
}

const char* temp_folder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the whole temporary file into target; the number of bytes in length.
bool copy_temp(int temp, int target, off_t& length) {
    thread_local char block[1 << 16];
    length = 0;
    for (;;) {
        const ssize_t n = pread(temp, block, sizeof block, length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!write_all(target, block, static_cast<std::size_t>(n))) return false;
        length += n;
    }
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

void sync_folder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);  // the new name is on the disk too; a file system that cannot says EINVAL
    close(fd);
}

// Opens a target that is written in place.
int open_in_place(const output_plan& plan) {
    if (plan.descriptor >= 0) return fcntl(plan.descriptor, F_DUPFD_CLOEXEC, 3);
    if (plan.exists && S_ISSOCK(plan.old.st_mode)) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (plan.path.size() >= sizeof address.sun_path) {
            close(fd);
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(address.sun_path, plan.path.c_str(), plan.path.size() + 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        return fd;
    }
    return open(plan.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
}

// ---- The stream ----

ssize_t stream_write(void* cookie, const char* data, size_t size) {
    output_file& out = *static_cast<output_file*>(cookie);
    return write_output_bytes(out, data, size) ? static_cast<ssize_t>(size) : 0;
}

cookie_io_functions_t STREAM_FUNCTIONS = {nullptr, stream_write, nullptr, nullptr};
constexpr std::size_t STREAM_BUFFER_SIZE = 1 << 16;

}  // namespace

void use_named_temporaries(bool named) { named_temporaries = named; }

void remove_temp_files_now() {
    for (int i = 0; i < TEMP_SLOTS; ++i)
        if (temp_slot_used[i].load()) unlink(temp_slot_names[i]);
}

bool plan_output(const std::string& name, output_plan& plan, file_failure& failure) {
    plan = output_plan();
    plan.name = name;
    if (name.empty()) return fail(failure, 9, ENOENT, "an empty file name");
    if (name == "-") {
        plan.descriptor = STDOUT_FILENO;
        plan.name = "standard output";
    }
    // Follow links to the file they lead to, as the system does when it opens a name.
    std::string path = name;
    for (int hop = 0; plan.descriptor < 0; ++hop) {
        if (hop == 40) return fail_with(failure, 9, ELOOP, name);
        plan.descriptor = descriptor_named(path);
        if (plan.descriptor >= 0) break;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return fail_errno(failure, 9, name);
            break;
        }
        if (!S_ISLNK(st.st_mode)) break;
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return fail_errno(failure, 9, name);
        const std::string next(target.data(), static_cast<size_t>(n));
        path = next[0] == '/' ? next : folder_of(path) + "/" + next;
    }

    if (plan.descriptor >= 0) {
        plan.kind = output_kind::in_place;
        if (fstat(plan.descriptor, &plan.old) != 0) return fail_errno(failure, 9, plan.name);
        plan.exists = true;
        plan.terminal = isatty(plan.descriptor) == 1;
        plan.regular = S_ISREG(plan.old.st_mode);
        return true;
    }

    plan.path = path;
    plan.folder = folder_of(path);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return fail_errno(failure, 9, name);
        // A new file: its folder must be there and take new names.
        if (!path.empty() && path.back() == '/') return fail_with(failure, 9, EISDIR, name, "the name ends in /");
        struct stat folder;
        if (stat(plan.folder.c_str(), &folder) != 0) {
            const int error = errno;
            if (error == ENOENT)
                return fail_with(failure, 9, error, name, "the folder " + plan.folder + " does not exist");
            errno = error;
            return fail_errno(failure, 9, name);
        }
        if (!S_ISDIR(folder.st_mode))
            return fail_with(failure, 9, ENOTDIR, name, plan.folder + " is not a folder");
        if (!can_access(plan.folder, W_OK | X_OK))
            return fail_errno(failure, 9, name, "cannot create a file in the folder " + plan.folder);
        plan.kind = output_kind::replace;
        plan.regular = true;
        if (char* real = realpath(plan.folder.c_str(), nullptr)) {
            plan.where = std::string(real) + "/" + base_of(path);
            std::free(real);
        }
        return true;
    }
    plan.exists = true;
    plan.old = st;
    if (S_ISDIR(st.st_mode)) return fail_with(failure, 9, EISDIR, name);
    if (!can_access(path, W_OK)) return fail_errno(failure, 9, name, "the file is left as it was");
    if (!S_ISREG(st.st_mode)) {
        plan.kind = output_kind::in_place;
        plan.terminal = S_ISCHR(st.st_mode) && [&] {
            const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            const bool tty = fd >= 0 && isatty(fd) == 1;
            if (fd >= 0) close(fd);
            return tty;
        }();
        return true;
    }
    // Root may write any file; a file without a write permission for anyone is still one
    // its owner meant to keep.
    if ((st.st_mode & 0222) == 0)
        return fail_with(failure, 9, EACCES, name, "the file is read-only; chmod u+w lets it be replaced");
    plan.regular = true;
    const bool foreign_owner = st.st_uid != geteuid() && geteuid() != 0;
    const bool folder_closed = !can_access(plan.folder, W_OK | X_OK);
    plan.kind = st.st_nlink > 1 || foreign_owner || folder_closed ? output_kind::rewrite : output_kind::replace;
    return true;
}

bool is_same_file(const output_plan& plan, const struct stat& st) {
    return plan.exists && plan.old.st_dev == st.st_dev && plan.old.st_ino == st.st_ino;
}

bool is_same_output(const output_plan& a, const output_plan& b) {
    if (a.descriptor >= 0 && a.descriptor == b.descriptor) return true;
    if (a.exists && b.exists) return is_same_file(a, b.old);
    return !a.exists && !b.exists && !a.where.empty() && a.where == b.where;
}

bool open_output(const output_plan& plan, output_file& out, bool seekable, file_failure& failure) {
    out = output_file();
    out.plan = plan;
    switch (plan.kind) {
    case output_kind::replace: {
        const mode_t mode = plan.exists ? (plan.old.st_mode & 07777) : 0666;
        if (!make_temp(out, plan.folder, mode, failure)) return false;
        if (plan.exists) {
            // The new file keeps the old one's owner, group and mode (a change of owner
            // clears the set-id bits, so the mode comes after it).
            struct stat temp;
            if (fstat(out.fd, &temp) == 0 && (temp.st_uid != plan.old.st_uid || temp.st_gid != plan.old.st_gid) &&
                fchown(out.fd, plan.old.st_uid, plan.old.st_gid) != 0) {
                // The group cannot be kept: write the file in place instead.
                abandon_output(out);
                output_plan in_place = plan;
                in_place.kind = output_kind::rewrite;
                return open_output(in_place, out, seekable, failure);
            }
            if (fchmod(out.fd, plan.old.st_mode & 07777) != 0) {
                abandon_output(out);
                return fail_errno(failure, 9, plan.name, "fchmod: the new file cannot keep the old one's mode");
            }
        }
        return true;
    }
    case output_kind::rewrite: {
        out.staged = true;
        const bool folder_open = can_access(plan.folder, W_OK | X_OK);
        return make_temp(out, folder_open ? plan.folder : temp_folder(), 0600, failure);
    }
    case output_kind::in_place:
        out.target_fd = open_in_place(plan);
        if (out.target_fd < 0) return fail_errno(failure, 9, plan.name);
        if (!seekable) {
            out.fd = out.target_fd;
            out.target_fd = -1;
            return true;
        }
        out.staged = true;
        if (!make_temp(out, temp_folder(), 0600, failure)) {
            close_fd(out.target_fd);
            return false;
        }
        return true;
    }
    return fail_with(failure, 9, EINVAL, plan.name);
}

bool write_output_bytes(output_file& out, const void* data, std::size_t size) {
    if (out.failure.code != 0) return false;
    if (write_all(out.fd, data, size)) return true;
    const int error = errno;
    return fail_with(out.failure, 7, error, out.plan.name);
}

std::FILE* output_stream(output_file& out) {
    out.stream = fopencookie(&out, "w", STREAM_FUNCTIONS);
    if (out.stream != nullptr) {
        out.buffer.resize(STREAM_BUFFER_SIZE);
        std::setvbuf(out.stream, out.buffer.data(), _IOFBF, out.buffer.size());
    }
    return out.stream;
}

bool close_output_stream(output_file& out) {
    if (out.stream == nullptr) return out.failure.code == 0;
    const bool flushed = std::fflush(out.stream) == 0;
    std::fclose(out.stream);
    out.stream = nullptr;
    if (!flushed && out.failure.code == 0) fail_with(out.failure, 7, EIO, out.plan.name);
    return out.failure.code == 0;
}

bool commit_output(output_file& out, file_failure& failure) {
    if (!close_output_stream(out)) {
        failure = out.failure;
        abandon_output(out);
        return false;
    }
    const output_plan& plan = out.plan;
    if (plan.kind == output_kind::in_place && !out.staged) {
        // Nothing to put in place; a device or a pipe has nothing to flush.
        const int fd = out.fd;
        out.fd = -1;
        if (close(fd) != 0 && errno != EINTR && errno != EINVAL) return fail_errno(failure, 7, plan.name);
        return true;
    }
    if (out.staged) {
        // Every byte exists: now they go into the file itself.
        if (plan.kind == output_kind::rewrite) {
            out.target_fd = open(plan.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (out.target_fd < 0) {
                fail_errno(failure, 9, plan.name);
                abandon_output(out);
                return false;
            }
        }
        bool ok;
        {
            signals_held held;
            off_t length = 0;
            ok = copy_temp(out.fd, out.target_fd, length);
            if (ok && plan.kind == output_kind::rewrite) ok = ftruncate(out.target_fd, length) == 0 && fsync(out.target_fd) == 0;
        }
        if (!ok) fail_errno(failure, 7, plan.name);
        if (close(out.target_fd) != 0 && ok && errno != EINTR && errno != EINVAL) ok = fail_errno(failure, 7, plan.name);
        out.target_fd = -1;
        abandon_output(out);
        return ok;
    }

    // A replacement: flushed to the disk before it takes the old file's place, so that a
    // power cut after the end cannot leave an empty file.
    if (fsync(out.fd) != 0) {
        fail_errno(failure, 7, plan.name, "fsync: the new file cannot be flushed to the disk");
        abandon_output(out);
        return false;
    }
    bool placed = false;
    {
        signals_held held;
        if (out.unnamed) {
            char proc[64];
            std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", out.fd);
            for (int attempt = 0; attempt < 64 && out.temp_path.empty(); ++attempt) {
                std::string name = temp_name_in(plan.folder);
                if (linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                    out.temp_path = name;
                    remember_temp(name);
                } else if (errno != EEXIST) {
                    break;
                }
            }
            if (out.temp_path.empty()) fail_errno(failure, 9, plan.name, "linkat: the new file cannot be named in its folder");
        }
        if (!out.temp_path.empty()) {
            placed = rename(out.temp_path.c_str(), plan.path.c_str()) == 0;
            if (placed) {
                forget_temp(out.temp_path);
                out.temp_path.clear();
            } else {
                fail_errno(failure, 9, plan.name, "rename: the new file cannot take the old one's place");
            }
        }
    }
    const int fd = out.fd;
    out.fd = -1;
    if (close(fd) != 0 && placed && errno != EINTR) placed = fail_errno(failure, 7, plan.name);
    if (placed) sync_folder(plan.folder);
    abandon_output(out);
    return placed;
}

void abandon_output(output_file& out) {
    if (out.stream != nullptr) {
        std::fclose(out.stream);
        out.stream = nullptr;
    }
    close_fd(out.fd);
    close_fd(out.target_fd);
    if (!out.temp_path.empty()) {
        unlink(out.temp_path.c_str());
        forget_temp(out.temp_path);
        out.temp_path.clear();
    }
}
