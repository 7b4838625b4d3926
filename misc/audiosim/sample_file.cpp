// The sample-file writer: looks at what result.bin is, picks the way to write
// it (replaced whole, written in place, or written through as "wb" would), and
// reports a failure from one place, in one line. Costs one look at result.bin,
// one write of the 88,200-byte buffer (swapped into little-endian order first
// on a big-endian host) and a few system calls; nothing is allocated.
#include "sample_file.h"

#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// Bytes per stored sample: 16 bits, low byte first.
constexpr std::size_t bytes_per_sample = 2;
constexpr std::size_t file_size = static_cast<std::size_t>(sample_count) * bytes_per_sample;

const char result_name[] = "result.bin";
// Temporary names tried before giving up when every one is taken.
constexpr int temp_name_attempts = 100;
// Room for ".result.bin.<pid>-<stamp>": a long and 16 hex digits.
constexpr std::size_t temp_name_size = 64;
// The temporary file's name, kept for the report should the file stay.
char temp_name[temp_name_size];

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "samples are stored low byte first, from a little- or big-endian host");

// Puts every sample's two bytes in file order, low byte first, in place. A
// little-endian host holds them so already; a big-endian one swaps them.
void store_little_endian(int16_t (&samples)[sample_count]) {
    if constexpr (std::endian::native == std::endian::big) {
        for (int16_t& sample : samples) {
            const auto bits = static_cast<uint16_t>(sample);  // two's-complement pattern
            const uint8_t bytes[bytes_per_sample] = {static_cast<uint8_t>(bits & 0xFFU),
                                                     static_cast<uint8_t>(bits >> 8)};
            std::memcpy(&sample, bytes, sizeof sample);
        }
    }
}

// How a step ended: err is 0, an errno or changed_since_look; step names what
// failed where the reason alone would mislead. left names a temporary file
// that stays beside result.bin: complete and kept on purpose when left_err is
// 0, else one that could not be removed, for that reason. held: interrupts
// are held, to be released once the outcome is reported.
struct outcome {
    int err = 0;
    const char* step = nullptr;
    const char* left = nullptr;
    int left_err = 0;
    bool held = false;
};

// Reports how the save ended: a line for result.bin's failure, and a line
// naming any temporary file left, so that the user can deal with it. Should
// printing fail too, the exit status still tells. Returns whether all went well.
bool report(const outcome& end) {
    if (end.err != 0) {
        const bool has_reason = end.err != changed_since_look;
        static_cast<void>(std::fprintf(
            stderr, "audiosim: %s: %s%s%s\n", result_name, end.step != nullptr ? end.step : "",
            end.step != nullptr && has_reason ? ": " : "", has_reason ? std::strerror(end.err) : ""));
    }
    if (end.left != nullptr && end.left_err != 0) {
        static_cast<void>(
            std::fprintf(stderr, "audiosim: %s: cannot remove: %s\n", end.left, std::strerror(end.left_err)));
    } else if (end.left != nullptr) {
        static_cast<void>(
            std::fprintf(stderr, "audiosim: %s: the complete file is kept as %s\n", result_name, end.left));
    }
    return end.err == 0 && end.left == nullptr;
}

// Writes all of bytes to file, retrying interrupted and short writes.
int write_all(open_file* file, const uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        std::size_t written = 0;
        const int err = write_some(file, bytes, size, written);
        if (err == EINTR) {
            continue;
        }
        if (err != 0) {
            return err;
        }
        if (written == 0) {
            return EIO;  // no progress and no reason given
        }
        bytes += written;
        size -= written;
    }
    return 0;
}

// Unless err tells of an earlier failure, writes the whole file and syncs it;
// closes it either way. Returns the first error.
int finish_file(open_file* file, const uint8_t* bytes, int err = 0) {
    if (err == 0) {
        err = write_all(file, bytes, file_size);
    }
    if (err == 0) {
        err = sync_file(file);
    }
    const int close_err = close_file(file);
    return err != 0 ? err : close_err;
}

// Writes result.bin exactly as a plain "wb" open would: through a link, into a
// pipe or a device. Not atomic: a failed or interrupted write leaves a regular
// target short. A pipe whose reader leaves ends the run by SIGPIPE, as it ends
// cat or tee.
outcome write_through(const uint8_t* bytes) {
    open_file* file = nullptr;
    const int err = open_through(result_name, file);
    return {err != 0 ? err : finish_file(file, bytes)};
}

// Writes the regular file seen in place, not atomically, as "wb" would. A file
// changed since it was seen is a failure of its own; one the runner may not
// open in place (or a host that cannot) gives the failure instead, if any,
// that led here. Sets truncated once result.bin has lost its earlier content.
outcome write_in_place(const uint8_t* bytes, const seen_file& seen, const outcome& instead, bool& truncated) {
    open_file* file = nullptr;
    const int err = open_in_place(result_name, seen, file);
    if (err == changed_since_look) {
        return {err, "changed while it was being opened"};
    }
    if (err != 0) {
        const bool refused = err == EACCES || err == EPERM || err == ENOSYS;
        return refused && instead.err != 0 ? instead : outcome{err};
    }
    truncated = true;
    return {finish_file(file, bytes)};
}

// Creates a new, empty temporary file beside result.bin, named in temp_name.
// The name holds the process id and the time, so neither a run at the same
// moment nor files left by killed runs with the same id (as in a container,
// where every run may be process 1) can take all the names.
int create_temp_file(open_file*& file) {
    int err = EEXIST;
    for (int attempt = 0; attempt < temp_name_attempts && err == EEXIST; ++attempt) {
        unsigned long long ticks = 0;
        err = clock_ticks(ticks);
        if (err != 0) {
            return err;
        }
        const int length =
            std::snprintf(temp_name, sizeof temp_name, ".%s.%ld-%llx", result_name, process_id(), ticks);
        err = length > 0 && static_cast<std::size_t>(length) < sizeof temp_name
                  ? create_new_file(temp_name, file)
                  : ENAMETOOLONG;
    }
    return err;
}

// With interrupts held: writes the complete file under a temporary name,
// syncs and closes it, renames it onto result.bin and syncs the folder, so
// result.bin is only ever the old file or the new complete one, and stays the
// new one after a power cut. The new file keeps an earlier result.bin's
// permissions (and owner and group, where the process may set them). Where
// the folder takes no new file, or result.bin cannot be renamed onto, it is
// written in place; the temporary file is removed, or named when it cannot
// be, or kept when it is the only complete file left.
outcome replace_held(const uint8_t* bytes, const seen_file& seen) {
    const bool earlier_file = seen.kind == file_kind::regular;
    bool truncated = false;
    open_file* file = nullptr;
    const int create_err = create_temp_file(file);
    if (create_err != 0) {
        const outcome refused{create_err, "cannot create a temporary file beside it"};
        const bool locked = (create_err == EACCES || create_err == EPERM) && earlier_file;
        return locked ? write_in_place(bytes, seen, refused, truncated) : refused;
    }
    outcome end{finish_file(file, bytes, earlier_file ? keep_attributes(file, seen) : 0)};
    if (end.err == 0) {
        const int err = replace_file(temp_name, result_name);
        if (err == 0) {
            return {sync_folder(result_name), "replaced, but its folder could not be flushed to disk"};
        }
        end = {err, "cannot replace it with the new file"};
        if (err == EBUSY || err == ENOSYS) {
            end = write_in_place(bytes, seen, end, truncated);
        }
    }
    if (end.err != 0 && truncated) {
        return {end.err, end.step, temp_name};
    }
    const int remove_err = remove_file(temp_name);
    return {end.err, end.step, remove_err != 0 ? temp_name : nullptr, remove_err};
}

// Replaces result.bin with interrupts that would end the process held back
// while the temporary file exists, so an interrupted run never leaves it
// behind; a held one (such as SIGXFSZ from a file-size limit) takes effect
// once the temporary file is gone and the outcome reported.
outcome replace(const uint8_t* bytes, const seen_file& seen) {
    const int hold_err = hold_interrupts();
    if (hold_err != 0) {
        return {hold_err, "cannot hold back interrupts"};
    }
    outcome end = replace_held(bytes, seen);
    end.held = true;
    return end;
}

// How result.bin is written, by what it is:
//
//   result.bin is                                  way
//   absent, or a regular file                      replace (replace_held)
//   a regular file that is a mount point           in place, as "wb" writes it
//   a link, a FIFO, a device                       through, as "wb" writes it
//   a link planted by another user in /tmp         refuse: EACCES
//   a folder                                       refuse: EISDIR, before writing
//
// and when replacing meets
//   a folder refusing the temporary file           in place, if result.bin is a
//     (EACCES, EPERM)                                regular file the runner may write
//   a rename refused with EBUSY (a mount point)    in place, keeping the complete
//     or ENOSYS (a host without rename)              temporary file should that fail
enum class way { replace, in_place, through, refuse };

struct decision {
    way how;
    int refusal = 0;
};

decision choose(const seen_file& seen) {
    switch (seen.kind) {
        case file_kind::absent:
            return {way::replace};
        case file_kind::regular:
            return {seen.mount_point ? way::in_place : way::replace};
        case file_kind::link:
            return seen.planted ? decision{way::refuse, EACCES} : decision{way::through};
        case file_kind::special:
            return {way::through};
        case file_kind::folder:
            break;
    }
    return {way::refuse, EISDIR};
}

outcome save(const uint8_t* bytes) {
    seen_file seen;
    const int err = look_at(result_name, seen);
    if (err != 0) {
        return {err};
    }
    const decision chosen = choose(seen);
    bool truncated = false;
    switch (chosen.how) {
        case way::replace:
            return replace(bytes, seen);
        case way::in_place:
            return write_in_place(bytes, seen, {}, truncated);
        case way::through:
            return write_through(bytes);
        case way::refuse:
            break;
    }
    return {chosen.refusal};
}

}  // namespace

bool write_sample_file(int16_t (&samples)[sample_count]) {
    store_little_endian(samples);
    const outcome end = save(reinterpret_cast<const uint8_t*>(samples));
    const bool saved = report(end);
    const int release_err = end.held ? release_interrupts() : 0;
    return report({release_err, "cannot release held interrupts"}) && saved;
}
