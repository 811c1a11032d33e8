// vantor/file.h — reading a file named by a script or a data file.
//
//   std::vector<uint8_t> bytes;
//   if (!vantor::read_regular_file(path, &bytes)) ... // missing, not a regular file, too large
//
// Only regular files are read. Anything else is refused at once: the open never waits (a FIFO
// would hold it until some writer came, a terminal would become the process's own).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

namespace vantor {

inline bool read_regular_file(const char* path, std::vector<uint8_t>* out,
                              uint64_t max_bytes = std::numeric_limits<uint64_t>::max()) {
    out->clear();
    if (!path) return false;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= max_bytes;
    try {
        if (ok) out->resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    // A file that shrinks while it is read is refused; one that grows is read as it was.
    for (size_t done = 0; ok && done < out->size();) {
        const ssize_t got = ::read(fd, out->data() + done, out->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) ok = false;
        else done += static_cast<size_t>(got);
    }
    ::close(fd);
    if (!ok) out->clear();
    return ok;
}

}  // namespace vantor
