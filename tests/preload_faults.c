/* Preloaded into the program by the tests: every write(2) sends at most 4096
   bytes, as a pipe or a network file system may, so that the program's loop
   over short writes runs. AUDIOSIM_FAULT=clock makes clock_gettime fail;
   AUDIOSIM_FAULT=swap renames "swap" onto result.bin, then refuses the
   temporary file as a locked folder would: a swap between the program's look
   at result.bin and its opening it in place. AUDIOSIM_FAULT=copy makes rename
   answer ENOSYS, as a host without it does, and result.bin a full disk when
   written in place: its writes fail, and a C stream opened on it is /dev/full. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { most_per_write = 4096 };

static int result_fd = -1; /* result.bin, opened in place under AUDIOSIM_FAULT=copy */

static int fault_is(const char* fault) {
    const char* set = getenv("AUDIOSIM_FAULT");
    return set != NULL && strcmp(set, fault) == 0;
}

ssize_t write(int fd, const void* data, size_t size) {
    static ssize_t (*real_write)(int, const void*, size_t);
    if (real_write == NULL) {
        *(void**)&real_write = dlsym(RTLD_NEXT, "write");
    }
    if (fd == result_fd) {
        errno = ENOSPC;
        return -1;
    }
    return real_write(fd, data, size < most_per_write ? size : most_per_write);
}

int rename(const char* from, const char* to) {
    int (*real_rename)(const char*, const char*);
    *(void**)&real_rename = dlsym(RTLD_NEXT, "rename");
    if (fault_is("copy")) {
        errno = ENOSYS;
        return -1;
    }
    return real_rename(from, to);
}

FILE* fopen(const char* name, const char* mode) {
    FILE* (*real_fopen)(const char*, const char*);
    *(void**)&real_fopen = dlsym(RTLD_NEXT, "fopen");
    return real_fopen(fault_is("copy") && strcmp(name, "result.bin") == 0 ? "/dev/full" : name, mode);
}

int clock_gettime(clockid_t clock, struct timespec* now) {
    int (*real_clock_gettime)(clockid_t, struct timespec*);
    *(void**)&real_clock_gettime = dlsym(RTLD_NEXT, "clock_gettime");
    errno = EINVAL;
    return fault_is("clock") ? -1 : real_clock_gettime(clock, now);
}

int open(const char* name, int flags, ...) {
    int (*real_open)(const char*, int, ...);
    *(void**)&real_open = dlsym(RTLD_NEXT, "open");
    va_list more;
    va_start(more, flags);
    const int mode = (flags & O_CREAT) != 0 ? va_arg(more, int) : 0;
    va_end(more);
    if (fault_is("swap") && strncmp(name, ".result.bin.", strlen(".result.bin.")) == 0) {
        rename("swap", "result.bin");
        errno = EACCES;
        return -1;
    }
    const int fd = real_open(name, flags, mode);
    if (fault_is("copy") && strcmp(name, "result.bin") == 0) {
        result_fd = fd;
    }
    return fd;
}
