// vantor/file.h — finding and reading a file named by a script or a data file.
//
//   std::string path = vantor::find_file(vantor::with_slashes("Media\\Wood.BMP"));  // "" if none
//   std::vector<uint8_t> bytes;
//   if (!vantor::read_regular_file(path.c_str(), &bytes)) ... // missing, not a regular file, too large
//
// Scripts and mesh files are often written on systems whose file names ignore letter case:
// find_file() takes the name as it is when such a file exists, else the one file of its directory
// whose name equals it ignoring case.
//
// Only regular files are read. Anything else is refused at once: the open never waits (a FIFO
// would hold it until some writer came, a terminal would become the process's own).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace vantor {

// Backslashes, which separate directories in names written Windows-style, as slashes.
inline std::string with_slashes(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

inline bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// `path` when it names a regular file, else the first regular file of its directory (in
// directory order) whose name equals its last component ignoring letter case, else "".
inline std::string find_file(const std::string& path) {
    if (path.empty()) return "";
    if (is_regular_file(path)) return path;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return "";
    std::string found;
    while (dirent* e = ::readdir(dir)) {
        if (::strcasecmp(e->d_name, leaf.c_str()) != 0) continue;
        const std::string candidate = (slash == std::string::npos ? "" : folder) + e->d_name;
        if (is_regular_file(candidate)) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

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
