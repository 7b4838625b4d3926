// The writer's system calls on Windows: the C runtime's underscore calls for
// the file, MoveFileExA for the replace, a console handler for Ctrl-C.
#include <atomic>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform.h"

// The one open file: a C runtime descriptor.
struct open_file {
    int fd = -1;
};

namespace {

open_file the_file;

// How often, and how many milliseconds apart, a replace is tried while another
// process holds result.bin open (another run replacing it at the same moment,
// a virus scanner, an indexer), before the failure counts.
constexpr int replace_attempts = 100;
constexpr DWORD replace_retry_ms = 10;

// Whether Ctrl-C is held, and whether one came while it was. The handler
// stays installed; one atomic exchange on release decides whether a Ctrl-C
// came while held (the run then ends) or after (the default action ends it),
// so none is lost in between.
enum class interrupt_state { released, held, interrupted };
std::atomic<interrupt_state> state{interrupt_state::released};

BOOL WINAPI note_interrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;  // closing the console or logging off: the default action
    }
    interrupt_state expected = interrupt_state::held;
    return state.compare_exchange_strong(expected, interrupt_state::interrupted) ||
                   expected == interrupt_state::interrupted
               ? TRUE
               : FALSE;
}

// The errno closest to a Windows error from MoveFileExA.
int errno_from_windows(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:  // open in another program
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}

}  // namespace

// Windows has no bind mounts, and a file in use elsewhere would refuse "wb" too.
int open_in_place(const char* /*name*/, const seen_file& /*seen*/, open_file*& /*file*/) { return ENOSYS; }

int create_new_file(const char* name, open_file*& file) {
    // _O_BINARY: in text mode every 0x0A byte would go out as 0x0D 0x0A.
    const int fd =
        _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return errno;
    }
    the_file.fd = fd;
    file = &the_file;
    return 0;
}

int write_some(open_file* file, const void* data, std::size_t size, std::size_t& written) {
    const int n = _write(file->fd, data, static_cast<unsigned>(size < INT_MAX ? size : INT_MAX));
    if (n < 0) {
        return errno;
    }
    written = static_cast<std::size_t>(n);
    return 0;
}

// The file's data reaches the disk before the move, so the file that the
// move puts in place is complete.
int sync_file(open_file* file) { return _commit(file->fd) != 0 ? errno : 0; }

int close_file(open_file* file) { return _close(file->fd) != 0 ? errno : 0; }

// Plain rename() will not replace an existing file on Windows. A file that is
// open elsewhere cannot be replaced until it is closed, so that is waited for;
// a folder in the way is not. MOVEFILE_WRITE_THROUGH waits for the disk only
// where the move is done as a copy and a delete (onto another volume); within
// a volume the new entry is as durable as the file system's journal makes it.
int replace_file(const char* from, const char* to) {
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < replace_attempts; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            return 0;
        }
        error = GetLastError();
        const DWORD attributes = GetFileAttributesA(to);
        const bool folder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || folder) {
            break;
        }
        Sleep(replace_retry_ms);
    }
    return errno_from_windows(error);
}

int remove_file(const char* name) { return _unlink(name) != 0 ? errno : 0; }

long process_id() { return static_cast<long>(_getpid()); }

int clock_ticks(unsigned long long& ticks) {
    LARGE_INTEGER now{};
    if (QueryPerformanceCounter(&now) == 0) {
        return errno_from_windows(GetLastError());
    }
    ticks = static_cast<unsigned long long>(now.QuadPart);
    return 0;
}

int hold_interrupts() {
    if (SetConsoleCtrlHandler(note_interrupt, TRUE) == 0) {
        return errno_from_windows(GetLastError());
    }
    state = interrupt_state::held;
    return 0;
}

// A Ctrl-C that arrived while held ends the run now, as it would have then.
int release_interrupts() {
    if (state.exchange(interrupt_state::released) == interrupt_state::interrupted) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return 0;
}
