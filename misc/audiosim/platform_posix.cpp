// Flush to disk on POSIX systems (Linux, macOS, the BSDs) and WebAssembly with
// WASI (whose C library has fsync, the host's fd_sync): fsync(2) on the
// stream's descriptor, one system call. On macOS it empties the kernel's
// buffers, not the drive's own cache.
#include <unistd.h>

#include "platform.h"

bool flush_to_disk(std::FILE* file) { return fsync(fileno(file)) == 0; }
