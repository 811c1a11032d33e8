#include "world/world_file.h"

#include "module/failure.h"
#include "world/record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vantor::world {

namespace {

// Record layouts, one letter a line: c a comment, t a text, f a real number, u an integer.
const std::string kColour = "cffff";
const std::string kCamera = "ct" + std::string(9, 'f');
const std::string kFog = "cfffuuu" + kColour;
const std::string kMaterial = "c" + kColour + kColour + kColour + kColour + kColour;
const std::string kObject = "ctfff" + kMaterial;
const std::string kLight = "ctuu" + std::string(13, 'f') + kColour + kColour + kColour + kColour;

struct Layout {
    bool counted;
    const std::string* record;
};

Layout layout_of(Section s) {
    static const std::string kNothing;
    switch (s) {
        case Section::Cameras: return {true, &kCamera};
        case Section::Fog: return {false, &kFog};
        case Section::Lights: return {true, &kLight};
        case Section::Textures: return {true, &kNothing};
        case Section::Objects: return {true, &kObject};
    }
    return {false, &kNothing};
}

HRESULT code_of(int error, bool writing) {
    if (error == ENOENT) return writing ? HRESULT_FROM_WIN32(3L) : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (error == ENOTDIR) return HRESULT_FROM_WIN32(3L);  // ERROR_PATH_NOT_FOUND
    if (error == EACCES || error == EPERM || error == EROFS) return E_ACCESSDENIED;
    return E_FAIL;
}

[[noreturn]] void refuse(const std::string& path, const char* doing, int error) {
    const std::string why = "The world file '" + path + "' cannot be " + doing + ": " + std::strerror(error) + ".";
    throw failure(code_of(error, doing[0] == 'w'), why.c_str());
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

size_t record_lines(Section section) { return layout_of(section).record->size(); }

std::string read_file(const std::string& path) {
    // Never blocks: a FIFO opens at once without a writer and is then refused with the rest.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) refuse(path, "read", errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) refuse(path, "read", errno);
    if (!S_ISREG(st.st_mode)) {
        const std::string why = "The world file '" + path + "' is not a regular file.";
        throw failure(E_INVALIDARG, why.c_str());
    }
    const std::string too_large = "The world file '" + path + "' is larger than 64 MB.";
    if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes) throw failure(E_FAIL, too_large.c_str());
    std::string bytes;
    bytes.resize(static_cast<size_t>(st.st_size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > kMaxFileBytes) throw failure(E_FAIL, too_large.c_str());  // it grew while read
            bytes.resize(std::min(bytes.size() * 2 + 4096, kMaxFileBytes + 1));
        }
        ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refuse(path, "read", errno);
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    bytes.resize(used);
    return bytes;
}

namespace {

// The lines of a file one after another (LF or CR LF ends), without copying them.
class Lines {
public:
    explicit Lines(std::string_view bytes) : rest_(bytes) {}
    size_t number() const { return number_; }  // of the line read last
    bool next(std::string_view* line) {
        if (rest_.empty()) return false;
        size_t end = rest_.find('\n');
        *line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
        ++number_;
        if (line->size() > kMaxLineBytes) {
            const std::string why = "Line " + std::to_string(number_) + " of the world file is longer than 64 KB.";
            throw failure(E_FAIL, why.c_str());
        }
        return true;
    }
    size_t left() const {
        size_t n = static_cast<size_t>(std::count(rest_.begin(), rest_.end(), '\n'));
        return n + (!rest_.empty() && rest_.back() != '\n' ? 1 : 0);
    }

private:
    std::string_view rest_;
    size_t number_ = 0;
};

}  // namespace

size_t check(std::string_view bytes, const std::vector<Section>& sections) {
    Lines all(bytes);  // every line is held to the limit, those after the sections too
    for (std::string_view line; all.next(&line);) {
    }
    Lines lines(bytes);
    auto next = [&]() -> std::string_view {
        std::string_view line;
        if (!lines.next(&line)) throw_cut_short(lines.number() + 1);
        return line;
    };
    auto record = [&](const std::string& layout) {
        for (char field : layout) {
            std::string_view line = next();
            bool ok = true;
            if (field == 'f') ok = parse_real(line, nullptr);
            else if (field == 'u') ok = parse_integer(line, nullptr);
            if (!ok) throw_not_a_number(lines.number(), line, false);
        }
    };
    for (Section s : sections) {
        const Layout layout = layout_of(s);
        if (!layout.counted) {
            record(*layout.record);
            continue;
        }
        std::string_view line = next();
        LONG count = 0;
        if (!parse_count(line, &count)) throw_not_a_number(lines.number(), line, true);
        if (count > kMaxRecords) throw_too_many(lines.number(), count);
        const size_t per = layout.record->size();
        const size_t left = per ? lines.left() : 0;
        if (per && static_cast<size_t>(count) > left / per) {
            const std::string why = "Line " + std::to_string(lines.number()) + " of the world file holds the count " +
                                    std::to_string(count) + ", more records than the " + std::to_string(left) +
                                    " lines left can hold.";
            throw failure(E_FAIL, why.c_str());
        }
        for (LONG i = 0; i < count && per; ++i) record(*layout.record);
    }
    return lines.number();
}

void replace_file(const std::string& path, std::string_view bytes) {
    // Written through a link to the file it names, as opening it for writing would.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        const std::string why = "The world file '" + path + "' is not a regular file.";
        throw failure(E_INVALIDARG, why.c_str());
    }
    const std::string folder = folder_of(target);
    std::string temporary = folder + "/.world-XXXXXX";
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) refuse(path, "written", errno);
    auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        refuse(path, "written", error);
    };
    // The new file keeps the old one's permission bits (a new one gets what the umask allows).
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
        if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
            // Not the owner's to give: the file becomes the writer's, as a fresh one would.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.get(), mode) != 0) fail(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0) fail(errno);
    if (::close(fd.release()) != 0) fail(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) fail(errno);
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());  // the rename itself made lasting, where the file system can
}

}  // namespace vantor::world
