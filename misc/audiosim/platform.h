// The few calls the sample-file writer needs from the operating system, one
// small implementation per platform (platform_posix.cpp, platform_windows.cpp);
// the build compiles exactly one. Each is a thin wrapper over one system call.
#ifndef AUDIOSIM_PLATFORM_H
#define AUDIOSIM_PLATFORM_H

#include <cstddef>

// Each call that can fail returns 0 or an errno value for std::strerror.

// Creates name for writing, only if no file of that name exists, with the
// permissions of any new file (0666 less the umask), in binary mode, not
// inherited by child processes. Stores the descriptor in fd.
int create_new_file(const char* name, int& fd);

// One write of up to size bytes; stores how many went out in written.
int write_some(int fd, const void* data, std::size_t size, std::size_t& written);

// Asks for the file's data to reach the disk; 0 where the file system cannot.
int sync_file(int fd);

int close_file(int fd);

// Renames from onto to, replacing any file to names, in one step.
int replace_file(const char* from, const char* to);

int remove_file(const char* name);

long process_id();

// A count that only ever rises, from the system's monotonic clock.
unsigned long long clock_ticks();

// Holds back interrupts (signals, console Ctrl-C) that would end the process,
// until release_interrupts, which lets any held one take effect.
void hold_interrupts();
void release_interrupts();

#endif
