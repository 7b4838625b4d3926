// The writer's calls on a host that has only the C library (bare metal with
// newlib or picolibc, WebAssembly with WASI): standard C file calls and
// nothing else. No flush to disk and no interrupts to hold, since the C
// library names neither. The one open file is a C stream: a few bytes.
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform.h"

struct open_file {
    std::FILE* stream = nullptr;
};

namespace {

open_file the_file;

// Error of a failed C library call: errno, or EIO where the library set none.
int last_error() { return errno != 0 ? errno : EIO; }

// Opens name with the C library's mode as the one open file.
int open_stream(const char* name, const char* mode, open_file*& file) {
    errno = 0;
    the_file.stream = std::fopen(name, mode);
    file = &the_file;
    return the_file.stream != nullptr ? 0 : last_error();
}

}  // namespace

// This host cannot look at files, so there is nothing seen to check: a plain
// "wb" open. The writer comes here when rename is missing (newlib on bare
// metal answers ENOSYS): the complete temporary file stays until this is done.
int open_in_place(const char* name, const seen_file& /*seen*/, open_file*& file) {
    return open_stream(name, "wb", file);
}

int create_new_file(const char* name, open_file*& file) {
    // "x": fails if the name exists, as C11 and C++17 define it. Newlib's
    // semihosting only looks for the name first and then creates the file
    // with truncation, which is not exclusive; but one core runs one program.
    return open_stream(name, "wbx", file);
}

int write_some(open_file* file, const void* data, std::size_t size, std::size_t& written) {
    errno = 0;
    written = std::fwrite(data, 1, size, file->stream);
    return written == size ? 0 : last_error();
}

int sync_file(open_file* file) {
    errno = 0;
    return std::fflush(file->stream) == 0 ? 0 : last_error();
}

int close_file(open_file* file) {
    errno = 0;
    const bool closed = std::fclose(file->stream) == 0;
    file->stream = nullptr;
    return closed ? 0 : last_error();
}

// A C library without rename at all (picolibc's semihosting) is built with
// AUDIOSIM_NO_RENAME, and answers as newlib's does on bare metal: ENOSYS, so
// that the writer puts the complete file in place itself.
int replace_file(const char* from, const char* to) {
#ifdef AUDIOSIM_NO_RENAME
    static_cast<void>(from);
    static_cast<void>(to);
    return ENOSYS;
#else
    errno = 0;
    return std::rename(from, to) == 0 ? 0 : last_error();
#endif
}

int remove_file(const char* name) {
    errno = 0;
    return std::remove(name) == 0 ? 0 : last_error();
}

// No processes to tell apart: every run is the only one.
long process_id() { return 0; }

// Seconds since the epoch, then a count within the run, so that a run makes
// names that earlier runs (which left files when stopped) did not.
// A host without a clock gives -1 for the time: the count still differs.
int clock_ticks(unsigned long long& ticks) {
    static unsigned long long calls = 0;
    constexpr unsigned count_bits = 16;
    const std::time_t now = std::time(nullptr);
    const auto seconds = static_cast<unsigned long long>(now > 0 ? now : 0);
    ticks = (seconds << count_bits) + calls++;
    return 0;
}

int hold_interrupts() { return 0; }
int release_interrupts() { return 0; }
