// Flush to disk on Windows: the C runtime's _commit on the stream's
// descriptor, which asks Windows to write the file's buffers to the disk.
#include <cerrno>

#include <io.h>

#include "platform.h"

int flush_to_disk(std::FILE* file) {
    errno = 0;
    return _commit(_fileno(file)) == 0 ? 0 : errno;
}
