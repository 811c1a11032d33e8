// World-file streams: a FILE behind a handle, text lines with CR LF line ends on disk.
#include <vantor/stream.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Stream {
    FILE* file = nullptr;
    bool writing = false;
    bool has_pending = false;  // a line that did not fit the caller's buffer
    std::string pending;
};

Stream* resolve(uint32_t h) { return static_cast<Stream*>(HandleResolve(h, kHandleStream)); }

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

BOOL VantorStreamClose(uint32_t h) {
    Stream* s = resolve(h);
    if (!s) return FALSE;
    HandleClose(h);
    bool ok = std::fclose(s->file) == 0;
    delete s;
    return ok ? TRUE : FALSE;
}

BOOL VantorStreamIsOpen(uint32_t h) { return resolve(h) ? TRUE : FALSE; }

BOOL VantorStreamWrite(uint32_t h, LPCSTR text) {
    Stream* s = resolve(h);
    if (!s || !s->writing || !text) return FALSE;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n' && std::fputc('\r', s->file) == EOF) return FALSE;
        if (std::fputc(*p, s->file) == EOF) return FALSE;
    }
    return TRUE;
}

INT VantorStreamReadLine(uint32_t h, LPSTR buffer, INT size) {
    Stream* s = resolve(h);
    if (!s || s->writing || !buffer || size <= 0) return -1;
    if (!s->has_pending) {
        if (!read_raw_line(s->file, s->pending)) return -1;
        s->has_pending = true;
    }
    size_t n = std::min<size_t>(s->pending.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, s->pending.data(), n);
    buffer[n] = 0;
    INT full = static_cast<INT>(s->pending.size());
    // A line that fits is consumed; one that does not stays for a second, larger read.
    if (s->pending.size() < static_cast<size_t>(size)) s->has_pending = false;
    return full;
}

BOOL VantorStreamAtEnd(uint32_t h) {
    Stream* s = resolve(h);
    if (!s || s->writing) return TRUE;
    if (s->has_pending) return FALSE;
    int c = std::fgetc(s->file);
    if (c == EOF) return TRUE;
    std::ungetc(c, s->file);
    return FALSE;
}

}  // extern "C"
