// The few calls the sample-file writer needs from the operating system, one
// small implementation per platform (platform_posix.cpp, platform_windows.cpp,
// platform_stdc.cpp; the last two take the calls for links and attributes from
// platform_no_links.cpp); the build compiles exactly one. Each is a thin
// wrapper over one or two system calls.
#ifndef AUDIOSIM_PLATFORM_H
#define AUDIOSIM_PLATFORM_H

#include <cstddef>

// Each call that can fail returns 0 or an errno value for std::strerror.

// A file open for writing, as the platform holds it (a descriptor, a C
// library stream). The writer has at most one open at a time.
struct open_file;

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
    // A link that the system would not let a careful program follow: one
    // planted in a shared sticky folder by another user.
    bool planted = false;
    // A file of another file system than its folder's: a mount point.
    bool mount_point = false;
};

// Looks at name.
int look_at(const char* name, seen_file& seen);

// Returned by open_in_place, not an errno: name is no longer the file seen.
constexpr int changed_since_look = -1;

// Opens name for writing exactly as a plain "wb" open does: a link is
// followed (its missing target created), a regular file truncated, a FIFO
// waited on. ENOSYS where the host has no such files to write through.
int open_through(const char* name, open_file*& file);

// Opens the regular file that look_at saw for writing in place and truncates
// it, without following a link and without waiting on a FIFO swapped in;
// changed_since_look when name is no longer that file. A host that cannot
// look opens name as "wb" does, or gives ENOSYS where it writes no file in place.
int open_in_place(const char* name, const seen_file& seen, open_file*& file);

// Creates name for writing, only if no file of that name exists, with the
// permissions of any new file (0666 less the umask), in binary mode, not
// inherited by child processes.
int create_new_file(const char* name, open_file*& file);

// Gives the open file the permissions of the file seen, but no set-id bit,
// and its owner and group where this process may (failing that is no error).
int keep_attributes(open_file* file, const seen_file& seen);

// One write of up to size bytes; stores how many went out in written.
int write_some(open_file* file, const void* data, std::size_t size, std::size_t& written);

// Asks for the file's data to reach the disk; 0 where the file (a pipe, a
// device, a file system) cannot.
int sync_file(open_file* file);

int close_file(open_file* file);

// Renames from onto to, replacing any file to names, in one step. EBUSY where
// to is in use or a mount point; ENOSYS where the host cannot rename.
int replace_file(const char* from, const char* to);

// Asks for the current folder's entries (name renamed into it) to reach the
// disk; 0 where the host cannot.
int sync_folder(const char* name);

int remove_file(const char* name);

long process_id();

// A count that only ever rises, from the system's monotonic clock.
int clock_ticks(unsigned long long& ticks);

// Holds back interrupts (signals, console Ctrl-C) that would end the process,
// until release_interrupts, which lets any held one take effect.
int hold_interrupts();
int release_interrupts();

#endif
