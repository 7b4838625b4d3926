// The few calls the sample-file writer needs from the operating system, one
// small implementation per platform (platform_posix.cpp, platform_windows.cpp,
// platform_stdc.cpp; the last two take the calls for links and attributes from
// platform_no_links.cpp); the build compiles exactly one. Each is a thin
// wrapper over one or two system calls.
#ifndef AUDIOSIM_PLATFORM_H
#define AUDIOSIM_PLATFORM_H

#include <cstddef>

// Each call that can fail returns 0 or an errno value for std::strerror.

// What a name in the current folder is, the name itself (a link not followed).
// A host that cannot tell sees every name as absent.
enum class file_kind { absent, regular, folder, link, special };

struct seen_file {
    file_kind kind = file_kind::absent;
    unsigned long long device = 0;  // with inode: which file it is
    unsigned long long inode = 0;
    unsigned long long owner = 0;
    unsigned long long group = 0;
    unsigned permissions = 0;  // read, write and execute bits for owner, group, others
};

// Looks at name. A link that the system would not let a careful program
// follow (one planted in a shared sticky folder by another user) is EACCES.
int look_at(const char* name, seen_file& seen);

// Opens name for writing as a plain "wb" open would, but only the file that
// look_at saw: a link is followed (its missing target created), anything else
// is opened only if it is still the same file. A regular file is truncated.
// ENOSYS where the host cannot write a file in place.
int open_seen(const char* name, const seen_file& seen, int& fd);

// Creates name for writing, only if no file of that name exists, with the
// permissions of any new file (0666 less the umask), in binary mode, not
// inherited by child processes. Stores the descriptor in fd.
int create_new_file(const char* name, int& fd);

// Gives the open file the permissions of the file seen, and its owner and
// group where this process may (failing that is no error).
int keep_attributes(int fd, const seen_file& seen);

// One write of up to size bytes; stores how many went out in written.
int write_some(int fd, const void* data, std::size_t size, std::size_t& written);

// Asks for the file's data to reach the disk; 0 where the file (a pipe, a
// device, a file system) cannot.
int sync_file(int fd);

int close_file(int fd);

// Renames from onto to, replacing any file to names, in one step.
int replace_file(const char* from, const char* to);

// Asks for the current folder's entries (a rename in it) to reach the disk;
// 0 where the file system cannot.
int sync_folder();

int remove_file(const char* name);

long process_id();

// A count that only ever rises, from the system's monotonic clock.
int clock_ticks(unsigned long long& ticks);

// Holds back interrupts (signals, console Ctrl-C) that would end the process,
// until release_interrupts, which lets any held one take effect.
int hold_interrupts();
int release_interrupts();

#endif
