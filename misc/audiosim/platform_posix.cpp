// The writer's system calls on POSIX systems (Linux, macOS, the BSDs): one
// call each, nothing Linux-only.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <initializer_list>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform.h"

namespace {

// Mode of a newly created file before the umask, as fopen() creates it.
constexpr mode_t new_file_mode = 0666;

// The signal mask from before hold_interrupts, restored by release_interrupts.
sigset_t previous_mask;

}  // namespace

int create_new_file(const char* name, int& fd) {
    fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, new_file_mode);
    return fd < 0 ? errno : 0;
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
    // EINVAL: this file system cannot sync the file, which is no failure of ours.
    return fsync(fd) != 0 && errno != EINVAL ? errno : 0;
}

int close_file(int fd) { return close(fd) != 0 ? errno : 0; }

int replace_file(const char* from, const char* to) { return std::rename(from, to) != 0 ? errno : 0; }

int remove_file(const char* name) { return unlink(name) != 0 ? errno : 0; }

long process_id() { return static_cast<long>(getpid()); }

unsigned long long clock_ticks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
           static_cast<unsigned long long>(now.tv_nsec);
}

// SIGXFSZ too: with its default action a file-size limit would otherwise end
// the run in the middle of the write.
void hold_interrupts() {
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGXFSZ}) {
        sigaddset(&held, sig);
    }
    sigprocmask(SIG_BLOCK, &held, &previous_mask);
}

void release_interrupts() { sigprocmask(SIG_SETMASK, &previous_mask, nullptr); }
