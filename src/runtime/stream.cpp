// World-file streams: a FILE (or a buffer in memory) behind a handle, text lines with CR LF line
// ends on disk.
#include <vantor/stream.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

struct Stream {
    FILE* file = nullptr;      // null for a stream in memory
    bool writing = false;
    bool has_pending = false;  // a line that did not fit the caller's buffer
    std::string pending;
    std::string memory;        // a memory stream's bytes: what it reads, or what was written
    size_t offset = 0;         // where a memory stream reads next
    DWORD lines = 0;           // lines read whole so far
};

Stream* resolve(uint32_t h) { return static_cast<Stream*>(HandleResolve(h, kHandleStream)); }

bool read_memory_line(Stream* s, std::string& line) {
    line.clear();
    if (s->offset >= s->memory.size()) return false;
    size_t end = s->memory.find('\n', s->offset);
    if (end == std::string::npos) end = s->memory.size();
    line.assign(s->memory, s->offset, end - s->offset);
    s->offset = end < s->memory.size() ? end + 1 : end;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool read_raw_line(FILE* f, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

}  // namespace

extern "C" {

uint32_t VantorStreamOpen(LPCSTR path, LPCSTR mode) {
    if (!path || !*path || !mode) return 0;
    bool write = std::strcmp(mode, "w") == 0;
    if (!write && std::strcmp(mode, "r") != 0) return 0;
    FILE* f = std::fopen(path, write ? "wb" : "rb");
    if (!f) return 0;
    auto* s = new Stream;
    s->file = f;
    s->writing = write;
    uint32_t h = HandleCreate(kHandleStream, s);
    if (!h) {
        std::fclose(f);
        delete s;
    }
    return h;
}

uint32_t VantorStreamOpenMemory(LPCSTR data, DWORD size, LPCSTR mode) {
    if (!mode || (std::strcmp(mode, "w") != 0 && std::strcmp(mode, "r") != 0) || (size && !data)) return 0;
    auto* s = new (std::nothrow) Stream;
    if (!s) return 0;
    s->writing = mode[0] == 'w';
    if (!s->writing && size) s->memory.assign(data, size);
    uint32_t h = HandleCreate(kHandleStream, s);
    if (!h) delete s;
    return h;
}

DWORD VantorStreamContents(uint32_t h, LPCSTR* data) {
    Stream* s = resolve(h);
    if (data) *data = nullptr;
    if (!s || s->file) return 0;
    if (data) *data = s->memory.data();
    return static_cast<DWORD>(s->memory.size());
}

DWORD VantorStreamLineNumber(uint32_t h) {
    Stream* s = resolve(h);
    return s ? s->lines : 0;
}

BOOL VantorStreamClose(uint32_t h) {
    Stream* s = resolve(h);
    if (!s) return FALSE;
    HandleClose(h);
    bool ok = !s->file || std::fclose(s->file) == 0;
    delete s;
    return ok ? TRUE : FALSE;
}

BOOL VantorStreamIsOpen(uint32_t h) { return resolve(h) ? TRUE : FALSE; }

BOOL VantorStreamWrite(uint32_t h, LPCSTR text) { return text ? VantorStreamWriteBytes(h, text, static_cast<DWORD>(std::strlen(text))) : FALSE; }

BOOL VantorStreamWriteBytes(uint32_t h, LPCSTR data, DWORD size) {
    Stream* s = resolve(h);
    if (!s || !s->writing || (size && !data)) return FALSE;
    for (DWORD i = 0; i < size; ++i) {
        const char c = data[i];
        if (!s->file) {
            try {
                if (c == '\n') s->memory.push_back('\r');
                s->memory.push_back(c);
            } catch (...) {
                return FALSE;
            }
            continue;
        }
        if (c == '\n' && std::fputc('\r', s->file) == EOF) return FALSE;
        if (std::fputc(c, s->file) == EOF) return FALSE;
    }
    return TRUE;
}

INT VantorStreamReadLine(uint32_t h, LPSTR buffer, INT size) {
    Stream* s = resolve(h);
    if (!s || s->writing || !buffer || size <= 0) return -1;
    if (!s->has_pending) {
        if (!(s->file ? read_raw_line(s->file, s->pending) : read_memory_line(s, s->pending))) return -1;
        s->has_pending = true;
    }
    size_t n = std::min<size_t>(s->pending.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, s->pending.data(), n);
    buffer[n] = 0;
    INT full = static_cast<INT>(s->pending.size());
    // A line that fits is consumed; one that does not stays for a second, larger read.
    if (s->pending.size() < static_cast<size_t>(size)) {
        s->has_pending = false;
        ++s->lines;
    }
    return full;
}

BOOL VantorStreamAtEnd(uint32_t h) {
    Stream* s = resolve(h);
    if (!s || s->writing) return TRUE;
    if (s->has_pending) return FALSE;
    if (!s->file) return s->offset >= s->memory.size() ? TRUE : FALSE;
    int c = std::fgetc(s->file);
    if (c == EOF) return TRUE;
    std::ungetc(c, s->file);
    return FALSE;
}

}  // extern "C"
