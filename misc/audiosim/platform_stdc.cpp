// The writer's calls on a host that has only the C library (bare metal with
// newlib, WebAssembly with WASI): standard C file calls and nothing else. No
// flush to disk and no interrupts to hold, since the C library names neither.
// One open file at a time, the only one the writer ever has: a few bytes.
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform.h"

namespace {

// The writer's one open file; the descriptor it hands out is always 0.
std::FILE* open_file = nullptr;
constexpr int the_descriptor = 0;

// Bytes copied at a time when a rename must be done by copying.
constexpr std::size_t copy_chunk = 512;

// Error of a failed C library call: errno, or EIO where the library set none.
int last_error() { return errno != 0 ? errno : EIO; }

// Writes the content of from into to ("wb": created or truncated), then
// removes from. A copy is not one step: a run stopped in it leaves to short.
int copy_then_remove(const char* from, const char* to) {
    std::FILE* in = std::fopen(from, "rb");
    if (in == nullptr) {
        return last_error();
    }
    std::FILE* out = std::fopen(to, "wb");
    if (out == nullptr) {
        const int err = last_error();
        static_cast<void>(std::fclose(in));
        return err;
    }
    unsigned char chunk[copy_chunk];
    int err = 0;
    for (std::size_t got = 0; err == 0 && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        err = std::fwrite(chunk, 1, got, out) == got ? 0 : last_error();
    }
    if (err == 0 && std::ferror(in) != 0) {
        err = EIO;
    }
    const bool closed = std::fclose(out) == 0;
    if (err == 0 && !closed) {
        err = last_error();
    }
    static_cast<void>(std::fclose(in));
    return err != 0 ? err : remove_file(from);
}

}  // namespace

int create_new_file(const char* name, int& fd) {
    if (open_file != nullptr) {
        return EMFILE;
    }
    errno = 0;
    // "x": fails if the name exists, as C11 and C++17 define it.
    open_file = std::fopen(name, "wbx");
    fd = the_descriptor;
    return open_file != nullptr ? 0 : last_error();
}

int write_some(int /*fd*/, const void* data, std::size_t size, std::size_t& written) {
    errno = 0;
    written = std::fwrite(data, 1, size, open_file);
    return written == size ? 0 : last_error();
}

int sync_file(int /*fd*/) {
    errno = 0;
    return std::fflush(open_file) == 0 ? 0 : last_error();
}

int close_file(int /*fd*/) {
    errno = 0;
    const bool closed = std::fclose(open_file) == 0;
    open_file = nullptr;
    return closed ? 0 : last_error();
}

// A host without rename (newlib on bare metal answers ENOSYS) still ends with
// a whole result.bin: the complete temporary file is copied over it. Nothing
// else runs there to see the copy half done.
int replace_file(const char* from, const char* to) {
    errno = 0;
    if (std::rename(from, to) == 0) {
        return 0;
    }
    const int err = last_error();
    return err == ENOSYS ? copy_then_remove(from, to) : err;
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
