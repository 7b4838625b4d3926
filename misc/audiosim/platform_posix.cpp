// The writer's system calls on POSIX systems (Linux, macOS, the BSDs): one or
// two calls each, nothing Linux-only.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <initializer_list>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform.h"

namespace {

// Mode of a newly created file before the umask, as fopen() creates it.
constexpr mode_t new_file_mode = 0666;
// The read, write and execute bits of owner, group and others.
constexpr mode_t permission_bits = 0777;

// The signal mask from before hold_interrupts, restored by release_interrupts.
sigset_t previous_mask;

file_kind kind_of(mode_t mode) {
    if (S_ISREG(mode)) {
        return file_kind::regular;
    }
    if (S_ISDIR(mode)) {
        return file_kind::folder;
    }
    return S_ISLNK(mode) ? file_kind::link : file_kind::special;
}

// A link that another user planted in a shared folder (sticky and writable by
// all, as /tmp) is not followed unless the runner or the folder's owner owns
// it, whatever the system's own setting (Linux: fs.protected_symlinks).
bool planted(const struct stat& link, const struct stat& folder) {
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != geteuid() && link.st_uid != folder.st_uid;
}

}  // namespace

int look_at(const char* name, seen_file& seen) {
    seen = {};
    struct stat st {};
    if (lstat(name, &st) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    struct stat folder {};
    if (stat(".", &folder) != 0) {
        return errno;
    }
    seen = {kind_of(st.st_mode),
            static_cast<unsigned long long>(st.st_dev),
            static_cast<unsigned long long>(st.st_ino),
            static_cast<unsigned long long>(st.st_uid),
            static_cast<unsigned long long>(st.st_gid),
            static_cast<unsigned>(st.st_mode & permission_bits)};
    return S_ISLNK(st.st_mode) && planted(st, folder) ? EACCES : 0;
}

int open_seen(const char* name, const seen_file& seen, int& fd) {
    const bool link = seen.kind == file_kind::link;
    fd = open(name, O_WRONLY | O_CLOEXEC | (link ? O_CREAT : O_NOFOLLOW), new_file_mode);
    if (fd < 0) {
        return errno;
    }
    // What was opened decides, not the name looked at before: a file swapped
    // in since then is not written.
    struct stat st {};
    int err = fstat(fd, &st) != 0 ? errno : 0;
    if (err == 0 && !link &&
        (static_cast<unsigned long long>(st.st_dev) != seen.device ||
         static_cast<unsigned long long>(st.st_ino) != seen.inode)) {
        err = EAGAIN;
    }
    if (err == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
        err = errno;
    }
    if (err != 0) {
        close(fd);
    }
    return err;
}

int create_new_file(const char* name, int& fd) {
    fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, new_file_mode);
    return fd < 0 ? errno : 0;
}

int keep_attributes(int fd, const seen_file& seen) {
    // The owner and group first: changing them may clear permission bits.
    const auto owner = static_cast<uid_t>(seen.owner);
    const auto group = static_cast<gid_t>(seen.group);
    // Failing both leaves the file the runner's own, which is no failure.
    [[maybe_unused]] const bool kept =
        fchown(fd, owner, group) == 0 || fchown(fd, static_cast<uid_t>(-1), group) == 0;
    return fchmod(fd, static_cast<mode_t>(seen.permissions)) != 0 ? errno : 0;
}

int write_some(int fd, const void* data, std::size_t size, std::size_t& written) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
        return errno;
    }
    written = static_cast<std::size_t>(n);
    return 0;
}

int sync_file(int fd) {
    // EINVAL: this file (a pipe, a device) or file system cannot sync, which
    // is no failure of ours.
    return fsync(fd) != 0 && errno != EINVAL ? errno : 0;
}

int close_file(int fd) { return close(fd) != 0 ? errno : 0; }

int replace_file(const char* from, const char* to) { return std::rename(from, to) != 0 ? errno : 0; }

int sync_folder() {
    const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const int err = sync_file(fd);
    const int close_err = close_file(fd);
    return err != 0 ? err : close_err;
}

int remove_file(const char* name) { return unlink(name) != 0 ? errno : 0; }

long process_id() { return static_cast<long>(getpid()); }

int clock_ticks(unsigned long long& ticks) {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return errno;
    }
    ticks = static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
            static_cast<unsigned long long>(now.tv_nsec);
    return 0;
}

// SIGXFSZ too: with its default action a file-size limit would otherwise end
// the run in the middle of the write.
int hold_interrupts() {
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXFSZ}) {
        sigaddset(&held, sig);
    }
    return sigprocmask(SIG_BLOCK, &held, &previous_mask) != 0 ? errno : 0;
}

int release_interrupts() { return sigprocmask(SIG_SETMASK, &previous_mask, nullptr) != 0 ? errno : 0; }
