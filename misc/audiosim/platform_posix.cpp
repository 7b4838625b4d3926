// The writer's system calls on POSIX systems (Linux, macOS, the BSDs): one or
// two calls each. Only the flush of a folder that may not be read asks Linux
// for its own call; elsewhere it flushes every file system.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform.h"

// The one open file: a descriptor.
struct open_file {
    int fd = -1;
};

namespace {

open_file the_file;

// Mode of a newly created file before the umask, as fopen() creates it.
constexpr mode_t new_file_mode = 0666;
// The read, write and execute bits of owner, group and others; never the
// set-id bits, which a new file owned by the runner must not get.
constexpr mode_t permission_bits = 0777;

// Signals whose default action ends the process and that can come from
// outside: held while the temporary file exists. SIGXFSZ too: with its
// default action a file-size limit would otherwise end the run in the middle
// of the write.
constexpr int held_signals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGXFSZ,   SIGALRM,
                                SIGUSR1, SIGUSR2, SIGPIPE, SIGPROF, SIGVTALRM, SIGXCPU,
#ifdef SIGPOLL  // not on macOS or the BSDs, whose SIGIO is ignored by default
                                SIGPOLL
#endif
};

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

bool is_seen(const struct stat& st, const seen_file& seen) {
    return S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_dev) == seen.device &&
           static_cast<unsigned long long>(st.st_ino) == seen.inode;
}

// Hands out fd, from an open that returned it, as the one open file.
int opened(int fd, open_file*& file) {
    if (fd < 0) {
        return errno;
    }
    the_file.fd = fd;
    file = &the_file;
    return 0;
}

// EINVAL: this file (a pipe, a device) or file system cannot sync, which is no
// failure of ours.
int sync_descriptor(int fd) { return fsync(fd) != 0 && errno != EINVAL ? errno : 0; }

// Flushes the whole file system that holds fd: Linux flushes just that one,
// other systems offer only sync() of all of them.
int sync_file_system(int fd) {
#ifdef __linux__
    return syncfs(fd) != 0 ? errno : 0;
#else
    static_cast<void>(fd);
    sync();
    return 0;
#endif
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
            static_cast<unsigned>(st.st_mode & permission_bits),
            S_ISLNK(st.st_mode) && planted(st, folder),
            S_ISREG(st.st_mode) && st.st_dev != folder.st_dev};
    return 0;
}

int open_through(const char* name, open_file*& file) {
    return opened(open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, new_file_mode), file);
}

int open_in_place(const char* name, const seen_file& seen, open_file*& file) {
    // Not waiting: a FIFO swapped in has no reader, and the open fails.
    const int fd = open(name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) {
        const int err = errno;
        // Refused as what it is now (a FIFO, a link, nothing), not as the file seen?
        return lstat(name, &st) == 0 && is_seen(st, seen) ? err : changed_since_look;
    }
    // What was opened decides, not the name looked at before: a file swapped
    // in since then is not written.
    int err = fstat(fd, &st) != 0 ? errno : 0;
    if (err == 0 && !is_seen(st, seen)) {
        err = changed_since_look;
    }
    if (err == 0 && (fcntl(fd, F_SETFL, 0) != 0 || ftruncate(fd, 0) != 0)) {  // writes wait again
        err = errno;
    }
    if (err != 0) {
        close(fd);
        return err;
    }
    return opened(fd, file);
}

int create_new_file(const char* name, open_file*& file) {
    return opened(open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, new_file_mode), file);
}

int keep_attributes(open_file* file, const seen_file& seen) {
    // The owner and group first: changing them may clear permission bits.
    const auto owner = static_cast<uid_t>(seen.owner);
    const auto group = static_cast<gid_t>(seen.group);
    // Failing both leaves the file the runner's own, which is no failure.
    [[maybe_unused]] const bool kept =
        fchown(file->fd, owner, group) == 0 || fchown(file->fd, static_cast<uid_t>(-1), group) == 0;
    return fchmod(file->fd, static_cast<mode_t>(seen.permissions)) != 0 ? errno : 0;
}

int write_some(open_file* file, const void* data, std::size_t size, std::size_t& written) {
    const ssize_t n = write(file->fd, data, size);
    if (n < 0) {
        return errno;
    }
    written = static_cast<std::size_t>(n);
    return 0;
}

int sync_file(open_file* file) { return sync_descriptor(file->fd); }

int close_file(open_file* file) { return close(file->fd) != 0 ? errno : 0; }

int replace_file(const char* from, const char* to) { return std::rename(from, to) != 0 ? errno : 0; }

int sync_folder(const char* name) {
    int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool drop_box = fd < 0 && errno == EACCES;
    if (drop_box) {
        // A folder the runner may write but not read: the file system that
        // holds the new file is flushed instead, and the folder's entries with it.
        fd = open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }
    if (fd < 0) {
        return errno;
    }
    const int err = drop_box ? sync_file_system(fd) : sync_descriptor(fd);
    const int close_err = close(fd) != 0 ? errno : 0;
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

int hold_interrupts() {
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : held_signals) {
        sigaddset(&held, sig);
    }
    return sigprocmask(SIG_BLOCK, &held, &previous_mask) != 0 ? errno : 0;
}

int release_interrupts() { return sigprocmask(SIG_SETMASK, &previous_mask, nullptr) != 0 ? errno : 0; }
