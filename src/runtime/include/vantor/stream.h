// vantor/stream.h — the world-file text stream, an object behind a handle.
//
//   uint32_t f = VantorStreamOpen("world.txt", "w");      // 0 when the file cannot be opened
//   VantorStreamWrite(f, "// Colour\n");                   // line ends are written as CR LF
//   VantorStreamClose(f);
//
//   uint32_t f = VantorStreamOpen("world.txt", "r");
//   std::string line;
//   while (vantor::stream::read_line(f, line)) ...         // lines of any length; CR LF or LF
//
//   uint32_t m = VantorStreamOpenMemory(nullptr, 0, "w");  // the same, collected in memory
//   LPCSTR bytes; DWORD n = VantorStreamContents(m, &bytes);  // what the file would hold
//
// The stream's handle (type kHandleStream) is what world-file members receive as `f`; a value
// that is not a live stream handle resolves to nothing and the member refuses it.
#pragma once

#include <vantor/handles.h>

#include <string>

extern "C" {
// Opens `path` (UTF-8) for writing ("w": created or truncated) or reading ("r"). Never creates
// a file when reading. 0 on failure (errno tells why).
VANTOR_API uint32_t VantorStreamOpen(LPCSTR path, LPCSTR mode);
// A stream in memory: "r" reads a copy of the `size` bytes at `data`; "w" collects what is
// written (with the same CR LF line ends a file gets). 0 on failure.
VANTOR_API uint32_t VantorStreamOpenMemory(LPCSTR data, DWORD size, LPCSTR mode);
// The bytes a memory stream holds (for "w", written so far); 0 and null for other handles.
VANTOR_API DWORD VantorStreamContents(uint32_t stream, LPCSTR* data);
// How many lines have been read whole so far (the number of the last line read).
VANTOR_API DWORD VantorStreamLineNumber(uint32_t stream);
VANTOR_API BOOL VantorStreamClose(uint32_t stream);
VANTOR_API BOOL VantorStreamIsOpen(uint32_t stream);
// Writes text; each "\n" goes to the file as CR LF. FALSE when not a writable stream or on error.
VANTOR_API BOOL VantorStreamWrite(uint32_t stream, LPCSTR text);
// The same for `size` bytes, NULs included.
VANTOR_API BOOL VantorStreamWriteBytes(uint32_t stream, LPCSTR data, DWORD size);
// Reads the next line without its line end into buffer (truncated to size - 1 bytes); returns
// the full length of the line, or -1 at the end of the file or when not a readable stream.
VANTOR_API INT VantorStreamReadLine(uint32_t stream, LPSTR buffer, INT size);
// TRUE when a readable stream has no line left (or the handle is not one).
VANTOR_API BOOL VantorStreamAtEnd(uint32_t stream);
}

namespace vantor::stream {
// The next line, whole; false at the end of the file.
inline bool read_line(uint32_t stream, std::string& line) {
    char buf[512];
    INT n = VantorStreamReadLine(stream, buf, sizeof buf);
    if (n < 0) return false;
    if (n < static_cast<INT>(sizeof buf)) {
        line.assign(buf, static_cast<size_t>(n));
        return true;
    }
    line.assign(buf);  // the rest was kept by the stream: ask again with the exact size
    std::string rest(static_cast<size_t>(n) + 1, '\0');
    INT m = VantorStreamReadLine(stream, rest.data(), n + 1);
    if (m < 0) return true;
    line.assign(rest.data(), static_cast<size_t>(m));
    return true;
}
}  // namespace vantor::stream
