// The registry: keys and values held in memory, loaded from a text file and written back
// atomically after every change. The file is re-read whenever it changes on disk (another
// process registered a component) or $VANTOR_REGISTRY names another file.
#include <vantor/debug.h>
#include <vantor/registry.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

struct Value {
    std::string name;  // "" is the default value
    DWORD type = REG_SZ;
    std::string text;
    DWORD number = 0;
};

struct Key {
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    // Subtrees are taken apart with a work list, not by recursion: a hostile file may nest keys
    // deeper than the stack allows.
    ~Key() { clear_children(); }

    std::string name;
    std::map<std::string, std::unique_ptr<Key>> children;  // by lower-case name
    std::map<std::string, Value> values;                   // by lower-case name

    void clear_children() {
        std::vector<std::unique_ptr<Key>> pending;
        for (auto& [n, c] : children) pending.push_back(std::move(c));
        children.clear();
        while (!pending.empty()) {
            std::unique_ptr<Key> k = std::move(pending.back());
            pending.pop_back();
            for (auto& [n, c] : k->children) pending.push_back(std::move(c));
            k->children.clear();
        }
    }

    Key* child(const std::string& n) const {
        auto it = children.find(lower(n));
        return it == children.end() ? nullptr : it->second.get();
    }
};

constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

int root_index(HKEY key) {
    uintptr_t v = reinterpret_cast<uintptr_t>(key);
    if (v == reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT)) return 0;
    if (v == reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER)) return 1;
    if (v == reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE)) return 2;
    return -1;
}

// An open key: a root and a path below it (resolved again at each use, since the tree may be
// re-read from disk in between).
struct OpenKey {
    int root;
    std::vector<std::string> path;
};

struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    bool operator==(const Stamp& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

struct Registry {
    std::recursive_mutex lock;
    std::string path;
    bool loaded = false;
    Stamp stamp;
    std::string problem;  // why the file was set aside; "" when healthy
    Key roots[3];
    std::set<OpenKey*> open;
    int batch = 0;       // nesting of VantorRegistryBeginUpdate
    bool dirty = false;  // changes not yet written while batching
    int batch_lock = -1; // the lock file held across a batch
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

std::string registry_path() {
    if (const char* p = std::getenv("VANTOR_REGISTRY"); p && *p) return p;
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) base = x;
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.config";
    else base = "/tmp";
    return base + "/vantor/registry";
}

// ---- parsing ------------------------------------------------------------------------------

bool unquote(const std::string& line, size_t& pos, std::string& out, std::string& error) {
    if (pos >= line.size() || line[pos] != '"') {
        error = "expected a quoted string";
        return false;
    }
    ++pos;
    out.clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') return true;
        if (c == '\\') {
            if (pos >= line.size()) break;
            char e = line[pos++];
            switch (e) {
                case '\\': out.push_back('\\'); break;
                case '"': out.push_back('"'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                default: error = std::string("unknown escape \\") + e; return false;
            }
        } else {
            out.push_back(c);
        }
    }
    error = "unterminated string";
    return false;
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out.push_back(c);
        }
    }
    return out + "\"";
}

bool split_path(const std::string& text, std::vector<std::string>& parts) {
    parts.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        if (end == start) return false;  // empty component
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
        if (end == text.size()) break;
    }
    return !parts.empty();
}

// The system's limits: a key is at most 512 levels deep and its path below the root at most
// 32,767 characters; names hold no control characters (they would break the file's lines).
constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxPathLength = 32767;

bool within_limits(const std::vector<std::string>& path, size_t from = 0) {
    if (path.size() - from > kMaxDepth) return false;
    size_t length = 0;
    for (size_t i = from; i < path.size(); ++i) length += path[i].size() + (i > from ? 1 : 0);
    return length <= kMaxPathLength;
}

// Whether the keys of `path` that do not exist yet under `root` have names free of control
// characters (a tab that an older writer let into an existing name is left alone).
bool new_names_valid(const Key& root, const std::vector<std::string>& path) {
    const Key* k = &root;
    for (const std::string& name : path) {
        if (k) k = k->child(name);
        if (!k)
            for (unsigned char c : name)
                if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

Key* ensure(Key& root, const std::vector<std::string>& path, size_t from = 0) {
    Key* k = &root;
    for (size_t i = from; i < path.size(); ++i) {
        Key* c = k->child(path[i]);
        if (!c) {
            auto made = std::make_unique<Key>();
            made->name = path[i];
            c = made.get();
            k->children[lower(path[i])] = std::move(made);
        }
        k = c;
    }
    return k;
}

bool parse(const std::string& text, Key (&roots)[3], std::string& error) {
    Key* current = nullptr;
    size_t line_no = 0, pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == ';' || line[first] == '#') continue;
        line = line.substr(first);
        std::string why;
        if (line[0] == '[') {
            if (line.back() != ']') why = "a key line must end with ']'";
            else {
                std::vector<std::string> parts;
                if (!split_path(line.substr(1, line.size() - 2), parts)) why = "empty key name";
                else {
                    int root = -1;
                    for (int r = 0; r < 3; ++r)
                        if (lower(parts[0]) == lower(kRootNames[r])) root = r;
                    if (root < 0) why = "unknown root key '" + parts[0] + "'";
                    // A tab or other control character that an older writer let into a key name
                    // still reads (a line break cannot); new names with them are refused.
                    else if (!within_limits(parts, 1)) why = "a key deeper than 512 levels or longer than 32767 characters";
                    else current = ensure(roots[root], parts, 1);
                }
            }
        } else if (!current) {
            why = "a value before any key";
        } else {
            Value v;
            size_t p = 0;
            if (line[0] == '@') {
                p = 1;
            } else if (!unquote(line, p, v.name, why)) {
                // why is set
            }
            if (why.empty()) {
                if (p >= line.size() || line[p] != '=') why = "expected '='";
                else {
                    ++p;
                    if (line.compare(p, 6, "dword:") == 0) {
                        std::string hex = line.substr(p + 6);
                        char* stop = nullptr;
                        unsigned long n = std::strtoul(hex.c_str(), &stop, 16);
                        if (hex.empty() || hex.size() > 8 || *stop) why = "bad dword value";
                        v.type = REG_DWORD;
                        v.number = static_cast<DWORD>(n);
                    } else if (unquote(line, p, v.text, why)) {
                        if (p != line.size()) why = "text after the value";
                    }
                }
            }
            if (why.empty()) current->values[lower(v.name)] = v;
        }
        if (!why.empty()) {
            error = "line " + std::to_string(line_no) + ": " + why;
            return false;
        }
    }
    return true;
}

std::string value_text(const Value& v) {
    if (v.type != REG_DWORD) return quote(v.text);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v.number);
    return buf;
}

void write_values(const Key& k, std::string& out) {
    // The default value is written first, as "@", then the named values in order.
    auto it = k.values.find("");
    if (it != k.values.end()) out += "@=" + value_text(it->second) + "\n";
    for (const auto& [name, v] : k.values) {
        if (!name.empty()) out += quote(v.name) + "=" + value_text(v) + "\n";
    }
}

// Writes a root and everything under it, depth first with a work list (no recursion). A key
// gets its own "[path]" line only when it has values or no subkeys: the keys above a listed
// key exist implicitly, so a deep chain costs its full path once, not once per level.
void serialise(const Key& root, const char* root_name, std::string& out) {
    std::string path = root_name;
    if (!root.values.empty()) {
        out += "[" + path + "]\n";
        write_values(root, out);
    }
    using Iter = std::map<std::string, std::unique_ptr<Key>>::const_iterator;
    struct Frame {
        Iter next, end;
        size_t length;  // of `path` at this level
    };
    std::vector<Frame> stack{{root.children.begin(), root.children.end(), path.size()}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.end) {
            stack.pop_back();
            continue;
        }
        const Key& k = *(top.next++)->second;
        path.resize(top.length);
        path += "\\";
        path += k.name;
        if (!k.values.empty() || k.children.empty()) {
            out += "[" + path + "]\n";
            write_values(k, out);
        }
        stack.push_back({k.children.begin(), k.children.end(), path.size()});
    }
}

void report(Registry& r) {
    std::string text = "vantor: the registry file " + r.path + " cannot be used (" + r.problem +
                       "); it is treated as empty and will not be overwritten.\n";
    OutputDebugStringA(text.c_str());
    std::fputs(text.c_str(), stderr);
}

void clear_tree(Registry& r) {
    for (Key& k : r.roots) {
        k.clear_children();
        k.values.clear();
    }
}

// Brings the in-memory tree up to date with the file (not while a batch of changes is pending).
void refresh(Registry& r) {
    if (r.batch > 0 && r.loaded) return;
    std::string path = registry_path();
    struct stat st{};
    Stamp now;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists) {
        now.dev = st.st_dev;
        now.ino = st.st_ino;
        now.size = st.st_size;
        now.mtime = st.st_mtim;
    }
    if (r.loaded && path == r.path && now == r.stamp) return;
    r.path = path;
    r.stamp = now;
    r.loaded = true;
    r.problem.clear();
    clear_tree(r);
    if (!exists) return;
    // Only a regular file is ours to read and to replace: a FIFO would block every reader, and a
    // device or folder would be swapped for a file by the next write.
    if (!S_ISREG(st.st_mode)) {
        r.problem = "it is not a regular file";
        report(r);
        return;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        r.problem = std::string("cannot read it: ") + std::strerror(errno);
        report(r);
        return;
    }
    std::string text;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    bool read_error = std::ferror(f);
    std::fclose(f);
    std::string error;
    if (read_error) error = "cannot read it";
    else if (text.find('\0') != std::string::npos) error = "it holds binary data";
    else parse(text, r.roots, error);
    if (!error.empty()) {
        clear_tree(r);
        r.problem = error;
        report(r);
    }
}

bool make_dirs(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    std::string dir = path.substr(0, slash);
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            std::string part = dir.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

// An advisory lock on "<registry>.lock", held by a writer from re-reading the file to renaming
// the new one into place, so that writers in other processes cannot lose each other's changes.
// Without a lock file (a folder we cannot write) the write itself fails later.
int lock_file(const std::string& path) {
    make_dirs(path);
    int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

void unlock_file(int& fd) {
    if (fd >= 0) ::close(fd);  // closing the only descriptor releases the lock
    fd = -1;
}

// Takes the file lock and re-reads the file under it (unless a batch already holds the lock).
struct WriteLock {
    explicit WriteLock(Registry& r) {
        if (r.batch > 0) return;
        fd = lock_file(registry_path());
        // A healthy file is re-read whatever its time stamp says: another writer may have
        // replaced it within the file system's time resolution with a file of the same size.
        if (r.problem.empty()) r.loaded = false;
    }
    ~WriteLock() { unlock_file(fd); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    int fd = -1;
};

// Writes the tree to the file (temporary file, then rename). ERROR_SUCCESS or why not.
LONG save(Registry& r) {
    std::string text = "; Vantor registry: keys and values of the components registered on this machine.\n";
    for (int i = 0; i < 3; ++i) serialise(r.roots[i], kRootNames[i], text);
    if (!make_dirs(r.path)) return ERROR_CANTWRITE;
    std::string temp = r.path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return ERROR_CANTWRITE;
    // The replacement keeps the permission bits of the file it replaces.
    struct stat old{};
    if (::stat(r.path.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return ERROR_CANTWRITE;
        }
        done += static_cast<size_t>(w);
    }
    if (::fsync(fd) != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    ::close(fd);
    if (::rename(temp.c_str(), r.path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    struct stat st{};
    if (::stat(r.path.c_str(), &st) == 0) r.stamp = Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    return ERROR_SUCCESS;
}

// Resolves a key handle plus an optional sub path to (root, full path).
LONG resolve(Registry& r, HKEY key, LPCSTR sub, int& root, std::vector<std::string>& path) {
    int ri = root_index(key);
    if (ri >= 0) {
        root = ri;
        path.clear();
    } else {
        auto* k = reinterpret_cast<OpenKey*>(key);
        if (!key || !r.open.count(k)) return ERROR_INVALID_HANDLE;
        root = k->root;
        path = k->path;
    }
    if (sub && *sub) {
        std::vector<std::string> parts;
        std::string s = sub;
        while (!s.empty() && s.back() == '\\') s.pop_back();
        if (!s.empty() && !split_path(s, parts)) return ERROR_INVALID_PARAMETER;
        path.insert(path.end(), parts.begin(), parts.end());
    }
    return within_limits(path) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

Key* find(Registry& r, int root, const std::vector<std::string>& path) {
    Key* k = &r.roots[root];
    for (const std::string& p : path) {
        k = k->child(p);
        if (!k) return nullptr;
    }
    return k;
}

HKEY open_handle(Registry& r, int root, std::vector<std::string> path) {
    auto* k = new OpenKey{root, std::move(path)};
    r.open.insert(k);
    return reinterpret_cast<HKEY>(k);
}

// Runs a change; writes the file when it succeeds; on a failed write re-reads the file.
template <class F>
LONG change(Registry& r, F&& f) {
    if (!r.problem.empty()) return ERROR_BADDB;
    LONG e = f();
    if (e != ERROR_SUCCESS) return e;
    if (r.batch > 0) {
        r.dirty = true;
        return ERROR_SUCCESS;
    }
    e = save(r);
    if (e != ERROR_SUCCESS) {
        r.loaded = false;
        refresh(r);
    }
    return e;
}

// One registry call's view: the registry locked and brought up to date, and the key named by
// (key, sub) resolved to a root and a path; `error` says why it could not be resolved.
struct Access {
    enum Mode { kRead, kWrite };
    Access(HKEY key, LPCSTR sub, Mode mode = kRead) : r(registry()), guard(r.lock) {
        if (mode == kWrite) write_lock.emplace(r);
        refresh(r);
        error = resolve(r, key, sub, root, path);
    }
    Registry& r;
    std::lock_guard<std::recursive_mutex> guard;
    std::optional<WriteLock> write_lock;
    int root = 0;
    std::vector<std::string> path;
    LONG error = ERROR_SUCCESS;
};

DWORD copy_text(const std::string& s, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0) return static_cast<DWORD>(s.size());
    size_t n = std::min<size_t>(s.size(), size - 1);
    std::memcpy(buffer, s.data(), n);
    buffer[n] = 0;
    return static_cast<DWORD>(s.size());
}

}  // namespace

extern "C" {

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Access a(key, subKey);
    if (a.error != ERROR_SUCCESS) return a.error;
    Registry& r = a.r;
    const int root = a.root;
    std::vector<std::string>& path = a.path;
    if (!find(r, root, path)) return ERROR_FILE_NOT_FOUND;
    *result = open_handle(r, root, std::move(path));
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result,
                     LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Access a(key, subKey, Access::kWrite);
    if (a.error != ERROR_SUCCESS) return a.error;
    Registry& r = a.r;
    const int root = a.root;
    std::vector<std::string>& path = a.path;
    bool existed = find(r, root, path) != nullptr;
    if (!existed && !new_names_valid(r.roots[root], path)) return ERROR_INVALID_PARAMETER;
    if (!existed) {
        LONG e = change(r, [&] {
            ensure(r.roots[root], path);
            return ERROR_SUCCESS;
        });
        if (e != ERROR_SUCCESS) return e;
    }
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = open_handle(r, root, std::move(path));
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (root_index(key) >= 0) return ERROR_SUCCESS;
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> g(r.lock);
    auto* k = reinterpret_cast<OpenKey*>(key);
    if (!r.open.erase(k)) return ERROR_INVALID_HANDLE;
    delete k;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, BYTE* data, LPDWORD dataSize) {
    Access a(key, nullptr);
    if (a.error != ERROR_SUCCESS) return a.error;
    Registry& r = a.r;
    const int root = a.root;
    std::vector<std::string>& path = a.path;
    Key* k = find(r, root, path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    auto it = k->values.find(lower(valueName ? valueName : ""));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& v = it->second;
    if (type) *type = v.type;
    DWORD need = v.type == REG_DWORD ? 4 : static_cast<DWORD>(v.text.size() + 1);
    if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *dataSize = need;
        return ERROR_SUCCESS;
    }
    if (*dataSize < need) {
        *dataSize = need;
        return ERROR_MORE_DATA;
    }
    if (v.type == REG_DWORD) std::memcpy(data, &v.number, 4);
    else std::memcpy(data, v.text.c_str(), need);
    *dataSize = need;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    if (type != REG_SZ && type != REG_DWORD) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && (!data || dataSize != 4)) return ERROR_INVALID_PARAMETER;
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    if (type == REG_SZ) {
        // The text ends at its first NUL; anything but more NULs after it would be lost.
        const char* text = reinterpret_cast<const char*>(data);
        for (size_t i = strnlen(text, dataSize); i < dataSize; ++i)
            if (text[i] != '\0') return ERROR_INVALID_PARAMETER;
    }
    Access a(key, nullptr, Access::kWrite);
    if (a.error != ERROR_SUCCESS) return a.error;
    Registry& r = a.r;
    const int root = a.root;
    std::vector<std::string>& path = a.path;
    return change(r, [&]() -> LONG {
        Key* k = find(r, root, path);
        if (!k) return ERROR_FILE_NOT_FOUND;  // the key was deleted meanwhile
        Value v;
        v.name = valueName ? valueName : "";
        v.type = type;
        if (type == REG_DWORD) std::memcpy(&v.number, data, 4);
        else v.text.assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), dataSize));
        k->values[lower(v.name)] = v;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    Access a(key, nullptr, Access::kWrite);
    if (a.error != ERROR_SUCCESS) return a.error;
    Registry& r = a.r;
    const int root = a.root;
    std::vector<std::string>& path = a.path;
    Key* k = find(r, root, path);
    if (!r.problem.empty()) return ERROR_BADDB;  // nothing can be removed from a file set aside
    if (!k || !k->values.count(lower(valueName ? valueName : ""))) return ERROR_FILE_NOT_FOUND;
    return change(r, [&]() -> LONG {
        k->values.erase(lower(valueName ? valueName : ""));
        return ERROR_SUCCESS;
    });
}

static LONG delete_key(HKEY key, LPCSTR subKey, bool tree) {
    Access a(key, subKey, Access::kWrite);
    if (a.error != ERROR_SUCCESS) return a.error;
    Registry& r = a.r;
    const int root = a.root;
    std::vector<std::string>& path = a.path;
    Key* k = find(r, root, path);
    if (!r.problem.empty()) return ERROR_BADDB;  // nothing can be removed from a file set aside
    if (!k) return ERROR_FILE_NOT_FOUND;
    if (path.empty()) {
        // A root itself (or, for a tree delete without a sub key, an open key) keeps existing:
        // only what is under it goes.
        if (!tree) return ERROR_ACCESS_DENIED;
        return change(r, [&]() -> LONG {
            k->clear_children();
            k->values.clear();
            return ERROR_SUCCESS;
        });
    }
    if (!tree && !k->children.empty()) return ERROR_ACCESS_DENIED;
    if (tree && !(subKey && *subKey)) {
        return change(r, [&]() -> LONG {
            k->clear_children();
            k->values.clear();
            return ERROR_SUCCESS;
        });
    }
    std::vector<std::string> parent_path(path.begin(), path.end() - 1);
    Key* parent = find(r, root, parent_path);
    return change(r, [&]() -> LONG {
        auto it = parent->children.find(lower(path.back()));
        if (it != parent->children.end()) {
            it->second->clear_children();
            parent->children.erase(it);
        }
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    return delete_key(key, subKey, false);
}

LONG RegDeleteTreeA(HKEY key, LPCSTR subKey) { return delete_key(key, subKey, true); }

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPSTR, LPDWORD, void*) {
    if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
    Access a(key, nullptr);
    if (a.error != ERROR_SUCCESS) return a.error;
    Registry& r = a.r;
    const int root = a.root;
    std::vector<std::string>& path = a.path;
    Key* k = find(r, root, path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    if (index >= k->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k->children.begin();
    std::advance(it, index);
    const std::string& n = it->second->name;
    if (*nameSize <= n.size()) {
        *nameSize = static_cast<DWORD>(n.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, n.c_str(), n.size() + 1);
    *nameSize = static_cast<DWORD>(n.size());
    return ERROR_SUCCESS;
}

void VantorRegistryBeginUpdate() {
    Registry& r = registry();
    r.lock.lock();  // held until the matching end: other threads wait for the whole batch
    if (r.batch == 0) {
        // Other processes wait for the whole batch too.
        r.batch_lock = lock_file(registry_path());
        if (r.problem.empty()) r.loaded = false;
    }
    refresh(r);
    ++r.batch;
}

LONG VantorRegistryEndUpdate() {
    Registry& r = registry();
    LONG e = ERROR_SUCCESS;
    if (r.batch > 0 && --r.batch == 0 && r.dirty) {
        r.dirty = false;
        e = save(r);
        if (e != ERROR_SUCCESS) {
            r.loaded = false;
            refresh(r);
        }
    }
    if (r.batch == 0) unlock_file(r.batch_lock);
    r.lock.unlock();
    return e;
}

DWORD VantorRegistryPath(LPSTR buffer, DWORD size) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> g(r.lock);
    refresh(r);
    return copy_text(r.path, buffer, size);
}

DWORD VantorRegistryProblem(LPSTR buffer, DWORD size) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> g(r.lock);
    refresh(r);
    return copy_text(r.problem, buffer, size);
}

}  // extern "C"
